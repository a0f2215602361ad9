// Our plotting library: the operations the plot windows rely on, on Qt painting. A main window (a widget
// covering the plot window's client area) holds plot areas (sub-windows with ids); an area holds graph
// objects (CGglObj, owned by the caller), draws axes, grid, legend and the objects, converts pixel and
// data coordinates both ways and reports mouse gestures through registered callbacks. The comment
// before each operation names its ordinal in the maker's library that these calls replace.
//
// Every operation takes the library lock, so the script thread may change objects while the GUI thread
// draws; drawing itself (the widget's painting) happens on the GUI thread only.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "graphics/Gglscale.h"

class QWidget;
class CGglSeries;

using TGglHandle = std::intptr_t;  // a main window; 0 is none

// Result codes: 0 success; GGL_NOHIT is the hit test's "nothing there"; the rest are refusals that
// leave everything as it was.
enum : int {
  GGL_OK = 0,
  GGL_NOHIT = 1,
  GGL_EHANDLE = -1,  // no such main window
  GGL_EID = -2,      // no such plot area in that main window
  GGL_EOBJECT = -3,  // no object, or the object is not (or already) placed there
  GGL_EARG = -4,     // a range that is empty or not finite, a style or marker outside the tables, ...
  GGL_ESTATE = -5,   // the call needs a drawing in progress (the polyline of a draw callback)
};

// Object changes (the "what" of GglObjectChanged).
inline constexpr int GGL_CHANGED_DATA = 3;
// Axis title (the "what" of GglSetObjectAxisTitle).
inline constexpr int GGL_AXIS_TITLE = 14;
// Main-window colours are 0x00BBGGRR.
using TGglColour = std::uint32_t;

// An axis's settings passed when a plot area is created.
struct TGglAxisBlock {
  std::string title;
  int showGrid = 1;
  int gridStyle = 1;
  TGglColour gridColour = 0xC0C0C0;
};

// An object's attributes (read with 78, written with 120).
struct TGglObjAttr {
  TGglColour colour = 0;
  int lineStyle = 0;
  int lineWidth = 1;
  int marker = 0;
};

// Mouse event codes passed to GglSetMouseCallback.
enum : int {
  GGL_CLICKLEFT = 0,
  GGL_CLICKRIGHT = 1,
  GGL_DBLCLICKLEFT = 2,
  GGL_DBLCLICKRIGHT = 3,
  GGL_DRAGLEFT = 4,
  GGL_DRAGRIGHT = 5,
  GGL_DRAGENDLEFT = 6,
  GGL_DRAGENDRIGHT = 7,
  GGL_SHIFTCLICKLEFT = 8,
  GGL_SHIFTCLICKRIGHT = 9,
  GGL_CTRLCLICKLEFT = 10,
  GGL_CTRLCLICKRIGHT = 11,
  GGL_SHIFTDRAGENDLEFT = 12,
  GGL_SHIFTDRAGENDRIGHT = 13,
  GGL_CTRLDRAGENDLEFT = 14,
  GGL_CTRLDRAGENDRIGHT = 15,
  GGL_SHIFTDRAGRIGHT = 16,
  GGL_CTRLDRAGRIGHT = 17,
  GGL_CTRLDRAGLEFT = 18,
  GGL_SHIFTDRAGLEFT = 19,
  GGL_MOUSEMOVE = 20,
  GGL_CLICKLEFTDOWN = 21,
  GGL_CLICKRIGHTDOWN = 22,
  GGL_MOUSEEVENTS = 23
};
// (main, area id, x, y, x2, y2): positions in the area's pixels; drags give start (x, y) and current (x2, y2),
// the other events the position twice.
using TGglMouseCallback = std::function<void(TGglHandle, int, int, int, int, int)>;

// A graph object. The virtual functions are the object callbacks the library calls with the main window
// and the area: 0 draw, 1 and 2 (no use made of them), 3 the pixel distance of a point to the curve.
class CGglObj {
 public:
  CGglObj() = default;
  CGglObj(const CGglObj&) = delete;
  CGglObj& operator=(const CGglObj&) = delete;
  virtual ~CGglObj();  // an object still placed leaves its area first

  virtual void Draw(TGglHandle, int) {}
  virtual void Callback1(TGglHandle, int) {}
  virtual void Callback2(TGglHandle, int) {}
  // false when the curve has no value there; the base class answers 42.0.
  virtual bool Distance(TGglHandle, int, double, double, double* distance) {
    *distance = 42.0;
    return true;
  }

  // Where the object is placed (0, 0 when it is not).
  TGglHandle PlacedMain() const { return m_main; }
  int PlacedId() const { return m_id; }

 private:
  friend struct TGglAccess;
  TGglHandle m_main = 0;
  int m_id = 0;
};

// The library lock: hold it while changing data that a draw callback reads.
std::unique_lock<std::recursive_mutex> GglLock();

// 14: a main window as a child of parent (or a top-level widget when parent is null) at (x, y, w, h);
// background and frame colours; the remaining numbers are options without effect here. 0 on failure.
TGglHandle GglCreateMainWnd(int style, QWidget* parent, int option, int border, TGglColour background, TGglColour frame,
                            int x, int y, int w, int h, int option2, const std::string& text);
// Destroys a main window with its areas (the objects stay with their owners, unplaced).
int GglDestroyMainWnd(TGglHandle main);
// The main window's widget (to move and resize it), or null.
QWidget* GglMainWidget(TGglHandle main);
// Paints the whole main window into image (sized like the window) on the calling thread.
int GglRenderToImage(TGglHandle main, QImage& image);

int GglSetMouseCallback(TGglHandle main, int event, TGglMouseCallback callback);  // 17
int GglRedraw(TGglHandle main);                                                   // 19
int GglSetOption(TGglHandle main, int option, int value);                         // 16
int GglShowGrid(TGglHandle main, int axis, int show);                             // 109
int GglSetGridStyle(TGglHandle main, int axis, int style);                        // 111
int GglSetGridColour(TGglHandle main, int axis, TGglColour colour);               // 114

// 23: a plot area with initial ranges; its id in *id.
int GglCreateSubWnd(TGglHandle main, int style, TGglRange x, TGglRange y, const TGglAxisBlock& xAxis,
                    const TGglAxisBlock& yAxis, int* id);
int GglSetSubWndOption(TGglHandle main, int id, int option);  // 91
int GglDestroySubWnd(TGglHandle main, int id);                // 24
int GglRedrawSubWnd(TGglHandle main, int id);                 // 92
int GglEnableDrawing(TGglHandle main, int id, int on);        // 107: 0 stops, 1 resumes
// Visible and full ranges (26, 27, 29) and back to the full range (93). The full range is the union of the
// scales of the area's objects (the creation ranges without objects); a visible range outside it is
// allowed (zoomed out). Ranges are in the area's reference scale, which is the full range.
int GglSetVisibleRanges(TGglHandle main, int id, int set, TGglRange x, TGglRange y);
int GglGetVisibleRanges(TGglHandle main, int id, int set, TGglRange* x, TGglRange* y);
int GglGetFullRanges(TGglHandle main, int id, int set, TGglRange* x, TGglRange* y);
int GglShowFullRange(TGglHandle main, int id, int set);
// 36 and 37: pixel (area pixels, outside the plot too) to data and back; with an object, in the object's
// own scale, else in the reference scale.
int GglPixelToData(TGglHandle main, int id, const CGglObj* obj, double px, double py, TGglPoint* out);
int GglDataToPixel(TGglHandle main, int id, const CGglObj* obj, double x, double y, TGglPoint* out);
// 42: draws the zoom rectangle; the same rectangle again erases it.
int GglDrawZoomRect(TGglHandle main, int id, int left, int top, int right, int bottom);
int GglEndZoom(TGglHandle main, int id, int value);  // 95
// 106: the object whose curve passes within a few pixels of the position; GGL_NOHIT when none.
int GglObjectAt(TGglHandle main, int id, int px, int py, CGglObj** out);
int GglHighlightObject(TGglHandle main, int id, CGglObj* obj);  // 89
CGglObj* GglCurrentObject(TGglHandle main, int id);             // 90: the highlighted, else the first object

// 5: places obj with its colour, line style, line width and marker and its scale (x, y ranges). The
// callback table, option and layer numbers are taken for the call's shape only: an object's callbacks
// are its virtual functions, so there is no table to create (70) or fill (62, 75, 63, 64).
int GglPlaceObject(TGglHandle main, int id, CGglObj* obj, int callbackTable, int option, int layer, TGglColour colour,
                   int lineStyle, int lineWidth, int marker, TGglRange x, TGglRange y, const TGglAxisBlock& xTitle,
                   const TGglAxisBlock& yTitle);
int GglRemoveObject(TGglHandle main, int id, CGglObj* obj);                                                     // 6
int GglObjectChanged(TGglHandle main, int id, CGglObj* obj, int what, int from);                                // 13
int GglSetObjectScale(TGglHandle main, int id, CGglObj* obj, TGglRange x, TGglRange y);                         // 28
int GglSetObjectTitle(TGglHandle main, int id, CGglObj* obj, const std::string& text);                          // 105
int GglSetObjectAxisTitle(TGglHandle main, int id, CGglObj* obj, int axis, int what, const std::string& text);  // 30
int GglGetObjectAttr(TGglHandle main, int id, const CGglObj* obj, TGglObjAttr* out);                            // 78
int GglSetObjectAttr(TGglHandle main, int id, CGglObj* obj, const TGglObjAttr& attr);                           // 120
// 56: inside an object's draw callback, draws its curve (count points; the series variant also uses the
// series' block summary). Elsewhere GGL_ESTATE.
int GglDrawPolyline(TGglHandle main, int id, const double* x, const double* y, long count);
int GglDrawSeries(TGglHandle main, int id, const CGglSeries& series);

// Reads an object's title and axis titles as the library holds them (for tests and the legend's users).
int GglGetObjectTitles(TGglHandle main, int id, const CGglObj* obj, std::string* title, std::string* xTitle,
                       std::string* yTitle);
// The plot rectangle of an area in its own pixels (the axes and the legend lie around it).
int GglGetPlotRect(TGglHandle main, int id, double* left, double* top, double* right, double* bottom);
// Whether an area's drawing is stopped, and whether a zoom rectangle is shown.
int GglGetAreaState(TGglHandle main, int id, bool* drawing, bool* zoomRectShown);

// The plot areas as the plot window sees them: CGglMainWnd (the library main window with its list of
// areas), CGglSubWnd (an area that receives the mouse events the library reports for it, routed through
// a process-wide map from main handle and area id) and CZentDrawSubWnd, whose handlers turn gestures into
// zooming and panning: zoom box, dragging on the axis bands, full range on double-click, click to select
// a curve; zooming is coupled across all areas of the main window.
#pragma once

#include <QRect>
#include <vector>

#include "graphics/Gglscale.h"
#include "graphics/Zentlggl.h"

class QWidget;
class CGglSubWnd;
class CZentGraphObj;

// The colours (0x00BBGGRR) and line styles signals get in turn.
inline constexpr TGglColour GGL_COLOURS[7] = {0x0000FF, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0x00FF00, 0x000000};
inline constexpr int GGL_LINESTYLES[5] = {0, 1, 2, 3, 4};

// The mouse events with the names of their handlers.
// clang-format off
#define GGL_MOUSE_HANDLERS(X) \
  X(GGL_MOUSEMOVE, CBMouseMove) \
  X(GGL_CLICKLEFTDOWN, CBClickLeftDown) \
  X(GGL_CLICKRIGHTDOWN, CBClickRightDown) \
  X(GGL_CLICKLEFT, CBClickLeft) \
  X(GGL_CLICKRIGHT, CBClickRight) \
  X(GGL_DBLCLICKLEFT, CBDblClickLeft) \
  X(GGL_DBLCLICKRIGHT, CBDblClickRight) \
  X(GGL_SHIFTCLICKLEFT, CBShiftClickLeft) \
  X(GGL_SHIFTCLICKRIGHT, CBShiftClickRight) \
  X(GGL_CTRLCLICKLEFT, CBCtrlClickLeft) \
  X(GGL_CTRLCLICKRIGHT, CBCtrlClickRight) \
  X(GGL_DRAGLEFT, CBDragLeft) \
  X(GGL_DRAGRIGHT, CBDragRight) \
  X(GGL_SHIFTDRAGLEFT, CBShiftDragLeft) \
  X(GGL_SHIFTDRAGRIGHT, CBShiftDragRight) \
  X(GGL_CTRLDRAGLEFT, CBCtrlDragLeft) \
  X(GGL_CTRLDRAGRIGHT, CBCtrlDragRight) \
  X(GGL_DRAGENDLEFT, CBDragEndLeft) \
  X(GGL_DRAGENDRIGHT, CBDragEndRight) \
  X(GGL_SHIFTDRAGENDLEFT, CBShiftDragEndLeft) \
  X(GGL_SHIFTDRAGENDRIGHT, CBShiftDragEndRight) \
  X(GGL_CTRLDRAGENDLEFT, CBCtrlDragEndLeft) \
  X(GGL_CTRLDRAGENDRIGHT, CBCtrlDragEndRight)
// clang-format on

// The mouse callbacks registered with the library: each finds the area and calls its handler.
#define GGL_DECLARE_CALLBACK(code, name) void name(TGglHandle main, int id, int x, int y, int x2, int y2);
GGL_MOUSE_HANDLERS(GGL_DECLARE_CALLBACK)
#undef GGL_DECLARE_CALLBACK

// The library main window of a plot window and its areas in order (the areas belong to the plot window).
class CGglMainWnd {
 public:
  CGglMainWnd() = default;
  CGglMainWnd(const CGglMainWnd&) = delete;
  CGglMainWnd& operator=(const CGglMainWnd&) = delete;
  ~CGglMainWnd();

  // Creates the library window over parent's client area with the plot windows' fixed look, registers
  // the mouse callbacks and applies showGrid to both axes; false when the library refused.
  bool Create(QWidget* parent, int width, int height, int showGrid);
  void SetShowGrid(int showGrid);
  TGglHandle handle = 0;
  std::vector<CGglSubWnd*> areas;
};

// A plot area: created in the library, entered in the handle map, listed in its main window. Areas go
// before their main window does (they leave its list when destroyed).
class CGglSubWnd {
 public:
  CGglSubWnd(CGglMainWnd& mainWnd, int index) : m_mainWnd(mainWnd), m_index(index) {}
  CGglSubWnd(const CGglSubWnd&) = delete;
  CGglSubWnd& operator=(const CGglSubWnd&) = delete;
  virtual ~CGglSubWnd();

  // The area with ranges 0..100 and axis blocks of empty titles; false (and no area) when refused.
  bool Create();
  TGglHandle Main() const { return m_mainWnd.handle; }
  int Id() const { return m_id; }
  int Index() const { return m_index; }
  // The area of a main window's area id, or null.
  static CGglSubWnd* Find(TGglHandle main, int id);

#define GGL_DECLARE_HANDLER(code, name) \
  virtual void name(int, int, int, int) {}
  GGL_MOUSE_HANDLERS(GGL_DECLARE_HANDLER)
#undef GGL_DECLARE_HANDLER

 protected:
  CGglMainWnd& m_mainWnd;

 private:
  int m_index;
  int m_id = 0;
};

// A plot area with the plot windows' gestures.
class CZentDrawSubWnd : public CGglSubWnd {
 public:
  using CGglSubWnd::CGglSubWnd;
  enum { DRAG_NONE = 0, DRAG_XAXIS = 1, DRAG_YAXIS = 2, ZOOM_PRESSED = 3, ZOOM_DRAGGING = 4 };
  int DragState() const { return m_dragState; }
  // Places signal number i (0-based in the window's order): colour i mod 7, line style (i div 7) mod 5
  // unless the object overrides them, its view ranges and units, then its title. The library's code.
  int PlaceSignal(CZentGraphObj& obj, int i);

  void CBClickLeftDown(int x, int y, int, int) override;
  void CBClickLeft(int, int, int, int) override { m_dragState = DRAG_NONE; }
  void CBDblClickLeft(int, int, int, int) override;
  void CBDragLeft(int x, int y, int x2, int y2) override;
  void CBDragEndLeft(int x, int y, int x2, int y2) override;

 private:
  TGglRange AxisRange(int x, int y, int x2, int y2) const;
  QPoint ClampToPlot(QPoint q) const;
  void ApplyToAll(TGglRange x, TGglRange y, bool keepX, bool keepY);

  int m_dragState = DRAG_NONE;
  TGglRange m_downX, m_downY;  // visible ranges at button-down
  QRect m_zoom;                // the zoom rectangle drawn, in pixels
};

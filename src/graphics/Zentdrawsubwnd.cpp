// CGglMainWnd, CGglSubWnd, CZentDrawSubWnd and the mouse callbacks (see Zentdrawsubwnd.h).
#include "graphics/Zentdrawsubwnd.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <utility>

#include "graphics/Zentgraphobj.h"

namespace {

// The plot windows' fixed look.
constexpr TGglColour kBackground = 0xE6E6E6;
constexpr TGglColour kFrame = 0xC8C8C8;
constexpr int kGridStyle = 1;
constexpr TGglColour kGridColour = 0xC0C0C0;

std::mutex g_mapLock;
std::map<std::pair<TGglHandle, int>, CGglSubWnd*> g_areas;

}  // namespace

#define GGL_DEFINE_CALLBACK(code, name)                                          \
  void name(TGglHandle main, int id, int x, int y, int x2, int y2) {             \
    if (CGglSubWnd* area = CGglSubWnd::Find(main, id)) area->name(x, y, x2, y2); \
  }
GGL_MOUSE_HANDLERS(GGL_DEFINE_CALLBACK)
#undef GGL_DEFINE_CALLBACK

// ---- main window

CGglMainWnd::~CGglMainWnd() {
  if (handle) GglDestroyMainWnd(handle);
}

bool CGglMainWnd::Create(QWidget* parent, int width, int height, int showGrid) {
  handle = GglCreateMainWnd(0, parent, 200, 1, kBackground, kFrame, 0, 0, width, height, 42, "");
  if (!handle) return false;
#define GGL_REGISTER(code, name) GglSetMouseCallback(handle, code, name);
  GGL_MOUSE_HANDLERS(GGL_REGISTER)
#undef GGL_REGISTER
  GglRedraw(handle);
  GglSetOption(handle, 11, 1);
  SetShowGrid(showGrid);
  for (int axis = 0; axis < 2; ++axis) {
    GglSetGridStyle(handle, axis, kGridStyle);
    GglSetGridColour(handle, axis, kGridColour);
  }
  return true;
}

void CGglMainWnd::SetShowGrid(int showGrid) {
  for (int axis = 0; axis < 2; ++axis) GglShowGrid(handle, axis, showGrid);
}

// ---- plot area

CGglSubWnd::~CGglSubWnd() {
  if (!m_id) return;
  {
    std::lock_guard<std::mutex> lock(g_mapLock);
    g_areas.erase({Main(), m_id});
  }
  std::erase(m_mainWnd.areas, this);
  GglDestroySubWnd(Main(), m_id);
}

bool CGglSubWnd::Create() {
  int id = 0;
  const TGglAxisBlock axis{"", 1, kGridStyle, kGridColour};
  if (GglCreateSubWnd(Main(), 0, {0.0, 100.0}, {0.0, 100.0}, axis, axis, &id) != GGL_OK) return false;
  m_id = id;
  {
    std::lock_guard<std::mutex> lock(g_mapLock);
    g_areas[{Main(), id}] = this;
  }
  m_mainWnd.areas.push_back(this);
  GglSetSubWndOption(Main(), id, 2);
  return true;
}

CGglSubWnd* CGglSubWnd::Find(TGglHandle main, int id) {
  std::lock_guard<std::mutex> lock(g_mapLock);
  auto it = g_areas.find({main, id});
  return it == g_areas.end() ? nullptr : it->second;
}

int CZentDrawSubWnd::PlaceSignal(CZentGraphObj& obj, int i) {
  auto lock = GglLock();
  obj.colour = GGL_COLOURS[i % 7];
  const int style = obj.lineStyle != -1 ? obj.lineStyle : GGL_LINESTYLES[(i / 7) % 5];
  const int marker = obj.marker != -1 ? obj.marker : 0;
  const int rc = GglPlaceObject(Main(), Id(), &obj, 0, 0, -1, obj.colour, style, 1, marker, obj.extent.viewX,
                                obj.extent.viewY, {obj.GetXUnit()}, {obj.GetYUnit()});
  if (rc == GGL_OK) GglSetObjectTitle(Main(), Id(), &obj, obj.GetTitle());
  return rc;
}

// ---- gestures

void CZentDrawSubWnd::CBClickLeftDown(int x, int y, int, int) {
  CGglObj* hit = nullptr;
  if (GglObjectAt(Main(), Id(), x, y, &hit) == GGL_OK) {
    GglHighlightObject(Main(), Id(), hit);
    GglRedrawSubWnd(Main(), Id());
    return;
  }
  TGglPoint p;
  TGglRange vx, vy;
  if (GglPixelToData(Main(), Id(), nullptr, x, y, &p) != GGL_OK) return;
  GglGetVisibleRanges(Main(), Id(), 0, &vx, &vy);
  const bool inX = p.x >= vx.min && p.x <= vx.max, inY = p.y >= vy.min && p.y <= vy.max;
  if (inX && p.y < vy.min) {
    m_downX = vx;
    m_dragState = DRAG_XAXIS;
  } else if (inY && p.x < vx.min) {
    m_downY = vy;
    m_dragState = DRAG_YAXIS;
  } else if (inX && inY) {
    m_dragState = ZOOM_PRESSED;
  }
}

// The axis range during and at the end of an axis drag from (x, y) to (x2, y2).
TGglRange CZentDrawSubWnd::AxisRange(int x, int y, int x2, int y2) const {
  TGglPoint a, b;
  TGglRange fx, fy;
  GglPixelToData(Main(), Id(), nullptr, x, y, &a);
  GglPixelToData(Main(), Id(), nullptr, x2, y2, &b);
  GglGetFullRanges(Main(), Id(), 0, &fx, &fy);
  if (m_dragState == DRAG_XAXIS) return GglAxisDragRange(m_downX, fx, a.x - b.x);
  return GglAxisDragRange(m_downY, fy, a.y - b.y);
}

QPoint CZentDrawSubWnd::ClampToPlot(QPoint q) const {
  TGglRange vx, vy;
  TGglPoint tl, br;
  GglGetVisibleRanges(Main(), Id(), 0, &vx, &vy);
  GglDataToPixel(Main(), Id(), nullptr, vx.min, vy.max, &tl);
  GglDataToPixel(Main(), Id(), nullptr, vx.max, vy.min, &br);
  return QPoint(std::clamp(q.x(), int(std::ceil(tl.x)), int(std::floor(br.x))),
                std::clamp(q.y(), int(std::ceil(tl.y)), int(std::floor(br.y))));
}

void CZentDrawSubWnd::CBDragLeft(int x, int y, int x2, int y2) {
  switch (m_dragState) {
    case DRAG_XAXIS:
    case DRAG_YAXIS: {
      TGglRange vx, vy;
      GglGetVisibleRanges(Main(), Id(), 0, &vx, &vy);
      (m_dragState == DRAG_XAXIS ? vx : vy) = AxisRange(x, y, x2, y2);
      GglEnableDrawing(Main(), Id(), 0);
      GglSetVisibleRanges(Main(), Id(), 0, vx, vy);
      GglRedrawSubWnd(Main(), Id());
      GglEnableDrawing(Main(), Id(), 1);
      break;
    }
    case ZOOM_PRESSED:
      m_dragState = ZOOM_DRAGGING;
      m_zoom = QRect(QPoint(x, y), ClampToPlot({x2, y2}));
      GglDrawZoomRect(Main(), Id(), m_zoom.left(), m_zoom.top(), m_zoom.right(), m_zoom.bottom());
      break;
    case ZOOM_DRAGGING:
      GglDrawZoomRect(Main(), Id(), m_zoom.left(), m_zoom.top(), m_zoom.right(), m_zoom.bottom());
      m_zoom = QRect(QPoint(x, y), ClampToPlot({x2, y2}));
      GglDrawZoomRect(Main(), Id(), m_zoom.left(), m_zoom.top(), m_zoom.right(), m_zoom.bottom());
      break;
    default:
      break;
  }
}

// Sets the visible ranges of every area (keeping each area's own x or y where asked), then redraws.
void CZentDrawSubWnd::ApplyToAll(TGglRange x, TGglRange y, bool keepX, bool keepY) {
  for (CGglSubWnd* area : m_mainWnd.areas) {
    TGglRange vx, vy;
    GglGetVisibleRanges(Main(), area->Id(), 0, &vx, &vy);
    GglEnableDrawing(Main(), area->Id(), 0);
    GglSetVisibleRanges(Main(), area->Id(), 0, keepX ? vx : x, keepY ? vy : y);
    GglEnableDrawing(Main(), area->Id(), 1);
  }
  GglRedraw(Main());
}

void CZentDrawSubWnd::CBDragEndLeft(int x, int y, int x2, int y2) {
  const int state = std::exchange(m_dragState, DRAG_NONE);
  if (state == DRAG_XAXIS || state == DRAG_YAXIS) {
    m_dragState = state;  // AxisRange reads which axis
    const TGglRange r = AxisRange(x, y, x2, y2);
    m_dragState = DRAG_NONE;
    ApplyToAll(r, r, state != DRAG_XAXIS, state != DRAG_YAXIS);
    return;
  }
  if (state != ZOOM_DRAGGING) return;
  GglDrawZoomRect(Main(), Id(), m_zoom.left(), m_zoom.top(), m_zoom.right(), m_zoom.bottom());
  GglEndZoom(Main(), Id(), 0);
  const QPoint end = ClampToPlot({x2, y2});
  TGglPoint a, b;
  if (GglPixelToData(Main(), Id(), nullptr, x, y, &a) != GGL_OK) return;
  if (GglPixelToData(Main(), Id(), nullptr, end.x(), end.y(), &b) != GGL_OK) return;
  if (x == end.x() || y == end.y()) return;  // no extent: no zoom
  if (const auto ranges = GglZoomRanges(a, b)) ApplyToAll(ranges->first, ranges->second, false, false);
}

void CZentDrawSubWnd::CBDblClickLeft(int, int, int, int) {
  for (CGglSubWnd* area : m_mainWnd.areas) GglShowFullRange(Main(), area->Id(), 0);
  GglRedraw(Main());
}

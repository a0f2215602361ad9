// Our plotting library (see Zentlggl.h): the main windows and their areas, the operations, the painting
// of an area and the widget that turns mouse input into the library's mouse events.
#include "graphics/Zentlggl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "graphics/Gglrender.h"
#include "graphics/Gglseries.h"

// Sets an object's placement; the one place outside CGglObj that may.
struct TGglAccess {
  static void Set(CGglObj* o, TGglHandle main, int id) {
    o->m_main = main;
    o->m_id = id;
  }
};

namespace {

// Around the plot: the legend above, the y axis left, the x axis below.
constexpr int kLegendHeight = 22;
constexpr int kLeftBand = 76;
constexpr int kBottomBand = 42;
constexpr int kRightMargin = 16;
constexpr double kHitPixels = 5.0;  // a click this close to a curve selects it
constexpr int kDragStartPixels = 3;

QColor Colour(TGglColour c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

bool Finite(TGglRange r) { return std::isfinite(r.min) && std::isfinite(r.max); }

// A scale range as the library uses it: ordered and never empty (a single value gets a small span).
bool Normal(TGglRange& r) {
  if (!Finite(r)) return false;
  if (r.min > r.max) std::swap(r.min, r.max);
  if (r.min == r.max) {
    const double d = r.min == 0 ? 0.5 : std::fabs(r.min) * 0.05;
    r = {r.min - d, r.max + d};
  }
  return r.Span() > 0 && std::isfinite(r.Span());
}

struct TEntry {
  CGglObj* obj;
  TGglObjAttr attr;
  TGglRange sx, sy;
  std::string title, xTitle, yTitle;
};

struct TArea {
  int id = 0;
  TGglRange initX, initY;
  TGglRange vx, vy;
  bool zoomed = false;  // else the visible ranges follow the full ranges
  std::vector<TEntry> objs;
  CGglObj* highlighted = nullptr;
  bool drawing = true;
  bool dirty = true;
  bool zoomShown = false;
  QRect zoomRect;
  QImage cache;
  TGglAxisBlock axis[2];

  TEntry* Find(const CGglObj* o) {
    for (TEntry& e : objs)
      if (e.obj == o) return &e;
    return nullptr;
  }
  TGglRange FullX() const { return Full(0); }
  TGglRange FullY() const { return Full(1); }
  TGglRange Full(int axisNo) const {
    if (objs.empty()) return axisNo == 0 ? initX : initY;
    TGglRange r = axisNo == 0 ? objs[0].sx : objs[0].sy;
    for (const TEntry& e : objs) {
      const TGglRange s = axisNo == 0 ? e.sx : e.sy;
      r = {std::min(r.min, s.min), std::max(r.max, s.max)};
    }
    return r;
  }
  TGglRange VisX() const { return zoomed ? vx : FullX(); }
  TGglRange VisY() const { return zoomed ? vy : FullY(); }
  TEntry* Current() {
    if (TEntry* e = Find(highlighted)) return e;
    return objs.empty() ? nullptr : &objs.front();
  }
};

// The main window's widget: paints the areas and reports mouse gestures per area.
class TGglWidget : public QWidget {
 public:
  TGglWidget(QWidget* parent, TGglHandle h) : QWidget(parent), m_handle(h) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  ~TGglWidget() override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  void Report(int event, QPoint a, QPoint b);
  int EventFor(int left, int right) const { return m_button == Qt::LeftButton ? left : right; }

  TGglHandle m_handle;
  int m_area = 0;   // the area the button went down in
  QPoint m_origin;  // that area's top left
  QPoint m_start;
  Qt::MouseButton m_button = Qt::NoButton;
  Qt::KeyboardModifiers m_mods;
  bool m_dragging = false;
  bool m_double = false;
};

struct TMain {
  TGglHandle handle = 0;
  QPointer<TGglWidget> widget;
  TGglColour background = 0xE6E6E6, frame = 0xC8C8C8;
  std::map<int, TGglMouseCallback> callbacks;
  std::vector<std::unique_ptr<TArea>> areas;
  int nextId = 1;
  int grid[2] = {1, 1};
  int gridStyle[2] = {1, 1};
  TGglColour gridColour[2] = {0xC0C0C0, 0xC0C0C0};

  TArea* Area(int id) {
    for (auto& a : areas)
      if (a->id == id) return a.get();
    return nullptr;
  }
};

std::recursive_mutex g_lock;
std::map<TGglHandle, std::unique_ptr<TMain>> g_mains;
TGglHandle g_nextHandle = 1;

// The drawing in progress: which object of which area, and how its data maps to pixels.
struct TDrawing {
  TGglHandle main = 0;
  int id = 0;
  QPainter* painter = nullptr;
  QRectF plot;
  TGglTransform t;
  TGglCurveStyle style;
} g_drawing;

TMain* Main(TGglHandle h) {
  auto it = g_mains.find(h);
  return it == g_mains.end() ? nullptr : it->second.get();
}

// Finds main window and area or says which is missing.
int Lookup(TGglHandle h, int id, TMain** m, TArea** a) {
  *m = Main(h);
  if (!*m) return GGL_EHANDLE;
  *a = (*m)->Area(id);
  return *a ? GGL_OK : GGL_EID;
}

QSize MainSize(const TMain& m) { return m.widget ? m.widget->size() : QSize(); }

// An area's rectangle in the main window: the areas share the height, one below the other.
QRect AreaRect(const TMain& m, const TArea& a) {
  const QSize s = MainSize(m);
  const int n = int(m.areas.size());
  int k = 0;
  while (k < n && m.areas[k].get() != &a) ++k;
  const int top = n ? s.height() * k / n : 0, bottom = n ? s.height() * (k + 1) / n : s.height();
  return QRect(0, top, s.width(), bottom - top);
}

QRectF PlotRect(QSize area) {
  const double w = std::max(8, area.width() - kLeftBand - kRightMargin);
  const double h = std::max(8, area.height() - kLegendHeight - kBottomBand);
  return QRectF(kLeftBand, kLegendHeight, w, h);
}

// Object scale to reference scale (the area's full range) on one axis.
double ObjToRef(double v, TGglRange s, TGglRange f) { return f.min + (v - s.min) * f.Span() / s.Span(); }
double RefToObj(double r, TGglRange s, TGglRange f) { return s.min + (r - f.min) * s.Span() / f.Span(); }

// The transform from an object's scale (or the reference scale, e == null) to the area's pixels.
TGglTransform Transform(const TArea& a, const TEntry* e, QSize areaSize) {
  const QRectF plot = PlotRect(areaSize);
  const TGglRange fx = a.FullX(), fy = a.FullY(), vx = a.VisX(), vy = a.VisY();
  const TGglRange sx = e ? e->sx : fx, sy = e ? e->sy : fy;
  const double kx = fx.Span() / sx.Span(), ky = fy.Span() / sy.Span();
  const double px = plot.width() / vx.Span(), py = plot.height() / vy.Span();
  TGglTransform t;
  t.bx = kx * px;
  t.ax = plot.left() + (fx.min - sx.min * kx - vx.min) * px;
  t.by = -ky * py;
  t.ay = plot.bottom() - (fy.min - sy.min * ky - vy.min) * py;
  return t;
}

QSize AreaSize(const TMain& m, const TArea& a) { return AreaRect(m, a).size(); }

// Asks the widget to paint; from another thread through its event loop.
void Schedule(TMain& m) {
  QWidget* w = m.widget;
  if (!w) return;
  if (QThread::currentThread() == w->thread()) {
    w->update();
    return;
  }
  QMetaObject::invokeMethod(
      w,
      [p = QPointer<QWidget>(w)] {
        if (p) p->update();
      },
      Qt::QueuedConnection);
}

}  // namespace

namespace {

void SetGridPen(QPainter& p, const TMain& m, int axisNo) {
  QPen pen(Colour(m.gridColour[axisNo]), 1);
  pen.setStyle(m.gridStyle[axisNo] == 1 ? Qt::DashLine : m.gridStyle[axisNo] == 2 ? Qt::DotLine : Qt::SolidLine);
  p.setPen(pen);
}

// Grid, ticks, labels and unit of the x axis (axisNo 0) or the y axis (1), in the current object's scale.
void PaintAxis(QPainter& p, const TMain& m, const TArea& a, const TEntry* cur, const QRectF& plot, int axisNo) {
  const bool isX = axisNo == 0;
  const TGglRange full = a.Full(axisNo), vis = isX ? a.VisX() : a.VisY();
  const TGglRange s = cur ? (isX ? cur->sx : cur->sy) : full;
  const TGglRange shown{RefToObj(vis.min, s, full), RefToObj(vis.max, s, full)};
  const double length = isX ? plot.width() : plot.height();
  double step = 0;
  const std::vector<double> ticks = GglTicks(shown, std::max(2, int(length / (isX ? 70 : 32))), &step);
  const QFontMetrics fm = p.fontMetrics();
  for (double v : ticks) {
    const double r = ObjToRef(v, s, full);
    const double pos = isX ? plot.left() + (r - vis.min) / vis.Span() * plot.width()
                           : plot.bottom() - (r - vis.min) / vis.Span() * plot.height();
    if (m.grid[axisNo]) {
      SetGridPen(p, m, axisNo);
      if (isX)
        p.drawLine(QPointF(pos, plot.top()), QPointF(pos, plot.bottom()));
      else
        p.drawLine(QPointF(plot.left(), pos), QPointF(plot.right(), pos));
    }
    p.setPen(Qt::black);
    const QString label = QString::fromStdString(GglTickLabel(v, step));
    if (isX) {
      p.drawLine(QPointF(pos, plot.bottom()), QPointF(pos, plot.bottom() + 4));
      const int w = fm.horizontalAdvance(label);  // the last label may not leave the area
      const double left = std::min(pos - w / 2.0, plot.right() + kRightMargin - 2.0 - w);
      p.drawText(QPointF(left, plot.bottom() + 6 + fm.ascent()), label);
    } else {
      p.drawLine(QPointF(plot.left() - 4, pos), QPointF(plot.left(), pos));
      const int w = fm.horizontalAdvance(label);
      p.drawText(QPointF(plot.left() - 6 - w, pos + fm.ascent() / 2.0 - 1), label);
    }
  }
  const QString unit = QString::fromStdString(cur ? (isX ? cur->xTitle : cur->yTitle) : a.axis[axisNo].title);
  if (unit.isEmpty()) return;
  p.setPen(Qt::black);
  if (isX) {
    p.drawText(QRectF(plot.left(), plot.bottom() + 8 + fm.height(), plot.width(), fm.height()), Qt::AlignHCenter, unit);
  } else {
    p.save();
    p.translate(4 + fm.ascent(), plot.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-plot.height() / 2, -fm.ascent(), plot.height(), fm.height()), Qt::AlignHCenter, unit);
    p.restore();
  }
}

// The titles of the area's objects with a sample of their line, the selected one in bold.
void PaintLegend(QPainter& p, TArea& a, const QRectF& plot) {
  double x = plot.left();
  for (const TEntry& e : a.objs) {
    if (e.title.empty()) continue;
    QFont f = p.font();
    f.setBold(e.obj == a.Current()->obj);
    p.setFont(f);
    const QString text = QString::fromStdString(e.title);
    const double y = kLegendHeight / 2.0;
    p.setPen(QPen(Colour(e.attr.colour), e.obj == a.Current()->obj ? 2 : 1, GglPenStyle(e.attr.lineStyle)));
    p.drawLine(QPointF(x, y), QPointF(x + 18, y));
    p.setPen(Qt::black);
    p.drawText(QPointF(x + 22, y + p.fontMetrics().ascent() / 2.0 - 1), text);
    x += 22 + p.fontMetrics().horizontalAdvance(text) + 16;
  }
  QFont f = p.font();
  f.setBold(false);
  p.setFont(f);
}

// One area into its cache: background, plot, grid and axes, then every object through its draw callback
// (the selected one last and wider), then the legend.
void PaintArea(TMain& m, TArea& a, QSize size) {
  if (a.cache.size() != size) a.cache = QImage(size, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&a.cache);
  p.fillRect(QRect(QPoint(0, 0), size), Colour(m.background));
  const QRectF plot = PlotRect(size);
  p.fillRect(plot, Qt::white);
  TEntry* cur = a.Current();
  PaintAxis(p, m, a, cur, plot, 0);
  PaintAxis(p, m, a, cur, plot, 1);
  std::vector<TEntry*> order;
  for (TEntry& e : a.objs)
    if (&e != cur) order.push_back(&e);
  if (cur) order.push_back(cur);
  for (TEntry* e : order) {
    const bool selected = e == cur && a.objs.size() > 1;
    g_drawing = {m.handle,
                 a.id,
                 &p,
                 plot,
                 Transform(a, e, size),
                 {Colour(e->attr.colour), e->attr.lineStyle, e->attr.lineWidth + (selected ? 1 : 0), e->attr.marker}};
    CGglObj* obj = e->obj;
    obj->Draw(m.handle, a.id);  // may call GglDrawPolyline
    g_drawing = {};
  }
  p.setPen(Colour(m.frame).darker(160));
  p.setBrush(Qt::NoBrush);
  p.drawRect(plot);
  PaintLegend(p, a, plot);
  a.dirty = false;
}

// Every area as it should look now: areas marked for redrawing are painted again unless stopped.
void PaintMain(TMain& m, QPainter& p) {
  for (auto& ap : m.areas) {
    TArea& a = *ap;
    const QRect r = AreaRect(m, a);
    if (r.isEmpty()) continue;
    if ((a.dirty && a.drawing) || a.cache.size() != r.size()) PaintArea(m, a, r.size());
    p.drawImage(r.topLeft(), a.cache);
    if (a.zoomShown) {
      QPen pen(Qt::black, 1, Qt::DashLine);
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      p.drawRect(a.zoomRect.normalized().translated(r.topLeft()));
    }
  }
  if (m.areas.empty()) p.fillRect(QRect(QPoint(0, 0), MainSize(m)), Colour(m.background));
}

void DropArea(TArea& a) {
  for (TEntry& e : a.objs) TGglAccess::Set(e.obj, 0, 0);
  a.objs.clear();
}

}  // namespace

// ---- the widget

TGglWidget::~TGglWidget() {
  auto lock = GglLock();
  auto it = g_mains.find(m_handle);
  if (it == g_mains.end()) return;
  for (auto& a : it->second->areas) DropArea(*a);
  g_mains.erase(it);
}

void TGglWidget::paintEvent(QPaintEvent*) {
  auto lock = GglLock();
  QPainter p(this);
  if (TMain* m = Main(m_handle)) PaintMain(*m, p);
}

void TGglWidget::resizeEvent(QResizeEvent*) {
  auto lock = GglLock();
  if (TMain* m = Main(m_handle))
    for (auto& a : m->areas) a->dirty = true;
}

void TGglWidget::Report(int event, QPoint a, QPoint b) {
  TGglMouseCallback cb;
  {
    auto lock = GglLock();
    TMain* m = Main(m_handle);
    if (!m || !m->Area(m_area)) return;
    auto it = m->callbacks.find(event);
    if (it == m->callbacks.end() || !it->second) return;
    cb = it->second;
  }
  cb(m_handle, m_area, a.x(), a.y(), b.x(), b.y());  // without the lock: the handler calls us back
}

void TGglWidget::mousePressEvent(QMouseEvent* e) {
  {
    auto lock = GglLock();
    TMain* m = Main(m_handle);
    if (!m) return;
    const QPoint pos = e->position().toPoint();
    m_area = 0;
    for (auto& a : m->areas) {
      const QRect r = AreaRect(*m, *a);
      if (r.contains(pos)) {
        m_area = a->id;
        m_origin = r.topLeft();
      }
    }
    m_start = pos - m_origin;
  }
  m_button = e->button();
  m_mods = e->modifiers();
  m_dragging = false;
  // The current object is looked up on a right press, as the plot windows expect; nobody uses it yet.
  if (m_button == Qt::RightButton && m_area) (void)GglCurrentObject(m_handle, m_area);
  if (m_button == Qt::LeftButton || m_button == Qt::RightButton)
    Report(EventFor(GGL_CLICKLEFTDOWN, GGL_CLICKRIGHTDOWN), m_start, m_start);
}

void TGglWidget::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (m_button != Qt::LeftButton && m_button != Qt::RightButton) {
    int id = 0;
    QPoint origin;
    {
      auto lock = GglLock();
      TMain* m = Main(m_handle);
      if (!m) return;
      for (auto& a : m->areas)
        if (AreaRect(*m, *a).contains(pos)) id = a->id, origin = AreaRect(*m, *a).topLeft();
    }
    if (!id) return;
    std::swap(m_area, id);
    Report(GGL_MOUSEMOVE, pos - origin, pos - origin);
    m_area = id;
    return;
  }
  const QPoint q = pos - m_origin;
  if (!m_dragging && (q - m_start).manhattanLength() < kDragStartPixels) return;
  m_dragging = true;
  const bool shift = m_mods & Qt::ShiftModifier, ctrl = m_mods & Qt::ControlModifier;
  Report(shift  ? EventFor(GGL_SHIFTDRAGLEFT, GGL_SHIFTDRAGRIGHT)
         : ctrl ? EventFor(GGL_CTRLDRAGLEFT, GGL_CTRLDRAGRIGHT)
                : EventFor(GGL_DRAGLEFT, GGL_DRAGRIGHT),
         m_start, q);
}

void TGglWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != m_button) return;
  const QPoint q = e->position().toPoint() - m_origin;
  const bool shift = m_mods & Qt::ShiftModifier, ctrl = m_mods & Qt::ControlModifier;
  if (m_dragging)
    Report(shift  ? EventFor(GGL_SHIFTDRAGENDLEFT, GGL_SHIFTDRAGENDRIGHT)
           : ctrl ? EventFor(GGL_CTRLDRAGENDLEFT, GGL_CTRLDRAGENDRIGHT)
                  : EventFor(GGL_DRAGENDLEFT, GGL_DRAGENDRIGHT),
           m_start, q);
  else if (!m_double)
    Report(shift  ? EventFor(GGL_SHIFTCLICKLEFT, GGL_SHIFTCLICKRIGHT)
           : ctrl ? EventFor(GGL_CTRLCLICKLEFT, GGL_CTRLCLICKRIGHT)
                  : EventFor(GGL_CLICKLEFT, GGL_CLICKRIGHT),
           q, q);
  m_button = Qt::NoButton;
  m_dragging = false;
  m_double = false;
}

void TGglWidget::mouseDoubleClickEvent(QMouseEvent* e) {
  mousePressEvent(e);
  m_double = true;  // its release is no click of its own
  Report(EventFor(GGL_DBLCLICKLEFT, GGL_DBLCLICKRIGHT), m_start, m_start);
}

// ---- objects and the lock

CGglObj::~CGglObj() {
  if (m_main) GglRemoveObject(m_main, m_id, this);
}

std::unique_lock<std::recursive_mutex> GglLock() { return std::unique_lock<std::recursive_mutex>(g_lock); }

// ---- main windows

TGglHandle GglCreateMainWnd(int, QWidget* parent, int, int, TGglColour background, TGglColour frame, int x, int y,
                            int w, int h, int, const std::string&) {
  if (w < 0 || h < 0) return 0;
  auto lock = GglLock();
  auto m = std::make_unique<TMain>();
  m->handle = g_nextHandle++;
  m->background = background;
  m->frame = frame;
  auto* widget = new TGglWidget(parent, m->handle);  // owned by parent, or by GglDestroyMainWnd
  widget->setGeometry(x, y, w, h);
  m->widget = widget;
  const TGglHandle handle = m->handle;
  g_mains[handle] = std::move(m);
  if (parent) widget->show();
  return handle;
}

int GglDestroyMainWnd(TGglHandle main) {
  QPointer<TGglWidget> widget;
  {
    auto lock = GglLock();
    TMain* m = Main(main);
    if (!m) return GGL_EHANDLE;
    widget = m->widget;
    for (auto& a : m->areas) DropArea(*a);
    g_mains.erase(main);
  }
  delete widget.data();
  return GGL_OK;
}

QWidget* GglMainWidget(TGglHandle main) {
  auto lock = GglLock();
  TMain* m = Main(main);
  return m ? m->widget.data() : nullptr;
}

int GglRenderToImage(TGglHandle main, QImage& image) {
  auto lock = GglLock();
  TMain* m = Main(main);
  if (!m) return GGL_EHANDLE;
  image = QImage(MainSize(*m), QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return GGL_OK;
  QPainter p(&image);
  PaintMain(*m, p);
  return GGL_OK;
}

int GglSetMouseCallback(TGglHandle main, int event, TGglMouseCallback callback) {
  auto lock = GglLock();
  TMain* m = Main(main);
  if (!m) return GGL_EHANDLE;
  if (event < 0 || event >= GGL_MOUSEEVENTS) return GGL_EARG;
  m->callbacks[event] = std::move(callback);
  return GGL_OK;
}

int GglRedraw(TGglHandle main) {
  auto lock = GglLock();
  TMain* m = Main(main);
  if (!m) return GGL_EHANDLE;
  for (auto& a : m->areas) a->dirty = true;
  Schedule(*m);
  return GGL_OK;
}

int GglSetOption(TGglHandle main, int, int) {
  auto lock = GglLock();
  return Main(main) ? GGL_OK : GGL_EHANDLE;
}

namespace {
template <class F>
int AxisSetting(TGglHandle main, int axis, F set) {
  auto lock = GglLock();
  TMain* m = Main(main);
  if (!m) return GGL_EHANDLE;
  if (axis != 0 && axis != 1) return GGL_EARG;
  set(*m);
  return GGL_OK;
}
}  // namespace

int GglShowGrid(TGglHandle main, int axis, int show) {
  return AxisSetting(main, axis, [&](TMain& m) { m.grid[axis] = show; });
}
int GglSetGridStyle(TGglHandle main, int axis, int style) {
  if (!GglValidLineStyle(style)) return GGL_EARG;
  return AxisSetting(main, axis, [&](TMain& m) { m.gridStyle[axis] = style; });
}
int GglSetGridColour(TGglHandle main, int axis, TGglColour colour) {
  return AxisSetting(main, axis, [&](TMain& m) { m.gridColour[axis] = colour; });
}

// ---- plot areas

int GglCreateSubWnd(TGglHandle main, int, TGglRange x, TGglRange y, const TGglAxisBlock& xAxis,
                    const TGglAxisBlock& yAxis, int* id) {
  auto lock = GglLock();
  TMain* m = Main(main);
  if (!m) return GGL_EHANDLE;
  if (!id || !Normal(x) || !Normal(y)) return GGL_EARG;
  auto a = std::make_unique<TArea>();
  a->id = m->nextId++;
  a->initX = a->vx = x;
  a->initY = a->vy = y;
  a->axis[0] = xAxis;
  a->axis[1] = yAxis;
  *id = a->id;
  m->areas.push_back(std::move(a));
  for (auto& other : m->areas) other->dirty = true;  // the areas share the height anew
  return GGL_OK;
}

int GglSetSubWndOption(TGglHandle main, int id, int) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  return Lookup(main, id, &m, &a);
}

int GglDestroySubWnd(TGglHandle main, int id) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  DropArea(*a);
  std::erase_if(m->areas, [a](const auto& p) { return p.get() == a; });
  for (auto& other : m->areas) other->dirty = true;
  Schedule(*m);
  return GGL_OK;
}

int GglRedrawSubWnd(TGglHandle main, int id) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  a->dirty = true;
  Schedule(*m);
  return GGL_OK;
}

int GglEnableDrawing(TGglHandle main, int id, int on) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  a->drawing = on != 0;
  return GGL_OK;
}

int GglSetVisibleRanges(TGglHandle main, int id, int, TGglRange x, TGglRange y) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  if (!Normal(x) || !Normal(y)) return GGL_EARG;
  a->vx = x;
  a->vy = y;
  a->zoomed = true;
  return GGL_OK;
}

int GglGetVisibleRanges(TGglHandle main, int id, int, TGglRange* x, TGglRange* y) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  if (x) *x = a->VisX();
  if (y) *y = a->VisY();
  return GGL_OK;
}

int GglGetFullRanges(TGglHandle main, int id, int, TGglRange* x, TGglRange* y) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  if (x) *x = a->FullX();
  if (y) *y = a->FullY();
  return GGL_OK;
}

int GglShowFullRange(TGglHandle main, int id, int) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  a->zoomed = false;
  return GGL_OK;
}

namespace {

// The conversions' shared part: the area's transform (of obj's scale when given) for a finite point;
// GGL_OK or the refusal, in the order the callers rely on.
int ConversionTransform(TGglHandle main, int id, const CGglObj* obj, double u, double v, const TGglPoint* out,
                        TGglTransform* t) {
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  const TEntry* e = obj ? a->Find(obj) : nullptr;
  if (obj && !e) return GGL_EOBJECT;
  if (!out || !std::isfinite(u) || !std::isfinite(v)) return GGL_EARG;
  *t = Transform(*a, e, AreaSize(*m, *a));
  return GGL_OK;
}

}  // namespace

int GglPixelToData(TGglHandle main, int id, const CGglObj* obj, double px, double py, TGglPoint* out) {
  auto lock = GglLock();
  TGglTransform t;
  if (int rc = ConversionTransform(main, id, obj, px, py, out, &t)) return rc;
  *out = {(px - t.ax) / t.bx, (py - t.ay) / t.by};
  return GGL_OK;
}

int GglDataToPixel(TGglHandle main, int id, const CGglObj* obj, double x, double y, TGglPoint* out) {
  auto lock = GglLock();
  TGglTransform t;
  if (int rc = ConversionTransform(main, id, obj, x, y, out, &t)) return rc;
  *out = {t.Px(x), t.Py(y)};
  return GGL_OK;
}

int GglDrawZoomRect(TGglHandle main, int id, int left, int top, int right, int bottom) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  const QRect r(QPoint(left, top), QPoint(right, bottom));
  if (a->zoomShown && a->zoomRect == r)
    a->zoomShown = false;
  else
    a->zoomShown = true, a->zoomRect = r;
  Schedule(*m);
  return GGL_OK;
}

int GglEndZoom(TGglHandle main, int id, int) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  a->zoomShown = false;
  Schedule(*m);
  return GGL_OK;
}

int GglObjectAt(TGglHandle main, int id, int px, int py, CGglObj** out) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  if (!out) return GGL_EARG;
  *out = nullptr;
  std::vector<CGglObj*> objs;  // the object callbacks may not change the list under us
  for (const TEntry& e : a->objs) objs.push_back(e.obj);
  double best = kHitPixels;
  for (CGglObj* o : objs) {
    double d = 0;
    if (o->Distance(main, id, px, py, &d) && std::fabs(d) <= best) best = std::fabs(d), *out = o;
  }
  return *out ? GGL_OK : GGL_NOHIT;
}

int GglHighlightObject(TGglHandle main, int id, CGglObj* obj) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  if (!a->Find(obj)) return GGL_EOBJECT;
  a->highlighted = obj;
  return GGL_OK;
}

CGglObj* GglCurrentObject(TGglHandle main, int id) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (Lookup(main, id, &m, &a)) return nullptr;
  TEntry* e = a->Current();
  return e ? e->obj : nullptr;
}

// ---- graph objects

namespace {
// Finds main window, area and placed object.
int LookupObj(TGglHandle main, int id, const CGglObj* obj, TArea** a, TEntry** e) {
  TMain* m;
  if (int rc = Lookup(main, id, &m, a)) return rc;
  *e = obj ? (*a)->Find(obj) : nullptr;
  return *e ? GGL_OK : GGL_EOBJECT;
}
}  // namespace

int GglPlaceObject(TGglHandle main, int id, CGglObj* obj, int, int, int, TGglColour colour, int lineStyle,
                   int lineWidth, int marker, TGglRange x, TGglRange y, const TGglAxisBlock& xTitle,
                   const TGglAxisBlock& yTitle) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  if (!obj || obj->PlacedMain()) return GGL_EOBJECT;
  if (!GglValidLineStyle(lineStyle) || !GglValidMarker(marker) || lineWidth < 0 || lineWidth > 20) return GGL_EARG;
  if (!Normal(x) || !Normal(y)) return GGL_EARG;
  a->objs.push_back({obj, {colour, lineStyle, lineWidth, marker}, x, y, "", xTitle.title, yTitle.title});
  TGglAccess::Set(obj, main, id);
  return GGL_OK;
}

int GglRemoveObject(TGglHandle main, int id, CGglObj* obj) {
  auto lock = GglLock();
  TArea* a;
  TEntry* e;
  if (int rc = LookupObj(main, id, obj, &a, &e)) return rc;
  TGglAccess::Set(obj, 0, 0);
  if (a->highlighted == obj) a->highlighted = nullptr;
  a->objs.erase(a->objs.begin() + (e - a->objs.data()));
  a->dirty = true;
  return GGL_OK;
}

int GglObjectChanged(TGglHandle main, int id, CGglObj* obj, int, int) {
  auto lock = GglLock();
  TArea* a;
  TEntry* e;
  if (int rc = LookupObj(main, id, obj, &a, &e)) return rc;
  a->dirty = true;
  return GGL_OK;
}

int GglSetObjectScale(TGglHandle main, int id, CGglObj* obj, TGglRange x, TGglRange y) {
  auto lock = GglLock();
  TArea* a;
  TEntry* e;
  if (int rc = LookupObj(main, id, obj, &a, &e)) return rc;
  if (!Normal(x) || !Normal(y)) return GGL_EARG;
  e->sx = x;
  e->sy = y;
  return GGL_OK;
}

int GglSetObjectTitle(TGglHandle main, int id, CGglObj* obj, const std::string& text) {
  auto lock = GglLock();
  TArea* a;
  TEntry* e;
  if (int rc = LookupObj(main, id, obj, &a, &e)) return rc;
  e->title = text;
  return GGL_OK;
}

int GglSetObjectAxisTitle(TGglHandle main, int id, CGglObj* obj, int axis, int what, const std::string& text) {
  auto lock = GglLock();
  TArea* a;
  TEntry* e;
  if (int rc = LookupObj(main, id, obj, &a, &e)) return rc;
  if ((axis != 0 && axis != 1) || what != GGL_AXIS_TITLE) return GGL_EARG;
  (axis == 0 ? e->xTitle : e->yTitle) = text;
  return GGL_OK;
}

int GglGetObjectAttr(TGglHandle main, int id, const CGglObj* obj, TGglObjAttr* out) {
  auto lock = GglLock();
  TArea* a;
  TEntry* e;
  if (int rc = LookupObj(main, id, obj, &a, &e)) return rc;
  if (!out) return GGL_EARG;
  *out = e->attr;
  return GGL_OK;
}

int GglSetObjectAttr(TGglHandle main, int id, CGglObj* obj, const TGglObjAttr& attr) {
  auto lock = GglLock();
  TArea* a;
  TEntry* e;
  if (int rc = LookupObj(main, id, obj, &a, &e)) return rc;
  if (!GglValidLineStyle(attr.lineStyle) || !GglValidMarker(attr.marker) || attr.lineWidth < 0 || attr.lineWidth > 20)
    return GGL_EARG;
  e->attr = attr;
  return GGL_OK;
}

int GglGetObjectTitles(TGglHandle main, int id, const CGglObj* obj, std::string* title, std::string* xTitle,
                       std::string* yTitle) {
  auto lock = GglLock();
  TArea* a;
  TEntry* e;
  if (int rc = LookupObj(main, id, obj, &a, &e)) return rc;
  if (title) *title = e->title;
  if (xTitle) *xTitle = e->xTitle;
  if (yTitle) *yTitle = e->yTitle;
  return GGL_OK;
}

int GglGetPlotRect(TGglHandle main, int id, double* left, double* top, double* right, double* bottom) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  const QRectF r = PlotRect(AreaSize(*m, *a));
  *left = r.left(), *top = r.top(), *right = r.right(), *bottom = r.bottom();
  return GGL_OK;
}

int GglGetAreaState(TGglHandle main, int id, bool* drawing, bool* zoomRectShown) {
  auto lock = GglLock();
  TMain* m;
  TArea* a;
  if (int rc = Lookup(main, id, &m, &a)) return rc;
  if (drawing) *drawing = a->drawing;
  if (zoomRectShown) *zoomRectShown = a->zoomShown;
  return GGL_OK;
}

int GglDrawPolyline(TGglHandle main, int id, const double* x, const double* y, long count) {
  auto lock = GglLock();
  if (!g_drawing.painter || g_drawing.main != main || g_drawing.id != id) return GGL_ESTATE;
  if (count < 0 || (count > 0 && (!x || !y))) return GGL_EARG;
  bool ascending = true;
  for (long i = 0; i < count && ascending; ++i) ascending = std::isfinite(x[i]) && (i == 0 || x[i] >= x[i - 1]);
  GglRenderCurve(*g_drawing.painter, g_drawing.plot, g_drawing.t, g_drawing.style, x, y, count, ascending, nullptr);
  return GGL_OK;
}

int GglDrawSeries(TGglHandle main, int id, const CGglSeries& s) {
  auto lock = GglLock();
  if (!g_drawing.painter || g_drawing.main != main || g_drawing.id != id) return GGL_ESTATE;
  GglRenderCurve(*g_drawing.painter, g_drawing.plot, g_drawing.t, g_drawing.style, s.X(), s.Y(), s.Count(),
                 s.Ascending(), &s);
  return GGL_OK;
}

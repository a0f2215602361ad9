// The curve renderer (see Gglrender.h).
#include "graphics/Gglrender.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <vector>

#include "graphics/Gglscale.h"
#include "graphics/Gglseries.h"

bool GglValidLineStyle(int style) { return style >= 0 && style <= GGL_LINE_NONE; }
bool GglValidMarker(int marker) { return (marker >= 0 && marker <= 11) || marker == GGL_MARKER_MINICIRCLE; }

namespace {

// Values far outside the plot are pulled in so that the raster engine never sees absurd coordinates;
// the visible part of a line keeps its direction to within a fraction of a pixel.
constexpr double kFar = 1e6;
double Clamp(double v, double lo, double hi) { return std::clamp(v, lo - kFar, hi + kFar); }

}  // namespace

Qt::PenStyle GglPenStyle(int lineStyle) {
  switch (lineStyle) {
    case 1:
      return Qt::DashLine;
    case 2:
      return Qt::DotLine;
    case 3:
      return Qt::DashDotLine;
    case 4:
      return Qt::DashDotDotLine;
    case GGL_LINE_NONE:
      return Qt::NoPen;
    default:
      return Qt::SolidLine;
  }
}

namespace {

// Collects connected points and draws each run as one polyline.
class TRuns {
 public:
  TRuns(QPainter& p) : m_p(p) {}
  ~TRuns() { Break(); }
  void Add(double x, double y) { m_run.append(QPointF(x, y)); }
  void Break() {
    if (m_run.size() == 1) m_run.append(m_run.front());  // a lone point still shows
    if (!m_run.isEmpty()) m_p.drawPolyline(m_run);
    m_run.clear();
  }
  bool Empty() const { return m_run.isEmpty(); }

 private:
  QPainter& m_p;
  QPolygonF m_run;
};

void DrawMarker(QPainter& p, int marker, QPointF c, double base, double y, double halfWidth) {
  constexpr double r = 3.5;
  switch (marker) {
    case 1:
      p.drawPolygon(QPolygonF{{c.x(), c.y() - r}, {c.x() + r, c.y()}, {c.x(), c.y() + r}, {c.x() - r, c.y()}});
      break;
    case 2:
      p.drawEllipse(c, r, r);
      break;
    case 3:
      p.drawPolygon(QPolygonF{{c.x(), c.y() - r}, {c.x() + r, c.y() + r}, {c.x() - r, c.y() + r}});
      break;
    case 4:
      p.drawPolygon(QPolygonF{{c.x(), c.y() + r}, {c.x() + r, c.y() - r}, {c.x() - r, c.y() - r}});
      break;
    case 5:
      p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y()));
      p.drawLine(QPointF(c.x(), c.y() - r), QPointF(c.x(), c.y() + r));
      break;
    case 6:
      p.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
      p.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
      break;
    case 7:
      p.drawRect(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r));
      break;
    case 8:
      p.drawRect(QRectF(QPointF(c.x() - halfWidth, c.y()), QPointF(c.x() + halfWidth, base)).normalized());
      break;
    case 9:
      p.drawText(c + QPointF(3, -3), QString::number(y, 'g', 6));
      break;
    case 10:
      p.fillRect(QRectF(QPointF(c.x() - 1.5, c.y()), QPointF(c.x() + 1.5, base)).normalized(), p.pen().color());
      break;
    case 11:
      p.drawLine(c, QPointF(c.x(), base));
      break;
    case GGL_MARKER_MINICIRCLE:
      p.drawEllipse(c, 1.5, 1.5);
      break;
    default:
      break;
  }
}

// Every point of [from, to) as it is: lines split at gaps, then the markers.
void DrawExact(QPainter& p, const QRectF& plot, const TGglTransform& t, const TGglCurveStyle& s, const double* x,
               const double* y, long from, long to) {
  {
    TRuns runs(p);
    for (long i = from; i < to; ++i) {
      if (GglIsGap(y[i]) || !std::isfinite(x[i])) {
        runs.Break();
        continue;
      }
      runs.Add(Clamp(t.Px(x[i]), plot.left(), plot.right()), Clamp(t.Py(y[i]), plot.top(), plot.bottom()));
    }
  }
  if (s.marker == 0) return;
  QPen pen(s.colour, 1);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  const double base = std::clamp(t.Py(0.0), plot.top(), plot.bottom());
  for (long i = from; i < to; ++i) {
    if (GglIsGap(y[i]) || !std::isfinite(x[i])) continue;
    const QPointF c(t.Px(x[i]), Clamp(t.Py(y[i]), plot.top(), plot.bottom()));
    if (!plot.adjusted(-4, -4, 4, 4).contains(c)) continue;
    const long n = i + 1 < to ? i + 1 : i - 1;  // a neighbour gives the histogram bar its width
    const double half = n >= from && n != i ? std::fabs(t.Px(x[n]) - c.x()) / 2 : 2.0;
    DrawMarker(p, s.marker, c, base, y[i], half);
  }
}

// Smallest and largest value of y[a..b) that is not a gap, from the block summary where blocks are whole.
void Span(const double* y, const CGglSeries* series, long a, long b, double& lo, double& hi) {
  constexpr long B = CGglSeries::kBlock;
  auto raw = [&](long from, long to) {
    for (long i = from; i < to; ++i) {
      const double v = y[i];
      if (GglIsGap(v)) continue;
      lo = v < lo ? v : lo;
      hi = v > hi ? v : hi;
    }
  };
  const long blocks = series ? long(series->Blocks().size()) : 0;
  long firstBlock = (a + B - 1) / B, endBlock = std::min(b / B, blocks);
  if (firstBlock >= endBlock) {
    raw(a, b);
    return;
  }
  raw(a, firstBlock * B);
  const CGglSeries::TBlock* blk = series->Blocks().data();
  for (long k = firstBlock; k < endBlock; ++k) {
    lo = blk[k].min < lo ? blk[k].min : lo;
    hi = blk[k].max > hi ? blk[k].max : hi;
  }
  raw(endBlock * B, b);
}

// Dense stretch [from, to): per pixel column the span of its points, joined by the real lines between the
// last point of one column and the first of the next; a gap at either end of such a line breaks it.
// Without a line (join false) the columns stand alone, as a dense cloud of points would.
void DrawDecimated(QPainter& p, const QRectF& plot, const TGglTransform& t, const double* x, const double* y, long from,
                   long to, const CGglSeries* series, bool join) {
  TRuns runs(p);
  auto py = [&](double v) { return Clamp(t.Py(v), plot.top(), plot.bottom()); };
  const int c0 = int(std::floor(plot.left())), c1 = int(std::ceil(plot.right()));
  long a = long(std::lower_bound(x + from, x + to, (c0 - t.ax) / t.bx) - x);
  if (a > from && !GglIsGap(y[a - 1])) runs.Add(Clamp(t.Px(x[a - 1]), plot.left(), plot.right()), py(y[a - 1]));
  for (int c = c0; c < c1 && a < to; ++c) {
    const long b = long(std::lower_bound(x + a, x + to, (c + 1 - t.ax) / t.bx) - x);
    if (a == b) continue;
    const double cx = c + 0.5;
    if (!join) runs.Break();
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    Span(y, series, a, b, lo, hi);
    if (GglIsGap(y[a]))
      runs.Break();
    else
      runs.Add(cx, py(y[a]));
    if (lo <= hi) {
      runs.Add(cx, py(lo));
      runs.Add(cx, py(hi));
    }
    if (GglIsGap(y[b - 1]))
      runs.Break();
    else
      runs.Add(cx, py(y[b - 1]));
    a = b;
  }
  if (a < to && !GglIsGap(y[a]) && !runs.Empty()) runs.Add(Clamp(t.Px(x[a]), plot.left(), plot.right()), py(y[a]));
}

// Dense points in any x order: consecutive points that fall in the same pixel column (or together beyond
// one edge of the plot) are walked as one piece and drawn as their first, lowest, highest and last point.
// The path between consecutive points of one column stays in that column and passes every height between
// its lowest and highest point, so the column covers the same pixels as drawing every segment would.
void DrawStreamed(QPainter& p, const QRectF& plot, const TGglTransform& t, const double* x, const double* y, long from,
                  long to, bool join) {
  TRuns runs(p);
  const double left = plot.left() - 1, right = plot.right() + 1;
  // Columns left and right of the plot are merged into one key each: nothing drawn there shows.
  auto key = [&](double px) -> long {
    if (px < left) return -1;
    if (px > right) return -2;
    return long(std::floor(px - left));
  };
  auto at = [&](long i) {
    return QPointF(Clamp(t.Px(x[i]), plot.left(), plot.right()), Clamp(t.Py(y[i]), plot.top(), plot.bottom()));
  };
  long first = -1, last = -1, lo = -1, hi = -1, k = 0;
  auto flush = [&] {
    if (first < 0) return;
    if (!join) runs.Break();
    runs.Add(at(first).x(), at(first).y());
    if (k >= 0 && lo != first && lo != last) runs.Add(at(lo).x(), at(lo).y());
    if (k >= 0 && hi != first && hi != last && hi != lo) runs.Add(at(hi).x(), at(hi).y());
    if (last != first) runs.Add(at(last).x(), at(last).y());
    first = -1;
  };
  for (long i = from; i < to; ++i) {
    if (GglIsGap(y[i]) || !std::isfinite(x[i])) {
      flush();
      runs.Break();
      continue;
    }
    const long ki = key(t.Px(x[i]));
    if (first >= 0 && ki == k) {
      last = i;
      if (y[i] < y[lo]) lo = i;
      if (y[i] > y[hi]) hi = i;
      continue;
    }
    flush();
    first = last = lo = hi = i;
    k = ki;
  }
  flush();
}

}  // namespace

void GglRenderCurve(QPainter& p, const QRectF& plot, const TGglTransform& t, const TGglCurveStyle& style,
                    const double* x, const double* y, long count, bool ascending, const CGglSeries* series) {
  if (count <= 0 || !x || !y || !(t.bx > 0) || !std::isfinite(t.ax)) return;
  p.save();
  p.setClipRect(plot.adjusted(-1, -1, 1, 1));
  p.setRenderHint(QPainter::Antialiasing, false);
  QPen pen(style.colour, style.width, GglPenStyle(style.lineStyle));
  pen.setCapStyle(Qt::SquareCap);  // a lone point between two gaps still covers its pixel
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  long from = 0, to = count;
  if (ascending) {  // one point beyond each edge keeps the lines that leave the plot
    from = long(std::lower_bound(x, x + count, (plot.left() - t.ax) / t.bx) - x);
    to = long(std::upper_bound(x, x + count, (plot.right() - t.ax) / t.bx) - x);
    from = std::max(0L, from - 1);
    to = std::min(count, to + 1);
  }
  const double most = GGL_EXACT_POINTS_PER_COLUMN * plot.width();
  bool dense = to - from > most;
  if (dense && !ascending) {  // zoomed in on points in any order: exact when few fall in the plot's width
    long visible = 0;
    for (long i = from; i < to && visible <= most; ++i) {
      const double px = t.Px(x[i]);
      visible += px >= plot.left() && px <= plot.right();
    }
    dense = visible > most;
  }
  if (!dense) {
    DrawExact(p, plot, t, style, x, y, from, to);
  } else {  // without a line the spans are still drawn, as the dense cloud of points would be
    if (style.lineStyle == GGL_LINE_NONE) pen.setStyle(Qt::SolidLine);
    p.setPen(pen);
    const bool join = style.lineStyle != GGL_LINE_NONE;
    if (ascending)
      DrawDecimated(p, plot, t, x, y, from, to, series, join);
    else
      DrawStreamed(p, plot, t, x, y, from, to, join);
  }
  p.restore();
}

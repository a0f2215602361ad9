// The curve renderer: draws a curve's points into a plot rectangle. Dense stretches are drawn per pixel
// column as the span of the points the column covers (with the real lines between neighbouring points),
// so that neither a spike nor a gap disappears; few visible points are drawn exactly, with markers.
#pragma once

#include <QColor>
#include <QRectF>

class QPainter;
class CGglSeries;

// Data to pixel: px = ax + bx * x, py = ay + by * y.
struct TGglTransform {
  double ax = 0, bx = 1, ay = 0, by = -1;
  double Px(double x) const { return ax + bx * x; }
  double Py(double y) const { return ay + by * y; }
};

// Line styles and markers of the curves.
inline constexpr int GGL_LINE_NONE = 5;
inline constexpr int GGL_MARKER_MINICIRCLE = 22;
bool GglValidLineStyle(int style);
bool GglValidMarker(int marker);
Qt::PenStyle GglPenStyle(int lineStyle);

struct TGglCurveStyle {
  QColor colour = Qt::black;
  int lineStyle = 0;  // 0 solid, 1 dash, 2 dot, 3 dash-dot, 4 dash-dot-dot, 5 none
  int width = 1;
  int marker = 0;  // 0 none; see GglDrawMarker
};

// Draws count points; series (optional) holds the same points with their block summary.
// ascending: x never decreases and is finite, so that only the visible stretch is visited.
void GglRenderCurve(QPainter& p, const QRectF& plot, const TGglTransform& t, const TGglCurveStyle& style,
                    const double* x, const double* y, long count, bool ascending, const CGglSeries* series);

// Below this many visible points per pixel column of the plot the points are drawn exactly.
inline constexpr double GGL_EXACT_POINTS_PER_COLUMN = 2.0;

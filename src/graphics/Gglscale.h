// The plot windows' arithmetic: gap values, data extents, the margin rule, scale computation, a curve's
// value at x, axis-drag ranges and zoom boxes. Plain numbers only, so that it is tested without drawing.
#pragma once

#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A closed interval of data values.
struct TGglRange {
  double min = 0.0;
  double max = 0.0;
  double Span() const { return max - min; }
  bool operator==(const TGglRange&) const = default;
};

struct TGglPoint {
  double x = 0.0;
  double y = 0.0;
  bool operator==(const TGglPoint&) const = default;
};

// A y value equal to this marks a gap: the line is split there.
inline constexpr double GGL_GAP = -std::numeric_limits<double>::max();

// Gaps, NaN and infinities carry no value: they split the line and never count for ranges.
inline bool GglIsGap(double y) { return y == GGL_GAP || !(y - y == 0.0); }

// Window modes and scale modes of a plot window.
inline constexpr int WM_ALLINONEWND = 2;
inline constexpr int WM_EACHSEPARATE = 3;
inline constexpr int SM_ALLTHESAME = 0;
inline constexpr int SM_EACHFULLSCALE = 3;

// The fixed margin fractions of every plot window.
inline constexpr double GGL_XMARGIN = 0.0;
inline constexpr double GGL_YMARGIN = 0.05;

// What the scale computation reads and writes for one signal.
struct TGglExtent {
  double firstX = 0.0;
  double lastX = 100.0;
  double minY = 0.0;
  double maxY = 100.0;
  TGglRange viewX{0.0, 100.0};
  TGglRange viewY{0.0, 100.0};
};

// firstX/lastX from the first and last point (finite x only), minY/maxY over the values that are not gaps
// ([0, 1] when every value is a gap). count must be at least 1.
void GglScanData(TGglExtent& e, long count, const double* x, const double* y);

// Widens [lo, hi] by the fraction c.
TGglRange GglApplyMargin(TGglRange r, double c);

// Union ranges over all signals, then viewX/viewY per scale mode (other modes leave the views).
void GglComputeScales(std::span<TGglExtent* const> curves, int scaleMode);

// The curve's y at x, interpolated between the nearest points that are not gaps; none outside the data.
std::optional<double> GglValueAtX(long count, const double* x, const double* y, double at);

// The visible range after dragging an axis band by d data units (start minus current point), from the
// range remembered at button-down and the full data range; the span stays, the range stays inside full.
TGglRange GglAxisDragRange(TGglRange remembered, TGglRange full, double d);

// The ranges a zoom box from a to b (data corners) selects; none when it has no extent in x or y.
std::optional<std::pair<TGglRange, TGglRange>> GglZoomRanges(TGglPoint a, TGglPoint b);

// Tick values for an axis showing r: steps of 1, 2 or 5 times a power of ten, at most about maxTicks of
// them; the step in *step. Empty for an empty or non-finite range.
std::vector<double> GglTicks(TGglRange r, int maxTicks, double* step);
// A tick's text: as many decimals as the step needs, exponent notation for very large or small numbers.
std::string GglTickLabel(double v, double step);

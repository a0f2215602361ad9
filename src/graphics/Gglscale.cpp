// The plot windows' arithmetic (see Gglscale.h).
#include "graphics/Gglscale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void GglScanData(TGglExtent& e, long count, const double* x, const double* y) {
  // Non-finite x values are skipped so that one bad point cannot make every range NaN.
  long f = 0, l = count - 1;
  while (f < count && !std::isfinite(x[f])) ++f;
  while (l > f && !std::isfinite(x[l])) --l;
  e.firstX = f < count ? x[f] : 0.0;
  e.lastX = f < count ? x[l] : 0.0;
  bool any = false;
  double lo = 0.0, hi = 0.0;
  for (long i = 0; i < count; ++i) {
    if (GglIsGap(y[i])) continue;
    if (!any || y[i] < lo) lo = y[i];
    if (!any || y[i] > hi) hi = y[i];
    any = true;
  }
  e.minY = any ? lo : 0.0;
  e.maxY = any ? hi : 1.0;
}

TGglRange GglApplyMargin(TGglRange r, double c) {
  const double lo = r.min, hi = r.max;
  if (lo == 0.0 && hi == 0.0) return {-0.1, 0.1};
  const double m = c * std::fabs(hi - lo);
  if (lo == hi || m < lo * 2.220446e-16 * 100) return {(1 - c) * lo, (1 + c) * hi};
  return {lo - m, hi + m};
}

void GglComputeScales(std::span<TGglExtent* const> curves, int scaleMode) {
  if (curves.empty()) return;
  TGglRange x{curves[0]->firstX, curves[0]->lastX}, y{curves[0]->minY, curves[0]->maxY};
  for (const TGglExtent* s : curves) {
    x = {std::min(x.min, s->firstX), std::max(x.max, s->lastX)};
    y = {std::min(y.min, s->minY), std::max(y.max, s->maxY)};
  }
  x = GglApplyMargin(x, GGL_XMARGIN);
  if (scaleMode != SM_ALLTHESAME && scaleMode != SM_EACHFULLSCALE) return;
  for (TGglExtent* s : curves) {
    s->viewX = x;
    s->viewY = GglApplyMargin(scaleMode == SM_ALLTHESAME ? y : TGglRange{s->minY, s->maxY}, GGL_YMARGIN);
  }
}

std::optional<double> GglValueAtX(long count, const double* x, const double* y, double at) {
  if (count < 1 || !(at >= x[0] && at <= x[count - 1])) return std::nullopt;
  const long k = long(std::upper_bound(x, x + count, at) - x) - 1;  // last point with x[k] <= at
  long left = k, right = k + 1;
  while (left >= 0 && GglIsGap(y[left])) --left;
  while (right < count && GglIsGap(y[right])) ++right;
  if (left < 0 && right >= count) return std::nullopt;
  if (left < 0) return y[right];
  if (right >= count || x[right] == x[left]) return y[left];
  return y[left] + (y[right] - y[left]) * (at - x[left]) / (x[right] - x[left]);
}

TGglRange GglAxisDragRange(TGglRange remembered, TGglRange full, double d) {
  const double f = full.Span(), v = remembered.Span();
  double shift = 0.0;
  if (v > 0 && f - v + 1 > 0 && std::isfinite(d)) {
    shift = std::pow(std::fabs(d) + 1, std::log(f - v + 1) / std::log(v + 1)) - 1;
    if (!std::isfinite(shift)) shift = 0.0;  // spans too small for the exponent: no move
    if (d < 0) shift = -shift;
  }
  TGglRange r{remembered.min - shift, remembered.min - shift + v};
  if (r.min < full.min) r = {full.min, full.min + v};
  if (r.max > full.max) r = {full.max - v, full.max};
  return r;
}

std::optional<std::pair<TGglRange, TGglRange>> GglZoomRanges(TGglPoint a, TGglPoint b) {
  if (a.x == b.x || a.y == b.y) return std::nullopt;
  return std::pair{TGglRange{std::min(a.x, b.x), std::max(a.x, b.x)},
                   TGglRange{std::min(a.y, b.y), std::max(a.y, b.y)}};
}

std::vector<double> GglTicks(TGglRange r, int maxTicks, double* step) {
  std::vector<double> ticks;
  const double span = r.max - r.min;
  *step = 0.0;
  if (!(span > 0) || !std::isfinite(span) || maxTicks < 1) return ticks;
  const double raw = span / maxTicks;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / mag;
  const double s = (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10) * mag;
  if (!(s > 0) || !std::isfinite(s) || std::fabs(r.min / s) > 1e15) return ticks;  // steps below the resolution
  const double first = std::ceil(r.min / s - 1e-9);
  for (int i = 0; i <= maxTicks + 1; ++i) {
    double v = (first + i) * s;  // from the index, so that rounding does not add up
    if (v > r.max + s * 1e-9) break;
    if (std::fabs(v) < s * 1e-9) v = 0.0;
    ticks.push_back(v);
  }
  *step = s;
  return ticks;
}

std::string GglTickLabel(double v, double step) {
  char text[64];
  const double big = std::max(std::fabs(v), step);
  if (big >= 1e7 || (step > 0 && step < 1e-5)) {
    std::snprintf(text, sizeof text, "%.4g", v);
  } else {
    const int decimals = step > 0 ? std::clamp(int(-std::floor(std::log10(step) + 1e-9)), 0, 9) : 0;
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
  }
  return text;
}

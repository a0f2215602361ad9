// The plot windows' arithmetic: data extents with gaps, the margin rule, scale modes, a curve's value at
// x, axis drags, zoom boxes and tick values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "graphics/Gglscale.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TGglExtent Scan(const std::vector<double>& x, const std::vector<double>& y) {
  TGglExtent e;
  GglScanData(e, long(x.size()), x.data(), y.data());
  return e;
}

TEST(GraphicsScale, ExtentIgnoresGapsAndValuesWithoutNumber) {
  const TGglExtent e = Scan({1, 2, 3, 4, 5}, {GGL_GAP, 7, kNaN, -2, kInf});
  EXPECT_EQ(e.firstX, 1);
  EXPECT_EQ(e.lastX, 5);
  EXPECT_EQ(e.minY, -2);
  EXPECT_EQ(e.maxY, 7);
  EXPECT_TRUE(GglIsGap(GGL_GAP));
  EXPECT_TRUE(GglIsGap(-kInf));
  EXPECT_FALSE(GglIsGap(std::numeric_limits<double>::max()));
}

TEST(GraphicsScale, AllGapSignalGetsZeroToOne) {
  const TGglExtent e = Scan({0, 1, 2}, {GGL_GAP, GGL_GAP, GGL_GAP});
  EXPECT_EQ(e.minY, 0.0);
  EXPECT_EQ(e.maxY, 1.0);
}

TEST(GraphicsScale, NonFiniteXAtTheEndsIsSkipped) {
  const TGglExtent e = Scan({kNaN, 2, 3, kInf}, {1, 1, 1, 1});
  EXPECT_EQ(e.firstX, 2);
  EXPECT_EQ(e.lastX, 3);
}

TEST(GraphicsScale, MarginRule) {
  const TGglRange five = GglApplyMargin({5, 5}, 0.05);
  EXPECT_DOUBLE_EQ(five.min, 4.75);
  EXPECT_DOUBLE_EQ(five.max, 5.25);
  EXPECT_EQ(GglApplyMargin({0, 0}, 0.05), (TGglRange{-0.1, 0.1}));
  const TGglRange wide = GglApplyMargin({10, 30}, 0.05);
  EXPECT_DOUBLE_EQ(wide.min, 10 - 0.05 * 20);
  EXPECT_DOUBLE_EQ(wide.max, 30 + 0.05 * 20);
  // A margin below the resolution of lo scales both ends instead.
  const double lo = 1e20, hi = 1e20 + 1e5;
  const TGglRange tiny = GglApplyMargin({lo, hi}, 0.05);
  EXPECT_DOUBLE_EQ(tiny.min, 0.95 * lo);
  EXPECT_DOUBLE_EQ(tiny.max, 1.05 * hi);
  EXPECT_EQ(GglApplyMargin({3, 7}, 0.0), (TGglRange{3, 7}));
}

TEST(GraphicsScale, ScaleModesWithGapsAndAllGapSignals) {
  TGglExtent a = Scan({0, 10}, {2, 4});
  TGglExtent b = Scan({5, 20}, {GGL_GAP, 8});  // one gap: only 8 counts
  TGglExtent c = Scan({-5, 1}, {GGL_GAP, GGL_GAP});
  TGglExtent* all[] = {&a, &b, &c};

  GglComputeScales(all, SM_EACHFULLSCALE);
  for (TGglExtent* e : all) EXPECT_EQ(e->viewX, (TGglRange{-5, 20}));
  EXPECT_EQ(a.viewY, GglApplyMargin({2, 4}, GGL_YMARGIN));
  EXPECT_EQ(b.viewY, GglApplyMargin({8, 8}, GGL_YMARGIN));
  EXPECT_EQ(c.viewY, GglApplyMargin({0, 1}, GGL_YMARGIN));

  GglComputeScales(all, SM_ALLTHESAME);
  for (TGglExtent* e : all) EXPECT_EQ(e->viewY, GglApplyMargin({0, 8}, GGL_YMARGIN));

  a.viewY = {1, 2};
  GglComputeScales(all, 7);  // other modes leave the views
  EXPECT_EQ(a.viewY, (TGglRange{1, 2}));
}

TEST(GraphicsScale, ValueAtXInterpolatesAcrossGaps) {
  const std::vector<double> x{0, 1, 2, 3, 4, 5};
  const std::vector<double> y{0, 10, GGL_GAP, GGL_GAP, 40, GGL_GAP};
  auto at = [&](double v) { return GglValueAtX(long(x.size()), x.data(), y.data(), v); };
  EXPECT_DOUBLE_EQ(*at(0.5), 5.0);
  EXPECT_DOUBLE_EQ(*at(2.5), 10 + (40 - 10) * (2.5 - 1) / (4 - 1));  // between the nearest values
  EXPECT_DOUBLE_EQ(*at(4.5), 40.0);                                  // a value on one side only
  EXPECT_DOUBLE_EQ(*at(5.0), 40.0);
  EXPECT_FALSE(at(-0.1));
  EXPECT_FALSE(at(5.1));
  EXPECT_FALSE(at(kNaN));
  const std::vector<double> gaps(6, GGL_GAP);
  EXPECT_FALSE(GglValueAtX(6, x.data(), gaps.data(), 2.0));
}

TEST(GraphicsScale, AxisDragKeepsSpanAndStaysInsideFull) {
  const TGglRange full{0, 1000}, vis{400, 500};
  EXPECT_EQ(GglAxisDragRange(vis, full, 0.0), vis);
  // F - V + 1 = V + 1 makes the exponent 1: the shift is the drag distance itself.
  const TGglRange half{0, 200}, v100{50, 150};
  const TGglRange moved = GglAxisDragRange(v100, half, 20.0);
  EXPECT_DOUBLE_EQ(moved.min, 30.0);
  EXPECT_DOUBLE_EQ(moved.Span(), 100.0);
  // Dragging the other way moves the other way by the same amount.
  EXPECT_DOUBLE_EQ(GglAxisDragRange(v100, half, -20.0).min, 70.0);
  // A long drag stops at either end of the full range.
  EXPECT_EQ(GglAxisDragRange(vis, full, 1e6), (TGglRange{0, 100}));
  EXPECT_EQ(GglAxisDragRange(vis, full, -1e6), (TGglRange{900, 1000}));
  // The full range shown: nothing to pan.
  EXPECT_EQ(GglAxisDragRange(full, full, 50.0), full);
  // A wider full range pans faster than the drag.
  const TGglRange far = GglAxisDragRange(vis, full, 5.0);
  EXPECT_GT(vis.min - far.min, 5.0);
  EXPECT_DOUBLE_EQ(far.Span(), vis.Span());
}

TEST(GraphicsScale, AxisDragNeverGivesNonFiniteRanges) {
  for (const TGglRange v : {TGglRange{0, 0}, TGglRange{0, 1e-300}, TGglRange{0, 1e300}})
    for (double d : {0.0, 1.0, -1e300, kNaN, kInf}) {
      const TGglRange r = GglAxisDragRange(v, {0, 1e300}, d);
      EXPECT_TRUE(std::isfinite(r.min) && std::isfinite(r.max)) << v.max << " " << d;
    }
}

TEST(GraphicsScale, ZoomBoxNeedsExtentInBothDirections) {
  EXPECT_FALSE(GglZoomRanges({1, 5}, {9, 5}));  // a horizontal line
  EXPECT_FALSE(GglZoomRanges({3, 1}, {3, 8}));
  const auto r = GglZoomRanges({9, 2}, {1, 7});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->first, (TGglRange{1, 9}));
  EXPECT_EQ(r->second, (TGglRange{2, 7}));
}

TEST(GraphicsScale, TicksAreRoundStepsInsideTheRange) {
  for (const TGglRange r : {TGglRange{0, 100}, TGglRange{-3.7, 12.2}, TGglRange{1e6, 1e6 + 0.5}, TGglRange{-1e-9, 3e-9},
                            TGglRange{4.75, 5.25}}) {
    double step = 0;
    const std::vector<double> t = GglTicks(r, 8, &step);
    ASSERT_GE(t.size(), 2u) << r.min;
    ASSERT_LE(t.size(), 10u);
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 || std::fabs(mantissa - 5) < 1e-9);
    for (size_t i = 0; i < t.size(); ++i) {
      EXPECT_GE(t[i], r.min - step * 1e-6);
      EXPECT_LE(t[i], r.max + step * 1e-6);
      if (i) {
        EXPECT_NEAR(t[i] - t[i - 1], step, step * 1e-6);
      }
    }
    // Neighbouring labels differ: the step decides the decimals.
    for (size_t i = 1; i < t.size(); ++i) EXPECT_NE(GglTickLabel(t[i], step), GglTickLabel(t[i - 1], step));
  }
  double step = 1;
  EXPECT_TRUE(GglTicks({1, 1}, 8, &step).empty());
  EXPECT_TRUE(GglTicks({0, kInf}, 8, &step).empty());
  EXPECT_EQ(GglTickLabel(0.5, 0.1), "0.5");
  EXPECT_EQ(GglTickLabel(-20, 10), "-20");
}

}  // namespace

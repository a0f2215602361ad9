// The curve renderer against a brute-force drawing of the same data (every segment as its own line): the
// same columns covered, the same heights within a pixel, spikes and gaps kept; exact points and markers
// when few are visible; screenshots of one and several signals, gaps, ten million points and a zoom.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <random>
#include <vector>

#include "PlotFixture.h"
#include "graphics/Gglrender.h"
#include "graphics/Gglseries.h"

namespace {

using plottest::SaveScreenshot;
using plottest::TPlot;

constexpr int kW = 600, kH = 300;

// Row extent per column of the pixels a drawing covers; -1 where a column is empty.
struct TCoverage {
  std::vector<int> top, bottom;
  explicit TCoverage(const QImage& img) : top(img.width(), -1), bottom(img.width(), -1) {
    for (int c = 0; c < img.width(); ++c)
      for (int r = 0; r < img.height(); ++r)
        if (img.pixel(c, r) != 0xFFFFFFFF) {
          if (top[c] < 0) top[c] = r;
          bottom[c] = r;
        }
  }
  bool Empty(int c) const { return c < 0 || c >= int(top.size()) || top[c] < 0; }
  // The rows covered by columns c-1..c+1.
  std::pair<int, int> Around(int c) const {
    int lo = 1 << 30, hi = -1;
    for (int k = std::max(0, c - 1); k <= std::min(int(top.size()) - 1, c + 1); ++k)
      if (top[k] >= 0) lo = std::min(lo, top[k]), hi = std::max(hi, bottom[k]);
    return {lo, hi};
  }
};

QImage Blank() {
  QImage img(kW, kH, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::white);
  return img;
}

TGglTransform Fit(const std::vector<double>& x, TGglRange y) {
  TGglTransform t;
  t.bx = kW / (x.back() - x.front());
  t.ax = -x.front() * t.bx;
  t.by = -kH / y.Span();
  t.ay = kH - y.min * t.by;
  return t;
}

// Every segment between two neighbouring values on its own, every lone value as a dot.
QImage BruteForce(const std::vector<double>& x, const std::vector<double>& y, const TGglTransform& t) {
  QImage img = Blank();
  QPainter p(&img);
  p.setPen(QPen(Qt::black, 1));
  for (size_t i = 0; i < x.size(); ++i) {
    if (GglIsGap(y[i])) continue;
    const QPointF a(t.Px(x[i]), t.Py(y[i]));
    const bool next = i + 1 < x.size() && !GglIsGap(y[i + 1]);
    p.drawLine(a, next ? QPointF(t.Px(x[i + 1]), t.Py(y[i + 1])) : a);
  }
  return img;
}

QImage Ours(const std::vector<double>& x, const std::vector<double>& y, const TGglTransform& t, int marker = 0,
            bool withSummary = true) {
  CGglSeries s;
  s.Set(long(x.size()), x.data(), y.data());
  QImage img = Blank();
  QPainter p(&img);
  TGglCurveStyle style{Qt::black, 0, 1, marker};
  GglRenderCurve(p, QRectF(0, 0, kW, kH), t, style, s.X(), s.Y(), s.Count(), s.Ascending(), withSummary ? &s : nullptr);
  return img;
}

// The same columns are covered, and each column's extent lies within the other drawing's extent around it.
void ExpectSameCoverage(const QImage& ours, const QImage& brute) {
  const TCoverage o(ours), b(brute);
  int mismatches = 0;
  for (int c = 0; c < kW; ++c) {
    const bool loneO = !o.Empty(c) && b.Empty(c - 1) && b.Empty(c) && b.Empty(c + 1);
    const bool loneB = !b.Empty(c) && o.Empty(c - 1) && o.Empty(c) && o.Empty(c + 1);
    if (loneO || loneB) {
      ++mismatches;
      ADD_FAILURE() << "column " << c << (loneO ? " drawn only by the renderer" : " missing in the renderer");
      continue;
    }
    if (!o.Empty(c)) {
      const auto [lo, hi] = b.Around(c);
      EXPECT_TRUE(o.top[c] >= lo - 1 && o.bottom[c] <= hi + 1)
          << "column " << c << " renderer " << o.top[c] << ".." << o.bottom[c] << " brute " << lo << ".." << hi;
    }
    if (!b.Empty(c)) {
      const auto [lo, hi] = o.Around(c);
      EXPECT_TRUE(b.top[c] >= lo - 1 && b.bottom[c] <= hi + 1)
          << "column " << c << " brute " << b.top[c] << ".." << b.bottom[c] << " renderer " << lo << ".." << hi;
    }
    if (mismatches > 5) return;
  }
}

// Noise with one spike up, one down and a gap over a few percent of the width.
struct TNoisy {
  std::vector<double> x, y;
  size_t spikeUp, spikeDown, gapFrom, gapTo;
  explicit TNoisy(size_t n) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (size_t i = 0; i < n; ++i) x.push_back(i * 0.5), y.push_back(std::sin(i * 6e-5) * 3 + noise(rng));
    spikeUp = n / 3, spikeDown = n * 2 / 3 + 11;
    y[spikeUp] = 40;
    y[spikeDown] = -40;
    gapFrom = n / 2, gapTo = n / 2 + n / 30;
    for (size_t i = gapFrom; i < gapTo; ++i) y[i] = GGL_GAP;
    y[n / 4] = GGL_GAP;  // a lone gap value between dense neighbours
  }
};

TEST(GraphicsRender, DecimatedDrawingCoversWhatEveryPointCovers) {
  const TNoisy d(200000);
  const TGglTransform t = Fit(d.x, {-45, 45});
  const QImage ours = Ours(d.x, d.y, t), brute = BruteForce(d.x, d.y, t);
  ExpectSameCoverage(ours, brute);
  const TCoverage o(ours);
  // The spikes reach their rows, the gap's inner columns stay empty.
  const int up = int(t.Px(d.x[d.spikeUp])), down = int(t.Px(d.x[d.spikeDown]));
  EXPECT_LE(o.top[up], int(t.Py(40)) + 1);
  EXPECT_GE(o.bottom[down], int(t.Py(-40)) - 1);
  for (int c = int(t.Px(d.x[d.gapFrom])) + 2; c < int(t.Px(d.x[d.gapTo])) - 1; ++c)
    EXPECT_TRUE(o.Empty(c)) << "gap column " << c;
  SaveScreenshot(ours, "graphics_decimated_noise");
  SaveScreenshot(brute, "graphics_bruteforce_noise");
}

TEST(GraphicsRender, SummaryAndRawScanGiveTheSamePicture) {
  const TNoisy d(100000);
  const TGglTransform t = Fit(d.x, {-45, 45});
  EXPECT_EQ(Ours(d.x, d.y, t, 0, true), Ours(d.x, d.y, t, 0, false));
  // Zoomed into the middle: the summary is used from an arbitrary first point.
  TGglTransform z = t;
  z.bx *= 37.3;
  z.ax = -d.x[31013] * z.bx;
  EXPECT_EQ(Ours(d.x, d.y, z, 0, true), Ours(d.x, d.y, z, 0, false));
}

TEST(GraphicsRender, FewPointsAreDrawnExactlyWithMarkers) {
  std::vector<double> x, y;
  for (int i = 0; i < 60; ++i) x.push_back(i), y.push_back(i % 9 == 4 ? GGL_GAP : std::cos(i / 4.0));
  const TGglTransform t = Fit(x, {-1.5, 1.5});
  const QImage plain = Ours(x, y, t), brute = BruteForce(x, y, t);
  ExpectSameCoverage(plain, brute);
  const QImage marked = Ours(x, y, t, 7);
  for (size_t i = 1; i + 1 < x.size(); ++i) {
    if (GglIsGap(y[i])) continue;
    // The square's right edge lies 3.5 pixels right of the point, where the line alone leaves white.
    const int c = int(t.Px(x[i]) + 3.5), r = int(t.Py(y[i]));
    bool found = false;
    for (int dc = -1; dc <= 1; ++dc)
      for (int dr = -1; dr <= 1; ++dr) found = found || marked.pixel(c + dc, r + dr) != 0xFFFFFFFF;
    EXPECT_TRUE(found) << "marker of point " << i;
  }
  EXPECT_NE(marked, plain);
}

// x sweeping back and forth (a Lissajous-like trace): decimated in the given order, same coverage.
TEST(GraphicsRender, PointsInAnyOrderCoverWhatEveryPointCovers) {
  const size_t n = 200000;
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<double> x(n), y(n);
  for (size_t i = 0; i < n; ++i) x[i] = 300 + 290 * std::sin(i * 3.1e-4), y[i] = 3 * std::cos(i * 1e-4) + noise(rng);
  const size_t spike = n / 3;
  y[spike] = 40;
  for (size_t i = n / 2; i < n / 2 + n / 50; ++i) y[i] = GGL_GAP;
  const TGglTransform t = Fit({0, 600}, {-45, 45});
  CGglSeries s;
  s.Set(long(n), x.data(), y.data());
  ASSERT_FALSE(s.Ascending());
  const QImage ours = Ours(x, y, t), brute = BruteForce(x, y, t);
  ExpectSameCoverage(ours, brute);
  EXPECT_LE(TCoverage(ours).top[int(t.Px(x[spike]))], int(t.Py(40)) + 1);
  SaveScreenshot(ours, "graphics_sweep");
  // Without a line the points stand alone as a cloud: still the same columns.
  QImage cloud = Blank();
  {
    QPainter p(&cloud);
    GglRenderCurve(p, QRectF(0, 0, kW, kH), t, TGglCurveStyle{Qt::black, GGL_LINE_NONE, 1, 0}, s.X(), s.Y(), s.Count(),
                   false, &s);
  }
  const TCoverage cl(cloud), br(brute);
  for (int c = 10; c < kW - 10; ++c) EXPECT_EQ(cl.Empty(c), br.Empty(c)) << "column " << c;
}

TEST(GraphicsRender, BadInputIsDrawnWithoutCrashing) {
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  std::vector<double> x{0, 1, 2, 3, 4, 5, 6, 7}, y{1, nan, 2, inf, -inf, 1e300, -1e300, 3};
  const TGglTransform t = Fit(x, {0, 4});
  const QImage img = Ours(x, y, t);
  EXPECT_FALSE(TCoverage(img).Empty(int(t.Px(7)) - 1));  // the last value still shows
  // x not ascending: drawn point by point in the given order.
  std::vector<double> back{5, 4, 3, 2, 1, 0, nan, 7};
  std::vector<double> flat(8, 2.0);
  const QImage unordered = Ours(back, flat, t);
  EXPECT_FALSE(TCoverage(unordered).Empty(int(t.Px(2.5))));
  // Every value a gap: nothing at all.
  std::vector<double> gaps(8, GGL_GAP);
  EXPECT_EQ(Ours(x, gaps, t), Blank());
}

// ---- screenshots of whole plot windows

std::vector<double> Xs(long n, double step) {
  std::vector<double> x(n);
  for (long i = 0; i < n; ++i) x[i] = i * step;
  return x;
}

TEST(GraphicsScreenshots, OneSignalWithUnits) {
  TPlot plot(800, 500);
  const std::vector<double> x = Xs(500, 0.02);
  std::vector<double> y;
  for (double v : x) y.push_back(230 * std::sin(v) * std::exp(-v / 8));
  CZentGraphObj& s = plot.AddCurve("Pressure", x, y);
  s.SetXUnit("Time [s]");
  s.SetYUnit("Pressure [mbar]");
  plot.Build();
  const QImage img = plot.Render();
  EXPECT_FALSE(TCoverage(img).Empty(400));
  SaveScreenshot(img, "graphics_one_signal");
}

TEST(GraphicsScreenshots, SeveralSignalsInOneAreaAndEachSeparate) {
  for (int mode : {WM_ALLINONEWND, WM_EACHSEPARATE}) {
    TPlot plot(900, 600);
    const std::vector<double> x = Xs(2000, 0.01);
    for (int k = 0; k < (mode == WM_ALLINONEWND ? 9 : 3); ++k) {
      std::vector<double> y;
      for (double v : x) y.push_back(std::sin(v + k * 0.6) * (k + 1) + k);
      plot.AddCurve("Signal " + std::to_string(k + 1), x, y);
    }
    plot.Build(mode, SM_ALLTHESAME);
    SaveScreenshot(plot.Render(), mode == WM_ALLINONEWND ? "graphics_nine_signals" : "graphics_three_areas");
  }
}

TEST(GraphicsScreenshots, GapsSplitTheLine) {
  TPlot plot(800, 400);
  const std::vector<double> x = Xs(300, 1);
  std::vector<double> y;
  for (size_t i = 0; i < x.size(); ++i) y.push_back((i / 40) % 3 == 2 ? GGL_GAP : std::sin(i / 15.0));
  plot.AddCurve("With gaps", x, y).SetMarker(2);
  std::vector<double> all(x.size(), GGL_GAP);
  plot.AddCurve("All gaps", x, all);
  plot.Build(WM_EACHSEPARATE);
  SaveScreenshot(plot.Render(), "graphics_gaps");
}

TEST(GraphicsScreenshots, TenMillionPointsAndAZoomToRealPoints) {
  const long n = 10'000'000;
  TPlot plot(1200, 800);
  plot.curves.push_back(std::make_unique<CZentGraphObj>("10 million points"));
  CZentGraphObj& s = *plot.curves.back();
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 0.2);
  std::vector<double> x(100000), y(100000);
  for (long i = 0; i < n; i += long(x.size())) {  // appended in pieces, as a script streams data
    for (size_t k = 0; k < x.size(); ++k) {
      const long j = i + long(k);
      x[k] = j * 1e-4;
      y[k] = j % 1'000'003 == 0 ? 8.0 : (j / 250'000) % 13 == 5 ? GGL_GAP : std::sin(j * 2e-6) * 2 + noise(rng);
    }
    s.AddData(long(x.size()), x.data(), y.data());
  }
  s.SetXUnit("t [s]");
  s.SetYUnit("U [V]");
  plot.Build();
  SaveScreenshot(plot.Render(), "graphics_ten_million");
  // A few hundred points: the real points with their markers.
  s.SetMarker(1);
  const long i = 5'000'100;
  const double* ys = s.Data().Y();
  GglSetVisibleRanges(plot.Main(), plot.Id(), 0, {500.0, 500.03}, {ys[i] - 1.0, ys[i] + 1.0});
  const QImage zoomed = plot.Render();
  SaveScreenshot(zoomed, "graphics_ten_million_zoomed");
  TGglPoint p;
  GglDataToPixel(plot.Main(), plot.Id(), &s, s.Data().X()[i], s.Data().Y()[i], &p);
  EXPECT_NE(zoomed.pixel(int(p.x), int(p.y)), 0xFFFFFFFF);
}

}  // namespace

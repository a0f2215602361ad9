// bench_plot: a 1200 x 800 plot window with one signal of 10,000,000 points (noise, spikes and gaps) is
// redrawn into an offscreen image by our library; the baseline draws the same points as one QPainter
// polyline into an image of the same size in the same run. Also the same points with x not ascending, and
// the cost per appended point of a signal ten times longer against a shorter one, which stays near 1 when
// appending is amortised constant time.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "graphics/Zentdrawsubwnd.h"
#include "graphics/Zentgraphobj.h"
#include "graphics/Zentlggl.h"

namespace {

constexpr long kPoints = 10'000'000;
constexpr int kWidth = 1200, kHeight = 800;

void MakeData(long n, std::vector<double>& x, std::vector<double>& y) {
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 0.2);
  x.resize(n);
  y.resize(n);
  for (long i = 0; i < n; ++i) {
    x[i] = i * 1e-4;
    y[i] = i % 1'000'003 == 0 ? 8.0 : (i / 250'000) % 13 == 5 ? GGL_GAP : std::sin(i * 2e-6) * 2 + noise(rng);
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Milliseconds per full redraw of the plot window (axes, grid, legend and the curve).
double OurRedraw(const std::vector<double>& x, const std::vector<double>& y, int rounds) {
  CGglMainWnd mainWnd;
  mainWnd.Create(nullptr, kWidth, kHeight, 1);
  CZentDrawSubWnd area(mainWnd, 1);
  area.Create();
  CZentGraphObj s("10 million points");
  s.SetData(long(x.size()), x.data(), y.data());
  TGglExtent* e[] = {&s.extent};
  GglComputeScales(e, SM_EACHFULLSCALE);
  area.PlaceSignal(s, 0);
  QImage image;
  std::vector<double> ms;
  for (int r = 0; r < rounds; ++r) {
    GglRedraw(mainWnd.handle);
    QElapsedTimer t;
    t.start();
    GglRenderToImage(mainWnd.handle, image);
    ms.push_back(t.nsecsElapsed() / 1e6);
  }
  return Median(ms);
}

// Milliseconds per drawing of every point as one polyline (points already in pixels, gaps left out).
double PolylineRedraw(const std::vector<double>& x, const std::vector<double>& y, int rounds) {
  const double x0 = x.front(), sx = (kWidth - 1) / (x.back() - x0);
  QPolygonF poly;
  poly.reserve(qsizetype(x.size()));
  for (size_t i = 0; i < x.size(); ++i)
    if (!GglIsGap(y[i])) poly.append(QPointF((x[i] - x0) * sx, kHeight / 2.0 - y[i] * 60));
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  std::vector<double> ms;
  for (int r = 0; r < rounds; ++r) {
    QElapsedTimer t;
    t.start();
    image.fill(Qt::white);
    QPainter p(&image);
    p.setPen(QPen(Qt::red, 1));
    p.drawPolyline(poly);
    p.end();
    ms.push_back(t.nsecsElapsed() / 1e6);
  }
  return Median(ms);
}

// Nanoseconds per point when a signal grows to n points one point at a time.
double AppendPerPoint(long n) {
  CZentGraphObj s("append");
  QElapsedTimer t;
  t.start();
  for (long i = 0; i < n; ++i) {
    const double x = double(i), y = std::sin(i * 1e-3);
    s.AddData(1, &x, &y);
  }
  return double(t.nsecsElapsed()) / n;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  std::vector<double> x, y;
  MakeData(kPoints, x, y);
  const double ours = OurRedraw(x, y, 21);
  const double poly = PolylineRedraw(x, y, 3);
  std::printf("redraw of %ld points in %d x %d: ours %.2f ms (target < 16 ms), one polyline %.1f ms, ratio %.1fx\n",
              kPoints, kWidth, kHeight, ours, poly, poly / ours);
  // The same points with x sweeping back and forth: no search or summary helps, every point is walked.
  for (long i = 0; i < kPoints; ++i) x[i] = 500 + 499 * std::sin(i * 3e-6);
  const double sweep = OurRedraw(x, y, 5);
  std::printf("redraw of %ld points with x not ascending: ours %.2f ms, one polyline %.1f ms, ratio %.1fx\n", kPoints,
              sweep, poly, poly / sweep);
  // Both lengths are far beyond the caches, so the ratio shows the growth of the work per point (ten
  // times the length would give ten times the cost if appending copied or scanned the signal).
  const double shortRun = AppendPerPoint(kPoints / 10), longRun = AppendPerPoint(kPoints);
  std::printf("append one point at a time: %.1f ns/point up to %ld points, %.1f ns/point up to %ld (ratio %.2f)\n",
              shortRun, kPoints / 10, longRun, kPoints, longRun / shortRun);
  return 0;
}

// The library's operations: handles and ids, result codes on bad input, conversion both ways, hit test,
// visible and full ranges, stop and resume of drawing, the zoom rectangle and object attributes.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <limits>
#include <vector>

#include "PlotFixture.h"
#include "graphics/Gglrender.h"
#include "graphics/Zentgraphobj.h"
#include "graphics/Zentlggl.h"

namespace {

using plottest::TPlot;

std::vector<double> Ramp(int n, double from, double step) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = from + i * step;
  return v;
}

TEST(GraphicsLibrary, HandlesAndIdsAndRefusals) {
  TPlot plot;
  ASSERT_TRUE(plot.ok);
  EXPECT_NE(plot.Main(), 0);
  CZentDrawSubWnd& a = plot.AddArea();
  CZentDrawSubWnd& b = plot.AddArea();
  EXPECT_NE(a.Id(), b.Id());
  EXPECT_EQ(plot.mainWnd.areas.size(), 2u);
  EXPECT_EQ(CGglSubWnd::Find(plot.Main(), b.Id()), &b);

  TGglRange x, y;
  EXPECT_EQ(GglGetVisibleRanges(plot.Main() + 999, a.Id(), 0, &x, &y), GGL_EHANDLE);
  EXPECT_EQ(GglGetVisibleRanges(plot.Main(), 999, 0, &x, &y), GGL_EID);
  EXPECT_EQ(GglSetVisibleRanges(plot.Main(), a.Id(), 0, {0, std::nan("")}, {0, 1}), GGL_EARG);
  EXPECT_EQ(GglSetMouseCallback(plot.Main(), 99, {}), GGL_EARG);
  EXPECT_EQ(GglShowGrid(plot.Main(), 2, 1), GGL_EARG);
  int id = 0;
  EXPECT_EQ(GglCreateSubWnd(plot.Main(), 0, {1, 1}, {0, std::numeric_limits<double>::infinity()}, {}, {}, &id),
            GGL_EARG);
  EXPECT_EQ(GglCreateMainWnd(0, nullptr, 200, 1, 0, 0, 0, 0, -5, 10, 42, ""), 0);
  // Drawing a polyline outside a draw callback has nothing to draw into.
  const double v[2] = {0, 1};
  EXPECT_EQ(GglDrawPolyline(plot.Main(), a.Id(), v, v, 2), GGL_ESTATE);

  CZentGraphObj obj("s");
  const std::vector<double> xs = Ramp(3, 0, 1);
  obj.SetData(3, xs.data(), xs.data());
  EXPECT_EQ(GglPlaceObject(plot.Main(), a.Id(), &obj, 0, 0, -1, 0, 9, 1, 0, {0, 1}, {0, 1}, {}, {}), GGL_EARG);
  EXPECT_EQ(GglPlaceObject(plot.Main(), a.Id(), &obj, 0, 0, -1, 0, 0, 1, 12, {0, 1}, {0, 1}, {}, {}), GGL_EARG);
  EXPECT_EQ(obj.PlacedMain(), 0);
  EXPECT_EQ(GglPlaceObject(plot.Main(), a.Id(), &obj, 0, 0, -1, 0, 0, 1, GGL_MARKER_MINICIRCLE, {0, 1}, {0, 1}, {}, {}),
            GGL_OK);
  EXPECT_EQ(GglPlaceObject(plot.Main(), b.Id(), &obj, 0, 0, -1, 0, 0, 1, 0, {0, 1}, {0, 1}, {}, {}), GGL_EOBJECT);
  EXPECT_EQ(GglRemoveObject(plot.Main(), b.Id(), &obj), GGL_EOBJECT);
  EXPECT_EQ(GglRemoveObject(plot.Main(), a.Id(), &obj), GGL_OK);
  EXPECT_EQ(obj.PlacedMain(), 0);
}

TEST(GraphicsLibrary, DestroyingAMainWindowOrAnObjectLeavesNothingDangling) {
  auto obj = std::make_unique<CZentGraphObj>("gone");
  TGglHandle main;
  int id = 0;
  {
    TPlot plot;
    CZentDrawSubWnd& a = plot.AddArea();
    main = plot.Main();
    id = a.Id();
    ASSERT_EQ(a.PlaceSignal(*obj, 0), GGL_OK);
    EXPECT_EQ(obj->PlacedMain(), main);
  }
  EXPECT_EQ(obj->PlacedMain(), 0);  // the window went, the object stays with its owner
  EXPECT_EQ(GglRedraw(main), GGL_EHANDLE);

  TPlot plot;
  CZentDrawSubWnd& a = plot.AddArea();
  ASSERT_EQ(a.PlaceSignal(*obj, 0), GGL_OK);
  obj.reset();  // an object destroyed while placed leaves its area
  EXPECT_EQ(GglCurrentObject(plot.Main(), a.Id()), nullptr);
  EXPECT_FALSE(plot.Render().isNull());
  (void)id;
}

TEST(GraphicsLibrary, ConversionBothWaysInReferenceAndObjectScales) {
  TPlot plot;
  plot.AddCurve("a", {0, 10}, {0, 100});
  plot.AddCurve("b", {0, 10}, {-1, 1});
  plot.Build(WM_ALLINONEWND, SM_EACHFULLSCALE);
  const TGglHandle m = plot.Main();
  const int id = plot.Id();
  double l, t, r, b;
  ASSERT_EQ(GglGetPlotRect(m, id, &l, &t, &r, &b), GGL_OK);
  TGglRange fx, fy, vx, vy;
  GglGetFullRanges(m, id, 0, &fx, &fy);
  GglGetVisibleRanges(m, id, 0, &vx, &vy);
  EXPECT_EQ(fx, vx);
  EXPECT_EQ(fy, vy);
  // The corners of the plot are the corners of the visible ranges.
  TGglPoint p;
  ASSERT_EQ(GglDataToPixel(m, id, nullptr, vx.min, vy.max, &p), GGL_OK);
  EXPECT_NEAR(p.x, l, 1e-9);
  EXPECT_NEAR(p.y, t, 1e-9);
  GglDataToPixel(m, id, nullptr, vx.max, vy.min, &p);
  EXPECT_NEAR(p.x, r, 1e-9);
  EXPECT_NEAR(p.y, b, 1e-9);
  // Each object's own scale fills the plot: its view corners land on the same pixels.
  for (auto& c : plot.curves) {
    GglDataToPixel(m, id, c.get(), c->extent.viewX.min, c->extent.viewY.min, &p);
    EXPECT_NEAR(p.x, l, 1e-9);
    EXPECT_NEAR(p.y, b, 1e-9);
  }
  // Round trips, inside and outside the plot, after zooming too.
  GglSetVisibleRanges(m, id, 0, {2, 3}, {fy.min, fy.min + fy.Span() / 4});
  for (const CGglObj* o : {static_cast<const CGglObj*>(nullptr), static_cast<const CGglObj*>(plot.curves[1].get())})
    for (double px : {-50.0, l, (l + r) / 2, r + 100})
      for (double py : {t, b + 30}) {
        TGglPoint d, back;
        ASSERT_EQ(GglPixelToData(m, id, o, px, py, &d), GGL_OK);
        ASSERT_EQ(GglDataToPixel(m, id, o, d.x, d.y, &back), GGL_OK);
        EXPECT_NEAR(back.x, px, 1e-6);
        EXPECT_NEAR(back.y, py, 1e-6);
      }
  CZentGraphObj stranger("x");
  EXPECT_EQ(GglPixelToData(m, id, &stranger, 1, 1, &p), GGL_EOBJECT);
}

TEST(GraphicsLibrary, HitTestFindsTheCurveUnderThePixel) {
  TPlot plot;
  plot.AddCurve("low", Ramp(11, 0, 1), std::vector<double>(11, 1.0));
  plot.AddCurve("high", Ramp(11, 0, 1), std::vector<double>(11, 9.0));
  plot.Build(WM_ALLINONEWND, SM_ALLTHESAME);
  const TGglHandle m = plot.Main();
  const int id = plot.Id();
  for (auto& c : plot.curves) {
    TGglPoint p;
    GglDataToPixel(m, id, c.get(), 4.5, c->extent.minY, &p);
    CGglObj* hit = nullptr;
    EXPECT_EQ(GglObjectAt(m, id, int(p.x), int(p.y) + 2, &hit), GGL_OK);
    EXPECT_EQ(hit, c.get());
  }
  TGglPoint mid;
  GglDataToPixel(m, id, nullptr, 4.5, 5.0, &mid);
  CGglObj* hit = plot.curves[0].get();
  EXPECT_EQ(GglObjectAt(m, id, int(mid.x), int(mid.y), &hit), GGL_NOHIT);
  EXPECT_EQ(hit, nullptr);
  // Left of the data there is no value, so nothing is hit.
  GglDataToPixel(m, id, nullptr, -1, 1.0, &mid);
  EXPECT_EQ(GglObjectAt(m, id, int(mid.x), int(mid.y), &hit), GGL_NOHIT);
  // The base class answers 42 pixels: never a hit.
  struct TPlain : CGglObj {
  } plain;
  ASSERT_EQ(GglPlaceObject(m, id, &plain, 0, 0, -1, 0, 0, 1, 0, {0, 1}, {0, 1}, {}, {}), GGL_OK);
  double d = 0;
  EXPECT_TRUE(plain.Distance(m, id, 0, 0, &d));
  EXPECT_EQ(d, 42.0);
}

TEST(GraphicsLibrary, FullRangeFollowsScalesUntilZoomed) {
  TPlot plot;
  CZentDrawSubWnd& a = plot.AddArea();
  TGglRange x, y;
  GglGetFullRanges(plot.Main(), a.Id(), 0, &x, &y);
  EXPECT_EQ(x, (TGglRange{0, 100}));  // an empty area keeps its creation ranges
  CZentGraphObj o("o");
  o.extent.viewX = {10, 20};
  o.extent.viewY = {-5, 5};
  ASSERT_EQ(a.PlaceSignal(o, 0), GGL_OK);
  GglGetVisibleRanges(plot.Main(), a.Id(), 0, &x, &y);
  EXPECT_EQ(x, (TGglRange{10, 20}));
  EXPECT_EQ(y, (TGglRange{-5, 5}));
  GglSetVisibleRanges(plot.Main(), a.Id(), 0, {14, 12}, {0, 1});  // reversed: put in order
  GglSetObjectScale(plot.Main(), a.Id(), &o, {10, 30}, {-5, 5});
  GglGetVisibleRanges(plot.Main(), a.Id(), 0, &x, &y);
  EXPECT_EQ(x, (TGglRange{12, 14}));  // a zoomed area keeps its view when the data grows
  GglShowFullRange(plot.Main(), a.Id(), 0);
  GglGetVisibleRanges(plot.Main(), a.Id(), 0, &x, &y);
  EXPECT_EQ(x, (TGglRange{10, 30}));
}

TEST(GraphicsLibrary, StoppedAreaKeepsItsPictureUntilResumed) {
  TPlot plot(400, 300);
  plot.AddCurve("a", {0, 1}, {0, 1});
  plot.Build();
  const QImage before = plot.Render();
  GglEnableDrawing(plot.Main(), plot.Id(), 0);
  GglSetVisibleRanges(plot.Main(), plot.Id(), 0, {0.5, 0.6}, {0.9, 1.0});
  EXPECT_EQ(plot.Render(), before);
  GglEnableDrawing(plot.Main(), plot.Id(), 1);
  EXPECT_NE(plot.Render(), before);
}

TEST(GraphicsLibrary, ZoomRectangleDrawnTwiceIsErased) {
  TPlot plot(400, 300);
  plot.AddArea();
  const QImage plain = plot.Render();
  bool drawing = false, shown = true;
  GglDrawZoomRect(plot.Main(), plot.Id(), 100, 50, 200, 150);
  GglGetAreaState(plot.Main(), plot.Id(), &drawing, &shown);
  EXPECT_TRUE(shown);
  EXPECT_NE(plot.Render(), plain);
  GglDrawZoomRect(plot.Main(), plot.Id(), 100, 50, 200, 150);
  GglGetAreaState(plot.Main(), plot.Id(), &drawing, &shown);
  EXPECT_FALSE(shown);
  EXPECT_EQ(plot.Render(), plain);
}

TEST(GraphicsLibrary, ObjectAttributesTitlesAndOverrides) {
  TPlot plot;
  for (int i = 0; i < 9; ++i) plot.AddCurve("s" + std::to_string(i), {0, 1}, {0, 1});
  plot.curves[3]->SetLineStyle(4);
  plot.curves[4]->SetMarker(7);
  plot.Build();
  const TGglHandle m = plot.Main();
  const int id = plot.Id();
  for (int i = 0; i < 9; ++i) {
    TGglObjAttr a;
    ASSERT_EQ(GglGetObjectAttr(m, id, plot.curves[i].get(), &a), GGL_OK);
    EXPECT_EQ(a.colour, GGL_COLOURS[i % 7]);
    EXPECT_EQ(a.lineStyle, i == 3 ? 4 : i >= 7 ? 1 : 0) << i;
    EXPECT_EQ(a.marker, i == 4 ? 7 : 0);
    std::string title;
    GglGetObjectTitles(m, id, plot.curves[i].get(), &title, nullptr, nullptr);
    EXPECT_EQ(title, "s" + std::to_string(i));
  }
  CZentGraphObj& s = *plot.curves[0];
  int redraws = 0;
  s.requestRedraw = [&] { ++redraws; };
  EXPECT_EQ(s.SetMarker(GGL_MARKER_MINICIRCLE), GGL_OK);
  EXPECT_EQ(s.GetMarker(), GGL_MARKER_MINICIRCLE);
  EXPECT_EQ(s.GetLineStyle(), 0);  // the other attribute as it was
  EXPECT_EQ(s.SetLineStyle(6), GGL_EARG);
  EXPECT_EQ(s.SetMarker(12), GGL_EARG);
  EXPECT_EQ(s.SetLineStyle(-1), GGL_EARG);
  EXPECT_EQ(s.GetLineStyle(), 0);
  EXPECT_EQ(s.SetLineStyle(GGL_LINE_NONE), GGL_OK);
  EXPECT_EQ(s.lineStyle, GGL_LINE_NONE);
  EXPECT_EQ(s.marker, GGL_MARKER_MINICIRCLE);
  s.SetTitle("renamed");
  s.SetXUnit("s");
  s.SetYUnit("V");
  std::string title, xt, yt;
  GglGetObjectTitles(m, id, &s, &title, &xt, &yt);
  EXPECT_EQ(title, "renamed");
  EXPECT_EQ(xt, "s");
  EXPECT_EQ(yt, "V");
  EXPECT_EQ(redraws, 5);
}

TEST(GraphicsLibrary, SignalDataRefusesEmptyAndKeepsRangesWhileAppending) {
  CZentGraphObj s("s");
  int rescales = 0;
  s.requestRescale = [&] { ++rescales; };
  const double one = 1.0;
  EXPECT_FALSE(s.SetData(0, &one, &one));
  EXPECT_FALSE(s.AddData(-3, &one, &one));
  EXPECT_EQ(rescales, 0);
  const std::vector<double> x1{0, 1, 2}, y1{GGL_GAP, GGL_GAP, GGL_GAP};
  s.SetData(3, x1.data(), y1.data());
  EXPECT_EQ(s.extent.minY, 0.0);
  EXPECT_EQ(s.extent.maxY, 1.0);
  const std::vector<double> x2{3, 4}, y2{-7, 5};
  s.AddData(2, x2.data(), y2.data());
  EXPECT_EQ(s.extent.minY, -7);
  EXPECT_EQ(s.extent.maxY, 5);
  const std::vector<double> x3{5}, y3{std::nan("")};
  s.AddData(1, x3.data(), y3.data());
  EXPECT_EQ(s.extent.firstX, 0);
  EXPECT_EQ(s.extent.lastX, 5);
  EXPECT_EQ(s.extent.minY, -7);
  EXPECT_EQ(s.Count(), 6);
  EXPECT_EQ(rescales, 3);
  // Appending matches setting everything at once, summary included.
  CZentGraphObj whole("w");
  std::vector<double> x, y;
  for (int i = 0; i < 1000; ++i) x.push_back(i), y.push_back(i % 17 == 0 ? GGL_GAP : std::sin(i));
  whole.SetData(1000, x.data(), y.data());
  CZentGraphObj parts("p");
  parts.SetData(1, x.data(), y.data());
  for (int i = 1; i < 1000; i += 37) parts.AddData(std::min(37, 1000 - i), x.data() + i, y.data() + i);
  ASSERT_EQ(parts.Count(), 1000);
  EXPECT_EQ(parts.extent.minY, whole.extent.minY);
  EXPECT_EQ(parts.extent.maxY, whole.extent.maxY);
  ASSERT_EQ(parts.Data().Blocks().size(), whole.Data().Blocks().size());
  for (size_t b = 0; b < whole.Data().Blocks().size(); ++b) {
    EXPECT_EQ(parts.Data().Blocks()[b].min, whole.Data().Blocks()[b].min);
    EXPECT_EQ(parts.Data().Blocks()[b].max, whole.Data().Blocks()[b].max);
  }
}

}  // namespace

namespace {

// An object that draws its own arrays through the plain polyline operation, as a foreign object would.
struct TArrayObj : CGglObj {
  std::vector<double> x, y;
  long count = 0;
  int result = 1;
  void Draw(TGglHandle main, int id) override { result = GglDrawPolyline(main, id, x.data(), y.data(), count); }
};

TEST(GraphicsLibrary, PlainPolylineDrawsLikeTheSeries) {
  std::vector<double> x, y;
  for (int i = 0; i < 50000; ++i) x.push_back(i), y.push_back(i % 1000 == 0 ? GGL_GAP : std::sin(i / 900.0));
  QImage images[2];
  for (int k = 0; k < 2; ++k) {
    TPlot plot(700, 400);
    TArrayObj plain;
    plain.x = x, plain.y = y, plain.count = long(x.size());
    CZentGraphObj series("curve");
    series.SetData(long(x.size()), x.data(), y.data());
    TGglExtent* e[] = {&series.extent};
    GglComputeScales(e, SM_EACHFULLSCALE);
    CZentDrawSubWnd& a = plot.AddArea();
    if (k == 0) {
      ASSERT_EQ(a.PlaceSignal(series, 0), GGL_OK);
    } else {
      ASSERT_EQ(GglPlaceObject(plot.Main(), a.Id(), &plain, 0, 0, -1, GGL_COLOURS[0], 0, 1, 0, series.extent.viewX,
                               series.extent.viewY, {}, {}),
                GGL_OK);
      GglSetObjectTitle(plot.Main(), a.Id(), &plain, "curve");
    }
    images[k] = plot.Render();
    if (k == 1) {
      EXPECT_EQ(plain.result, GGL_OK);
      plain.count = -1;  // a negative count is refused, and nothing is drawn
      const QImage refused = plot.Render();
      EXPECT_EQ(plain.result, GGL_EARG);
      EXPECT_NE(refused, images[1]);
    }
  }
  EXPECT_EQ(images[0], images[1]);
}

}  // namespace

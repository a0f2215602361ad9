// The plot areas' gestures through the widget's mouse input: zoom box, axis-band drags, double-click back
// to the full range, click to select a curve; zooming is coupled across all areas.
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <cmath>
#include <vector>

#include "PlotFixture.h"

namespace {

using plottest::TPlot;

// Two signals, one area each, x 0..100 and y of their own.
struct GraphicsGestures : ::testing::Test {
  void SetUp() override {
    std::vector<double> x, a, b;
    for (int i = 0; i <= 1000; ++i) x.push_back(i / 10.0), a.push_back(std::sin(i / 50.0)), b.push_back(i / 100.0);
    plot.AddCurve("sine", x, a);
    plot.AddCurve("ramp", x, b);
    plot.Build(WM_EACHSEPARATE, SM_EACHFULLSCALE);
    widget = GglMainWidget(plot.Main());
    ASSERT_NE(widget, nullptr);
    widget->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    GglGetPlotRect(plot.Main(), plot.Id(0), &l, &t, &r, &b_);
  }
  // A point of the first area (its top left is the widget's).
  QPoint At(double fx, double fy) const { return QPoint(int(l + fx * (r - l)), int(t + fy * (b_ - t))); }
  void Drag(QPoint from, QPoint to, QPoint origin = {}) {
    QTest::mousePress(widget, Qt::LeftButton, {}, origin + from);
    QTest::mouseMove(widget, origin + (from + to) / 2);
    QTest::mouseMove(widget, origin + to);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, origin + to);
  }
  TGglRange Visible(size_t area, int axis) const {
    TGglRange x, y;
    GglGetVisibleRanges(plot.Main(), plot.Id(area), 0, &x, &y);
    return axis == 0 ? x : y;
  }
  TGglPoint Data(QPoint p) const {
    TGglPoint d;
    GglPixelToData(plot.Main(), plot.Id(0), nullptr, p.x(), p.y(), &d);
    return d;
  }

  TPlot plot{800, 600};
  QWidget* widget = nullptr;
  double l = 0, t = 0, r = 0, b_ = 0;
};

TEST_F(GraphicsGestures, ZoomBoxZoomsEveryAreaAndDoubleClickShowsAllAgain) {
  const TGglRange fullY1 = Visible(1, 1);
  const QPoint from = At(0.25, 0.2), to = At(0.5, 0.6);
  const TGglPoint a = Data(from), b = Data(to);
  Drag(from, to);
  for (size_t area = 0; area < 2; ++area) {
    EXPECT_NEAR(Visible(area, 0).min, a.x, 1e-9);
    EXPECT_NEAR(Visible(area, 0).max, b.x, 1e-9);
    EXPECT_NEAR(Visible(area, 1).min, b.y, 1e-9);
    EXPECT_NEAR(Visible(area, 1).max, a.y, 1e-9);
  }
  bool drawing = false, shown = true;
  GglGetAreaState(plot.Main(), plot.Id(0), &drawing, &shown);
  EXPECT_TRUE(drawing);
  EXPECT_FALSE(shown);  // the rectangle is gone after the gesture
  plottest::SaveScreenshot(plot.Render(), "graphics_zoomed_two_areas");

  QTest::mouseDClick(widget, Qt::LeftButton, {}, At(0.5, 0.5));
  EXPECT_EQ(Visible(0, 0), (TGglRange{0, 100}));
  EXPECT_EQ(Visible(1, 1), fullY1);
}

TEST_F(GraphicsGestures, ZoomBoxWithoutHeightOrOutsideThePlotDoesNothing) {
  const TGglRange x = Visible(0, 0), y = Visible(0, 1);
  Drag(At(0.2, 0.5), At(0.7, 0.5));  // a horizontal line
  EXPECT_EQ(Visible(0, 0), x);
  EXPECT_EQ(Visible(0, 1), y);
  // Dragged beyond the plot: the end corner stops at its edge.
  Drag(At(0.5, 0.5), At(1.5, 1.5) + QPoint(0, 0));
  EXPECT_NEAR(Visible(0, 0).max, x.max, 1e-6);
  EXPECT_NEAR(Visible(0, 1).min, y.min, (y.max - y.min) / (b_ - t));
}

TEST_F(GraphicsGestures, DraggingTheXAxisBandPansWithinTheFullRange) {
  Drag(At(0.4, 0.2), At(0.6, 0.6));  // zoom in first: 40..60
  const TGglRange zoomedX = Visible(0, 0), y1 = Visible(1, 1);
  const QPoint band(int((l + r) / 2), int(b_) + 10);
  ASSERT_EQ(plot.areas[0]->DragState(), 0);
  Drag(band, band + QPoint(-40, 0));  // pulled left: the view moves to smaller x
  const TGglRange panned = Visible(0, 0);
  EXPECT_LT(panned.min, zoomedX.min);
  EXPECT_NEAR(panned.Span(), zoomedX.Span(), 1e-9);
  EXPECT_EQ(Visible(1, 0), panned);   // coupled
  EXPECT_EQ(Visible(1, 1), y1);       // the other axis stays
  Drag(band, band + QPoint(600, 0));  // far right: stops at the end of the data
  EXPECT_NEAR(Visible(0, 0).max, 100.0, 1e-9);
  EXPECT_NEAR(Visible(0, 0).Span(), zoomedX.Span(), 1e-9);
}

TEST_F(GraphicsGestures, DraggingTheYAxisBandPansY) {
  Drag(At(0.1, 0.4), At(0.9, 0.6));
  const TGglRange x = Visible(0, 0), y = Visible(0, 1);
  const QPoint band(int(l) - 20, int((t + b_) / 2));
  Drag(band, band + QPoint(0, 30));  // pulled down
  EXPECT_EQ(Visible(0, 0), x);
  EXPECT_NE(Visible(0, 1), y);
  EXPECT_NEAR(Visible(0, 1).Span(), y.Span(), 1e-9);
}

TEST_F(GraphicsGestures, PressOnACurveSelectsItAndStartsNoZoom) {
  // The second area's curve is a ramp: find its pixel at x = 50 and click just beside it.
  CZentGraphObj* ramp = plot.curves[1].get();
  TGglPoint p;
  GglDataToPixel(plot.Main(), plot.Id(1), ramp, 50.0, 5.0, &p);
  const QPoint origin(0, widget->height() / 2);
  CGglObj* before = GglCurrentObject(plot.Main(), plot.Id(1));
  EXPECT_EQ(before, ramp);  // the only one there
  const TGglRange x = Visible(0, 0);
  QTest::mouseClick(widget, Qt::LeftButton, {}, origin + QPoint(int(p.x), int(p.y) + 1));
  EXPECT_EQ(GglCurrentObject(plot.Main(), plot.Id(1)), ramp);
  EXPECT_EQ(plot.areas[1]->DragState(), 0);
  // A press on a curve never starts a zoom box.
  Drag(QPoint(int(p.x), int(p.y)), QPoint(int(p.x) + 60, int(p.y) + 60), origin);
  EXPECT_EQ(Visible(0, 0), x);
}

TEST(GraphicsGesturesOneArea, ClickSelectsAmongCurvesOfOneArea) {
  TPlot plot(600, 400);
  std::vector<double> x{0, 10};
  plot.AddCurve("low", x, {1, 1});
  plot.AddCurve("high", x, {9, 9});
  plot.Build(WM_ALLINONEWND, SM_ALLTHESAME);
  QWidget* w = GglMainWidget(plot.Main());
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  EXPECT_EQ(GglCurrentObject(plot.Main(), plot.Id()), plot.curves[0].get());
  TGglPoint p;
  GglDataToPixel(plot.Main(), plot.Id(), plot.curves[1].get(), 5, 9, &p);
  QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(int(p.x), int(p.y)));
  EXPECT_EQ(GglCurrentObject(plot.Main(), plot.Id()), plot.curves[1].get());
  plottest::SaveScreenshot(plot.Render(), "graphics_selected_curve");
}

}  // namespace

namespace {

// Every mouse event the widget reports, with its area-relative positions.
struct TEventLog {
  struct TEvent {
    int code, id;
    QPoint a, b;
  };
  std::vector<TEvent> events;
  void Register(TGglHandle main) {
    for (int code = 0; code < GGL_MOUSEEVENTS; ++code)
      GglSetMouseCallback(main, code, [this, code](TGglHandle, int id, int x, int y, int x2, int y2) {
        events.push_back({code, id, {x, y}, {x2, y2}});
      });
  }
  std::vector<int> Codes() const {
    std::vector<int> c;
    for (const TEvent& e : events) c.push_back(e.code);
    return c;
  }
};

TEST(GraphicsMouseEvents, WidgetReportsEachGestureWithItsCode) {
  TPlot plot(400, 400);
  plot.AddArea();
  plot.AddArea();
  TEventLog log;
  log.Register(plot.Main());
  QWidget* w = GglMainWidget(plot.Main());
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  const QPoint p(100, 50), lower(100, 250);

  auto expect = [&](std::vector<int> codes, const char* what) {
    EXPECT_EQ(log.Codes(), codes) << what;
    log.events.clear();
  };
  QTest::mouseClick(w, Qt::LeftButton, {}, p);
  expect({GGL_CLICKLEFTDOWN, GGL_CLICKLEFT}, "left click");
  QTest::mouseClick(w, Qt::RightButton, Qt::ShiftModifier, p);
  expect({GGL_CLICKRIGHTDOWN, GGL_SHIFTCLICKRIGHT}, "shift right click");
  QTest::mouseClick(w, Qt::LeftButton, Qt::ControlModifier, p);
  expect({GGL_CLICKLEFTDOWN, GGL_CTRLCLICKLEFT}, "ctrl left click");
  QTest::mouseDClick(w, Qt::LeftButton, {}, p);
  const std::vector<int> dbl = log.Codes();
  ASSERT_FALSE(dbl.empty());
  EXPECT_EQ(dbl.back(), GGL_DBLCLICKLEFT);
  log.events.clear();

  QTest::mousePress(w, Qt::LeftButton, Qt::ShiftModifier, lower);
  QTest::mouseMove(w, lower + QPoint(20, 10));
  QTest::mouseRelease(w, Qt::LeftButton, Qt::ShiftModifier, lower + QPoint(20, 10));
  ASSERT_EQ(log.Codes(), (std::vector<int>{GGL_CLICKLEFTDOWN, GGL_SHIFTDRAGLEFT, GGL_SHIFTDRAGENDLEFT}));
  // Positions are the lower area's own, and the drag carries its start.
  EXPECT_EQ(log.events[1].id, plot.Id(1));
  EXPECT_EQ(log.events[1].a, QPoint(100, 50));
  EXPECT_EQ(log.events[1].b, QPoint(120, 60));
  log.events.clear();

  QTest::mousePress(w, Qt::RightButton, {}, p);
  QTest::mouseMove(w, p + QPoint(1, 1));  // below the drag threshold: still a click
  QTest::mouseRelease(w, Qt::RightButton, {}, p + QPoint(1, 1));
  expect({GGL_CLICKRIGHTDOWN, GGL_CLICKRIGHT}, "right click with a tremble");
  QTest::mousePress(w, Qt::RightButton, Qt::ControlModifier, p);
  QTest::mouseMove(w, p + QPoint(30, 0));
  QTest::mouseRelease(w, Qt::RightButton, Qt::ControlModifier, p + QPoint(30, 0));
  expect({GGL_CLICKRIGHTDOWN, GGL_CTRLDRAGRIGHT, GGL_CTRLDRAGENDRIGHT}, "ctrl right drag");
  QTest::mouseMove(w, lower);
  ASSERT_FALSE(log.events.empty());
  EXPECT_EQ(log.events.back().code, GGL_MOUSEMOVE);
  EXPECT_EQ(log.events.back().id, plot.Id(1));
}

}  // namespace

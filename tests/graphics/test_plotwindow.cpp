// Plot windows (TGraphicForm) and their script bindings on the GUI thread, offscreen: window-mode
// rebuilds, scale modes, deferred updates coalescing, closing; scripts that plot, two scripts on one
// window, a window closed under a writing script; screenshots of the typical plots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cmath>
#include <string>
#include <vector>

#include "PlotFixture.h"
#include "PlotScriptRun.h"

using namespace plottest;

namespace {

using Lines = std::vector<std::string>;

void Feed(IPlotSignal* s, std::vector<double> x, std::vector<double> y) {
  s->SetData(long(x.size()), x.data(), y.data());
}

QImage Shot(TGraphicForm& form, const char* name) {
  QImage image;
  GglRenderToImage(form.MainHandle(), image);
  SaveScreenshot(image, name);
  return image;
}

// Distinct colours in the image (a curve drawn shows its colour).
bool HasColour(const QImage& image, QRgb rgb) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF)) return true;
  return false;
}

TEST(PlotWindow, CaptionSizeAndTheRegistryOnClose) {
  CTestPlotHost host;
  auto* form = static_cast<TGraphicForm*>(host.CreatePlotWindow("volts"));
  CPlotRegistry::Instance().Add("volts", form);
  EXPECT_EQ(form->windowTitle(), "Graph - volts");
  EXPECT_EQ(form->size(), QSize(621, 412));
  ASSERT_NE(form->MainHandle(), 0);
  EXPECT_EQ(GglMainWidget(form->MainHandle())->size(), QSize(621, 412));
  EXPECT_TRUE(form->TimerActive());  // the first build is deferred
  form->TimerTick();
  EXPECT_EQ(form->Areas().size(), 1u);  // no signal: one empty area
  EXPECT_FALSE(form->TimerActive());
  form->close();
  EXPECT_EQ(CPlotRegistry::Instance().Find("volts"), nullptr);
  EXPECT_TRUE(support::WaitFor([] { return CTestPlotHost::Forms().empty(); }));
}

TEST(PlotWindow, WindowModesRebuildTheAreas) {
  CTestPlotHost host;
  TGraphicForm form("modes");
  std::vector<IPlotSignal*> sigs;
  for (int i = 0; i < 9; ++i) {
    sigs.push_back(form.AddSignal("s" + std::to_string(i)));
    Feed(sigs.back(), {0, 1, 2}, {double(i), i + 1.0, i + 0.5});
  }
  EXPECT_EQ(form.AddSignal("s3"), sigs[3]);  // the same name: the same signal
  EXPECT_EQ(form.Signals().size(), 9u);
  form.TimerTick();
  ASSERT_EQ(form.Areas().size(), 1u);
  const int shared = form.Areas()[0]->Id();
  for (int i = 0; i < 9; ++i) {
    const TPlotSignal& s = *form.Signals()[i].second;
    EXPECT_EQ(s.PlacedId(), shared) << i;
    TGglObjAttr a;
    ASSERT_EQ(GglGetObjectAttr(form.MainHandle(), shared, &s, &a), GGL_OK);
    EXPECT_EQ(a.colour, GGL_COLOURS[i % 7]) << i;
    EXPECT_EQ(a.lineStyle, i < 7 ? 0 : 1) << i;
  }
  form.SetWindowMode(WM_EACHSEPARATE);
  EXPECT_TRUE(form.TimerActive());
  EXPECT_EQ(form.Areas().size(), 1u);  // nothing before the tick
  form.TimerTick();
  ASSERT_EQ(form.Areas().size(), 9u);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(form.Signals()[i].second->PlacedId(), form.Areas()[i]->Id()) << i;
    EXPECT_EQ(form.Areas()[i]->Index(), i + 1);
  }
  form.SetWindowMode(WM_EACHSEPARATE);  // unchanged: no rebuild
  EXPECT_FALSE(form.TimerActive());
  form.SetWindowMode(WM_ALLINONEWND);
  form.TimerTick();
  EXPECT_EQ(form.Areas().size(), 1u);
  form.RemoveAllSignals();
  EXPECT_TRUE(form.Signals().empty());
  form.TimerTick();
  EXPECT_EQ(form.Areas().size(), 1u);
  TGglRange x, y;
  GglGetFullRanges(form.MainHandle(), form.Areas()[0]->Id(), 0, &x, &y);
  EXPECT_EQ(x, (TGglRange{0.0, 100.0}));  // an empty area
}

TEST(PlotWindow, ScaleModesGiveSharedOrOwnRanges) {
  CTestPlotHost host;
  TGraphicForm form("scales");
  IPlotSignal* a = form.AddSignal("a");
  IPlotSignal* b = form.AddSignal("b");
  IPlotSignal* c = form.AddSignal("c");
  Feed(a, {0, 10}, {0, 10});
  Feed(b, {5, 20}, {100, 200});
  Feed(c, {0, 1}, {5, 5});
  form.TimerTick();
  const auto& s = form.Signals();
  EXPECT_EQ(s[0].second->extent.viewX, (TGglRange{0, 20}));
  EXPECT_NEAR(s[0].second->extent.viewY.min, -0.5, 1e-12);
  EXPECT_NEAR(s[1].second->extent.viewY.max, 205.0, 1e-12);
  EXPECT_NEAR(s[2].second->extent.viewY.min, 4.75, 1e-12);
  EXPECT_NEAR(s[2].second->extent.viewY.max, 5.25, 1e-12);
  form.SetScaleMode(SM_ALLTHESAME);
  form.TimerTick();
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(s[i].second->extent.viewY.min, -10.0, 1e-9) << i;
    EXPECT_NEAR(s[i].second->extent.viewY.max, 210.0, 1e-9) << i;
  }
  TGglRange x, y;
  GglGetFullRanges(form.MainHandle(), form.Areas()[0]->Id(), 0, &x, &y);
  EXPECT_NEAR(y.max, 210.0, 1e-9);  // the rescale reached the library
  // Replacing by no points leaves an empty curve with the initial extent.
  a->SetData(0, nullptr, nullptr);
  EXPECT_EQ(s[0].second->Count(), 0);
  EXPECT_EQ(s[0].second->extent.maxY, 100.0);
}

TEST(PlotWindow, ManyChangesCoalesceIntoOneDeferredUpdate) {
  CTestPlotHost host;
  TGraphicForm form("burst");
  IPlotSignal* s = form.AddSignal("s");
  form.TimerTick();
  ASSERT_FALSE(form.UpdatePending());
  for (int i = 0; i < 1000; ++i) {
    const double x = i, y = std::sin(i * 0.01);
    s->AddData(1, &x, &y);
    s->AddData(0, &x, &y);  // nothing to append
  }
  s->SetTitle("sine");
  EXPECT_TRUE(form.UpdatePending());
  EXPECT_TRUE(form.TimerActive());
  EXPECT_EQ(form.Signals()[0].second->Count(), 1000);
  // The pending work waits for the timer, which the event loop serves.
  EXPECT_TRUE(support::WaitFor([&] { return !form.UpdatePending(); }));
  EXPECT_NEAR(form.Signals()[0].second->extent.viewX.max, 999.0, 1e-12);
  std::string title;
  GglGetObjectTitles(form.MainHandle(), form.Areas()[0]->Id(), form.Signals()[0].second.get(), &title, nullptr,
                     nullptr);
  EXPECT_EQ(title, "sine");
}

// ---- scripts

class PlotWindowScripts : public ::testing::Test {
 protected:
  void SetUp() override { StartScriptEngine(); }
  TQtDispatcher dispatcher;
  CTestPlotHost host;
};

const char* const kTwoSines = R"(program p;
var w: TPlotWnd; a, b: TSignal; d: TSignalData; i: Integer;
begin
  w := TPlotWnd.Create;
  w.OpenWindow('%NAME%');
  w.WindowMode := %MODE%;
  a := TSignal.Create; a.Desc := w.AddSignal('sine');
  b := TSignal.Create; b.Desc := w.AddSignal('cosine');
  a.XUnit := 's'; a.YUnit := 'V'; b.LineStyle := LINE_DASH; b.Marker := MARKER_DIAMOND;
  d := TSignalData.Create;
  for i := 0 to 199 do begin d.x[i] := i / 20; d.y[i] := (i mod 50) / 10; end;
  a.SetData(d);
  for i := 0 to 199 do d.y[i] := 3 - i / 40;
  b.SetData(d);
  Output.writeln(IntToStr(w.WindowMode) + ' ' + IntToStr(b.LineStyle) + ' ' + IntToStr(b.Marker) + ' ' + a.Title);
end.
)";

std::string Source(std::string text, const std::string& name, const std::string& mode) {
  text.replace(text.find("%NAME%"), 6, name);
  text.replace(text.find("%MODE%"), 6, mode);
  return text;
}

TEST_F(PlotWindowScripts, AScriptPlotsInOneAreaAndInSeparateAreas) {
  for (const auto& [mode, areas] : {std::pair<std::string, size_t>{"WM_ALLINONEWND", 1}, {"WM_EACHSEPARATE", 2}}) {
    const std::string name = "sines " + mode;
    CPlotScript run(dispatcher, Source(kTwoSines, name, mode));
    const Lines lines = run.Finish();
    EXPECT_EQ(lines, (Lines{mode == "WM_ALLINONEWND" ? "2 1 1 sine" : "3 1 1 sine", "ok.", ""}));
    TGraphicForm* form = CTestPlotHost::Form(name);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(support::WaitFor([&] { return !form->UpdatePending(); }));
    EXPECT_EQ(form->Areas().size(), areas);
    ASSERT_EQ(form->Signals().size(), 2u);
    EXPECT_EQ(form->Signals()[1].second->Count(), 200);
    EXPECT_NEAR(form->Signals()[1].second->Data().Y()[0], 3.0, 1e-12);
    EXPECT_NEAR(form->Signals()[0].second->Data().Y()[149], 4.9, 1e-12);
    const QImage image =
        Shot(*form, areas == 1 ? "plotwindow_two_signals_one_area" : "plotwindow_two_signals_two_areas");
    EXPECT_TRUE(HasColour(image, qRgb(255, 0, 0)));    // the first signal in red
    EXPECT_TRUE(HasColour(image, qRgb(255, 255, 0)));  // the second in yellow
  }
}

TEST_F(PlotWindowScripts, OneSignalFromAScript) {
  CPlotScript run(dispatcher, R"(program p;
var w: TPlotWnd; s: TSignal; d: TSignalData; i: Integer;
begin
  w := TPlotWnd.Create;
  w.OpenWindow('one');
  s := TSignal.Create; s.Desc := w.AddSignal('ramp');
  d := TSignalData.Create;
  for i := 0 to 99 do begin d.x[i] := i; d.y[i] := i * i / 100; end;
  s.SetData(d);
  d.Count := 0;
  s.AddData(d);
end.
)");
  EXPECT_EQ(run.Finish(), (Lines{"ok.", ""}));
  TGraphicForm* form = CTestPlotHost::Form("one");
  ASSERT_NE(form, nullptr);
  ASSERT_TRUE(support::WaitFor([&] { return !form->UpdatePending(); }));
  EXPECT_EQ(form->Signals()[0].second->Count(), 100);
  EXPECT_EQ(form->Signals()[0].second->extent.maxY, 98.01);
  EXPECT_TRUE(HasColour(Shot(*form, "plotwindow_one_signal"), qRgb(255, 0, 0)));
}

// Gaps, NaN, infinities and x running backwards, as a script's table hands them over.
TEST(PlotWindow, GapsAndBadValuesAreDrawnSensibly) {
  CTestPlotHost host;
  TGraphicForm form("gaps");
  form.show();
  std::vector<double> x, y, bx, by;
  for (int i = 0; i < 200; ++i) {
    x.push_back(i);
    y.push_back((i % 50) < 10 ? GGL_GAP : std::sin(i / 8.0));
    bx.push_back(200 - i);
    by.push_back(i == 30 ? NAN : i == 60 ? INFINITY : i == 90 ? -INFINITY : 0.01 * i - 3);
  }
  form.AddSignal("with gaps")->SetData(long(x.size()), x.data(), y.data());
  form.TimerTick();
  const TGglExtent& e = form.Signals()[0].second->extent;
  EXPECT_GE(e.minY, -1.0);  // the gaps do not count for the range
  EXPECT_LE(e.maxY, 1.0);
  EXPECT_TRUE(HasColour(Shot(form, "plotwindow_signal_gaps"), qRgb(255, 0, 0)));
  form.AddSignal("bad values")->SetData(long(bx.size()), bx.data(), by.data());
  form.SetWindowMode(WM_EACHSEPARATE);
  form.TimerTick();
  const TGglExtent& b = form.Signals()[1].second->extent;
  EXPECT_NEAR(b.maxY, 0.01 * 199 - 3, 1e-12);  // NaN and infinities carry no value
  EXPECT_TRUE(std::isfinite(b.viewY.min) && std::isfinite(b.viewY.max));
  EXPECT_TRUE(HasColour(Shot(form, "plotwindow_bad_values"), qRgb(255, 255, 0)));
}

TEST_F(PlotWindowScripts, TwoScriptsWriteToOneWindow) {
  const char* const feeder = R"(program p;
var w: TPlotWnd; s: TSignal; d: TSignalData; i, k: Integer;
begin
  w := TPlotWnd.Create;
  w.OpenWindow('shared');
  s := TSignal.Create; s.Desc := w.AddSignal('%NAME%');
  d := TSignalData.Create;
  for k := 0 to 199 do begin
    for i := 0 to 9 do begin d.x[i] := k * 10 + i; d.y[i] := %Y%; end;
    s.AddData(d);
  end;
end.
)";
  std::string first = feeder, second = feeder;
  first.replace(first.find("%NAME%"), 6, "first").replace(first.find("%Y%"), 3, "k");
  second.replace(second.find("%NAME%"), 6, "second").replace(second.find("%Y%"), 3, "-k");
  CPlotScript a(dispatcher, first), b(dispatcher, second);
  EXPECT_EQ(a.Finish(), (Lines{"ok.", ""}));
  EXPECT_EQ(b.Finish(), (Lines{"ok.", ""}));
  ASSERT_EQ(CTestPlotHost::Forms().size(), 1u);
  TGraphicForm& form = *CTestPlotHost::Form("shared");
  ASSERT_EQ(form.Signals().size(), 2u);
  for (const auto& [name, s] : form.Signals()) {
    ASSERT_EQ(s->Count(), 2000) << name;
    for (long i = 0; i < 2000; ++i) ASSERT_EQ(s->Data().X()[i], double(i)) << name;  // nothing lost or mixed
    EXPECT_EQ(s->Data().Y()[1999], name == "first" ? 199.0 : -199.0);
  }
}

// A script that appends blocks of 100 points to signal "s" of window `name` until it is stopped.
std::string FeedForever(const std::string& name) {
  return R"(program p;
var w: TPlotWnd; s: TSignal; d: TSignalData; i, k: Integer;
begin
  w := TPlotWnd.Create;
  w.OpenWindow(')" +
         name + R"(');
  s := TSignal.Create; s.Desc := w.AddSignal('s');
  d := TSignalData.Create;
  k := 0;
  while True do begin
    for i := 0 to 99 do begin d.x[i] := k * 100 + i; d.y[i] := i; end;
    s.AddData(d);
    k := k + 1;
  end;
end.
)";
}

TEST_F(PlotWindowScripts, ClosingTheWindowUnderAWritingScriptEndsItWithAnError) {
  CPlotScript run(dispatcher, FeedForever("closing"));
  TGraphicForm* form = nullptr;
  ASSERT_TRUE(support::WaitFor([&] {
    form = CTestPlotHost::Form("closing");
    return form && !form->Signals().empty() && form->Signals()[0].second->Count() >= 10000;
  }));
  form->close();
  const Lines lines = run.Finish();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Runtime error line 11: Invalid or uninitialized object used");
  EXPECT_EQ(CPlotRegistry::Instance().Find("closing"), nullptr);
}

// A script appending in a loop: the window's updates keep coming while it runs, and no block is lost
// or reordered on its way to the GUI thread.
TEST_F(PlotWindowScripts, AScriptFeedingInALoopDoesNotStarveTheWindow) {
  CPlotScript run(dispatcher, FeedForever("loop"));
  TGraphicForm* form = nullptr;
  // The scale follows the data while the script still runs: the deferred updates were not starved.
  ASSERT_TRUE(support::WaitFor([&] {
    form = CTestPlotHost::Form("loop");
    return form && !form->Signals().empty() && form->Signals()[0].second->extent.viewX.max >= 200000;
  }));
  EXPECT_FALSE(run.Sink().Finished());
  run.Abort();
  EXPECT_EQ(run.Finish(), (Lines{"aborted.", ""}));
  const CZentGraphObj& s = *form->Signals()[0].second;
  ASSERT_EQ(s.Count() % 100, 0);
  for (long i = 0; i < s.Count(); ++i) ASSERT_EQ(s.Data().X()[i], double(i));
}

TEST_F(PlotWindowScripts, CloseWindowFromAScriptAndReopen) {
  CPlotScript run(dispatcher, R"(program p;
var w, v: TPlotWnd;
begin
  w := TPlotWnd.Create;
  w.OpenWindow('again');
  v := TPlotWnd.Create;
  v.OpenWindow('again');
  w.CloseWindow;
  v.AddSignal('x');
end.
)");
  const Lines lines = run.Finish();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Runtime error line 9: Invalid or uninitialized object used");
  EXPECT_TRUE(support::WaitFor([] { return CTestPlotHost::Forms().empty(); }));
}

}  // namespace

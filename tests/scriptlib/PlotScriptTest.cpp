// The plot scripting names without a display: TSignalData's table rules (directly and from scripts),
// and TPlotWnd, TPlot and TSignal against a recording plot host: window reuse by name, closing,
// stale references, data handed over unchanged, refusals of bad input, and no host at all.
#include "ScriptTestSupport.h"
#include "scriptlib/Plothost.h"
#include "scriptlib/Signaldata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

TEST(SignalData, GrowsShrinksAndDeletesAsTheTableRulesSay) {
  CSignalData d;
  ASSERT_TRUE(d.SetX(5, 7.5));
  EXPECT_EQ(d.Count(), 6);
  EXPECT_EQ(d.Capacity(), 205);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d.GetY(i), 0.0) << i;
  EXPECT_EQ(d.GetX(4), 0.0);
  EXPECT_EQ(d.GetX(5), 7.5);
  EXPECT_EQ(d.GetY(6), 0.0);   // beyond the count
  EXPECT_EQ(d.GetX(-1), 0.0);  // below 0
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(d.SetY(i, 100.0 + i));
  ASSERT_TRUE(d.SetCount(3));
  EXPECT_EQ(d.GetY(5), 0.0);
  ASSERT_TRUE(d.SetCount(10));  // the storage kept its values
  EXPECT_EQ(d.GetY(5), 105.0);
  EXPECT_EQ(d.GetY(9), 109.0);
  d.Delete(3, 3);  // one entry is not deleted
  EXPECT_EQ(d.Count(), 10);
  d.Delete(2, 4);
  EXPECT_EQ(d.Count(), 7);
  EXPECT_EQ(d.GetY(2), 105.0);
  EXPECT_EQ(d.GetY(6), 109.0);
  d.Delete(5, 7);  // last beyond the count
  d.Delete(-1, 2);
  EXPECT_EQ(d.Count(), 7);
  d.Clear();
  EXPECT_EQ(d.Count(), 0);
  EXPECT_EQ(d.Capacity(), 0);
  // Filled point by point, the table grows geometrically, not by 200 entries a time.
  int grows = 0;
  for (int i = 0; i < 1000000; ++i) {
    const int32_t before = d.Capacity();
    ASSERT_TRUE(d.SetY(i, i));
    grows += d.Capacity() != before;
  }
  EXPECT_LT(grows, 40);
  EXPECT_EQ(d.GetY(999999), 999999.0);
}

TEST(SignalData, RefusesNegativeAndHugeIndicesAndCounts) {
  CSignalData d;
  EXPECT_FALSE(d.SetX(-1, 1.0));
  EXPECT_FALSE(d.SetY(int64_t(CSignalData::kMaxIndex) + 1, 1.0));
  EXPECT_FALSE(d.SetCount(-3));
  EXPECT_FALSE(d.SetCount(int64_t(1) << 40));
  EXPECT_EQ(d.Count(), 0);
  EXPECT_EQ(d.Capacity(), 0);
  EXPECT_TRUE(d.SetCount(4));
  EXPECT_EQ(d.Capacity(), 203);
}

TEST(SignalDataScripts, TableFromAScript) {
  TRunResult r = RunScript(R"(program t;
var d: TSignalData; i: Integer;
begin
  d := TSignalData.Create;
  d.x[5] := 2.5;
  Output.writeln(IntToStr(d.Count) + ' ' + FloatToStr(d.x[5]) + ' ' + FloatToStr(d.y[5]) + ' ' + FloatToStr(d.y[99]));
  for i := 0 to 9 do d.y[i] := i * 10;
  d.Count := 3;
  d.Count := 10;
  d.Delete(2, 4);
  Output.writeln(IntToStr(d.Count) + ' ' + FloatToStr(d.y[2]));
  d.Clear;
  Output.writeln(d.Count);
  d.Free;
end.
)");
  EXPECT_EQ(OkLines(r), (Lines{"6 2.5 0 0", "7 50", "0"}));
}

TEST(SignalDataScripts, NegativeIndexAndCountAreRunTimeErrors) {
  for (const char* statement : {"d.x[-1] := 1.0;", "d.Count := -2;", "d.y[100000000] := 1.0;"}) {
    TRunResult r = RunScript(std::string("program t;\nvar d: TSignalData;\nbegin\n  d := TSignalData.Create;\n  ") +
                             statement + "\nend.\n");
    ASSERT_FALSE(r.lines.empty());
    const std::string text =
        std::string(statement).find("Count") != std::string::npos ? "Invalid count" : "Index out of boundaries";
    EXPECT_EQ(r.lines.front(), "Runtime error line 5: " + text) << statement;
  }
}

// ---- a recording plot host

struct CFakeSignal : IPlotSignal {
  std::string title, xUnit, yUnit;
  int lineStyle = -1, marker = -1;
  std::vector<double> x, y;
  int setCalls = 0;
  std::string GetTitle() const override { return title; }
  void SetTitle(const std::string& t) override { title = t; }
  std::string GetXUnit() const override { return xUnit; }
  void SetXUnit(const std::string& t) override { xUnit = t; }
  std::string GetYUnit() const override { return yUnit; }
  void SetYUnit(const std::string& t) override { yUnit = t; }
  int GetLineStyle() const override { return lineStyle; }
  int GetMarker() const override { return marker; }
  bool SetLineStyle(int n) override { return n >= 0 && n <= 5 && (lineStyle = n, true); }
  bool SetMarker(int n) override { return ((n >= 0 && n <= 11) || n == 22) && (marker = n, true); }
  void SetData(long count, const double* xs, const double* ys) override {
    ++setCalls;
    x.assign(xs, xs + count);
    y.assign(ys, ys + count);
  }
  void AddData(long count, const double* xs, const double* ys) override {
    x.insert(x.end(), xs, xs + count);
    y.insert(y.end(), ys, ys + count);
  }
};

struct CFakeWindow : IPlotWindow {
  std::vector<std::pair<std::string, std::unique_ptr<CFakeSignal>>> signals;
  int windowMode = 2, scaleMode = 3, showGrid = 1;
  bool closed = false;
  IPlotSignal* AddSignal(const std::string& name) override {
    for (auto& [n, s] : signals)
      if (n == name) return s.get();
    signals.emplace_back(name, std::make_unique<CFakeSignal>());
    signals.back().second->title = name;
    return signals.back().second.get();
  }
  void RemoveAllSignals() override { signals.clear(); }
  bool HasSignal(const IPlotSignal* s) const override {
    return std::any_of(signals.begin(), signals.end(), [s](const auto& p) { return p.second.get() == s; });
  }
  int WindowMode() const override { return windowMode; }
  void SetWindowMode(int m) override { windowMode = m; }
  int ScaleMode() const override { return scaleMode; }
  void SetScaleMode(int m) override { scaleMode = m; }
  int ShowGrid() const override { return showGrid; }
  void SetShowGrid(int s) override { showGrid = s; }
  void CloseWindow() override {
    closed = true;
    CPlotRegistry::Instance().Remove(this);
  }
};

struct CFakeHost : IPlotHost {
  std::vector<std::unique_ptr<CFakeWindow>> windows;
  IPlotWindow* CreatePlotWindow(const std::string&) override {
    windows.push_back(std::make_unique<CFakeWindow>());
    return windows.back().get();
  }
};

class PlotScripts : public ::testing::Test {
 protected:
  void SetUp() override { SetPlotHost(&host); }
  void TearDown() override {
    SetPlotHost(nullptr);
    CPlotRegistry::Instance().Clear();
  }
  CFakeHost host;
};

TEST_F(PlotScripts, OpenReusesByNameAndModesReachTheWindow) {
  TRunResult r = RunScript(R"(program p;
var a, b, c: TPlotWnd;
begin
  a := TPlotWnd.Create; b := TPlotWnd.Create; c := TPlotWnd.Create;
  a.OpenWindow('one'); b.OpenWindow('one'); c.OpenWindow('two');
  a.WindowMode := WM_EACHSEPARATE;
  b.ScaleMode := SM_ALLTHESAME;
  c.ShowGrid := 0;
  Output.writeln(IntToStr(b.WindowMode) + ' ' + IntToStr(a.ScaleMode) + ' ' + IntToStr(c.ShowGrid) + ' ' +
    IntToStr(WM_ALLINONEWND) + IntToStr(WM_EACHSEPARATE) + IntToStr(SM_ALLTHESAME) + IntToStr(SM_EACHFULLSCALE));
  a.Free;
  Output.writeln(b.WindowMode);
end.
)");
  EXPECT_EQ(OkLines(r), (Lines{"3 0 0 2303", "3"}));
  ASSERT_EQ(host.windows.size(), 2u);
  EXPECT_EQ(host.windows[0]->windowMode, 3);
  EXPECT_EQ(host.windows[1]->showGrid, 0);
  EXPECT_EQ(CPlotRegistry::Instance().Names(), (std::vector<std::string>{"one", "two"}));
}

TEST_F(PlotScripts, SignalsGetTheTablesPointsAndAttributes) {
  TRunResult r = RunScript(R"(program p;
var w: TPlotWnd; s, s2: TSignal; d: TSignalData; i: Integer;
begin
  w := TPlotWnd.Create;
  w.OpenWindow('data');
  s := TSignal.Create;
  s.Desc := w.AddSignal('volts');
  s2 := TSignal.Create;
  s2.Desc := w.AddSignal('volts');
  d := TSignalData.Create;
  for i := 0 to 4 do begin d.x[i] := i; d.y[i] := i * i; end;
  s.SetData(d);
  d.Count := 2;
  s2.AddData(d);
  s.Title := 'U'; s.XUnit := 's'; s.YUnit := 'V';
  s.LineStyle := LINE_DASHDOT; s.Marker := MARKER_MINICIRCLE;
  Output.writeln(s2.Title + s2.XUnit + s2.YUnit + ' ' + IntToStr(s2.LineStyle) + ' ' + IntToStr(s2.Marker));
  Output.writeln(IntToStr(MARKER_VERTICAL_LINE) + ' ' + IntToStr(LINE_NONE) + ' ' + IntToStr(MARKER_HISTOGRAM));
end.
)");
  EXPECT_EQ(OkLines(r), (Lines{"UsV 3 22", "11 5 8"}));
  ASSERT_EQ(host.windows.size(), 1u);
  ASSERT_EQ(host.windows[0]->signals.size(), 1u);
  const CFakeSignal& s = *host.windows[0]->signals[0].second;
  EXPECT_EQ(s.x, (std::vector<double>{0, 1, 2, 3, 4, 0, 1}));
  EXPECT_EQ(s.y, (std::vector<double>{0, 1, 4, 9, 16, 0, 1}));
}

// Each statement runs after a window 'w' with signal s was opened; the run-time error it gives.
std::string ErrorOf(const std::string& statements) {
  TRunResult r = RunScript(R"(program p;
var w, w2: TPlotWnd; s: TSignal; d: TSignalData;
begin
  w := TPlotWnd.Create; w.OpenWindow('w'); s := TSignal.Create; s.Desc := w.AddSignal('a'); d := TSignalData.Create;
  )" + statements + "\n  Output.writeln('no error');\nend.\n");
  return r.lines.empty() ? "" : r.lines.front();
}

TEST_F(PlotScripts, BadInputIsRefusedWithClearRunTimeErrors) {
  const std::string line = "Runtime error line 5: ";
  EXPECT_EQ(ErrorOf("s.LineStyle := 6;"), line + "Invalid line style");
  EXPECT_EQ(ErrorOf("s.LineStyle := -1;"), line + "Invalid line style");
  EXPECT_EQ(ErrorOf("s.Marker := 12;"), line + "Invalid marker");
  EXPECT_EQ(ErrorOf("w.OpenWindow('');"), line + "Invalid plot window name");
  EXPECT_EQ(ErrorOf("w.OpenWindow('" + std::string(256, 'x') + "');"), line + "Invalid plot window name");
  EXPECT_EQ(ErrorOf("w2 := TPlotWnd.Create; w2.AddSignal('x');"), line + "Invalid or uninitialized object used");
  EXPECT_EQ(ErrorOf("s := TSignal.Create; s.Title := 'x';"), line + "Invalid or uninitialized object used");
  EXPECT_EQ(ErrorOf("s.Desc := w;"), line + "Invalid or uninitialized object used");
  EXPECT_EQ(ErrorOf("s.SetData(w);"), line + "Invalid or uninitialized object used");
  EXPECT_EQ(ErrorOf("w.OpenWindow('" + std::string(255, 'x') + "'); s.LineStyle := LINE_NONE;"), "no error");
}

TEST_F(PlotScripts, ClosedWindowsAndRemovedSignalsAreRefusedNotTouched) {
  EXPECT_EQ(ErrorOf("w.CloseWindow; w.CloseWindow; s.Title := 'x';"),
            "Runtime error line 5: Invalid or uninitialized object used");
  ASSERT_EQ(host.windows.size(), 1u);
  EXPECT_TRUE(host.windows[0]->closed);
  EXPECT_EQ(ErrorOf("w.RemoveAllSignals; s.SetData(d);"), "Runtime error line 5: Invalid or uninitialized object used");
  // A new signal of the same name (often at the removed one's address) is not the one the script held.
  EXPECT_EQ(ErrorOf("w.RemoveAllSignals; w.AddSignal('a'); s.Title := 'x';"),
            "Runtime error line 5: Invalid or uninitialized object used");
  // Closed by hand: the script's window reference is stale, a new open of the name makes a new window.
  EXPECT_EQ(ErrorOf("w2 := TPlotWnd.Create; w2.OpenWindow('w'); w2.CloseWindow; w.ShowGrid := 0;"),
            "Runtime error line 5: Invalid or uninitialized object used");
  EXPECT_EQ(ErrorOf("w.CloseWindow; w.OpenWindow('w'); s.Desc := w.AddSignal('a'); s.Title := 'b';"), "no error");
}

TEST(PlotScriptsHeadless, OpeningAWindowWithoutADisplayIsARunTimeError) {
  SetPlotHost(nullptr);
  TRunResult r = RunScript(R"(program p;
var w: TPlotWnd; d: TSignalData;
begin
  d := TSignalData.Create;
  w := TPlotWnd.Create;
  w.OpenWindow('graph');
end.
)");
  ASSERT_FALSE(r.lines.empty());
  EXPECT_EQ(r.lines.front(), "Runtime error line 6: Cannot open plot window graph: no display");
  EXPECT_TRUE(CPlotRegistry::Instance().Names().empty());
}

}  // namespace

// bench_plotfeed: a script appends 1,000,000 points to a plot window in blocks of 1,000 while the
// window redraws (offscreen Qt, the script on its own run thread, every AddData a synchronised call
// to the GUI thread). Prints the points per second accepted, the ratio against the same script that
// only fills its table (the baseline, same run), and the worst gap between two turns of the GUI event
// loop meanwhile (a 1 ms timer measures it).
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "graphics/Graphicmain.h"
#include "qtdispatch/Qtdispatcher.h"
#include "script/Halinit.h"
#include "scriptlib/Instscript.h"
#include "scriptlib/Plothost.h"
#include "scriptlib/ScriptLibrary.h"

namespace {

constexpr int kBlocks = 1000, kBlock = 1000;

class CHost : public IPlotHost {
 public:
  IPlotWindow* CreatePlotWindow(const std::string& name) override {
    form = new TGraphicForm(name);
    form->show();
    return form;
  }
  TGraphicForm* form = nullptr;
};

class CSink : public IScriptSink {
 public:
  void AddText(const std::string& text) override { last = text; }
  void ClearOutput() override {}
  bool OpenLogFile(const std::string&, bool) override { return false; }
  void CloseLogFile() override {}
  void ScriptFinished() override {
    finished = true;
    loop.quit();
  }
  std::string last;
  bool finished = false;  // set and read on the GUI thread
  QEventLoop loop;
};

std::string Script(bool plot) {
  std::string s = "program feed;\nvar w: TPlotWnd; s: TSignal; d: TSignalData; i, k: Integer;\nbegin\n";
  s += "  d := TSignalData.Create; d.Count := " + std::to_string(kBlock) + ";\n";
  if (plot) s += "  w := TPlotWnd.Create; w.OpenWindow('feed'); s := TSignal.Create; s.Desc := w.AddSignal('x');\n";
  s += "  for k := 0 to " + std::to_string(kBlocks - 1) + " do begin\n";
  s += "    for i := 0 to " + std::to_string(kBlock - 1) + " do begin d.x[i] := k * " + std::to_string(kBlock) +
       " + i; d.y[i] := (i mod 97) * 0.5; end;\n";
  if (plot) s += "    s.AddData(d);\n";
  s += "  end;\nend.\n";
  return s;
}

struct TResult {
  double seconds = 0;
  qint64 worstGapMs = 0;
  long points = 0;
};

TResult Run(TQtDispatcher& dispatcher, CHost& host, bool plot) {
  const std::string path = "/tmp/bench_plotfeed_" + std::to_string(::getpid()) + ".pas";
  std::ofstream(path) << Script(plot);
  CSink sink;
  TScriptHost scriptHost;
  scriptHost.sink = &sink;
  scriptHost.mainThread = &dispatcher;
  TInstrScriptThread run(scriptHost, path, {});
  QElapsedTimer clock, gap;
  qint64 worst = 0;
  QTimer probe;
  probe.setInterval(1);
  QObject::connect(&probe, &QTimer::timeout, [&] { worst = std::max(worst, gap.restart()); });
  clock.start();
  gap.start();
  probe.start();
  run.Start();
  if (!sink.finished) sink.loop.exec();  // the GUI thread waits for events as the program's does
  run.Wait();
  TResult r;
  r.seconds = clock.nsecsElapsed() * 1e-9;
  r.worstGapMs = worst;
  if (plot && host.form && !host.form->Signals().empty()) r.points = host.form->Signals()[0].second->Count();
  std::remove(path.c_str());
  if (sink.last != "" && sink.last != "ok.") std::fprintf(stderr, "script: %s\n", sink.last.c_str());
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  HalinitStart();
  RegisterGeneralLibrary();
  RegisterInstrumentLibraries();
  TQtDispatcher dispatcher;
  CHost host;
  SetPlotHost(&host);
  const TResult base = Run(dispatcher, host, false);
  const TResult plot = Run(dispatcher, host, true);
  const long total = long(kBlocks) * kBlock;
  std::printf("script appending %ld points in blocks of %d to a redrawing plot window:\n", total, kBlock);
  std::printf("  points accepted: %ld of %ld\n", plot.points, total);
  std::printf("  points per second: %.0f (baseline, filling the table only: %.0f; ratio %.2f)\n", total / plot.seconds,
              total / base.seconds, base.seconds / plot.seconds);
  std::printf("  worst GUI event-loop gap: %lld ms (baseline run: %lld ms)\n", (long long)plot.worstGapMs,
              (long long)base.worstGapMs);
  SetPlotHost(nullptr);
  return plot.points == total ? 0 : 1;
}

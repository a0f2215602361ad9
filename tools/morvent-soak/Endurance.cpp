// The endurance phase: one scenario loop on the GUI thread that acts as a busy user and a troubled
// instrument at once, and checks after every step what must hold.
#include "morvent-soak/Endurance.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPointer>
#include <cstdio>
#include <random>
#include <set>

#include "StandardApp/Module.h"
#include "app/Mainform.h"
#include "cuwindows/Asciilist.h"
#include "cuwindows/Baseform.h"
#include "cuwindows/Inreply.h"
#include "morvent-soak/Probes.h"
#include "scripthost/Instscriptform.h"
#include "scriptlib/ScriptConnection.h"
#include "support/Simulator.h"
#include "support/qt/MessageRecorder.h"

namespace {

// Round trips through the script host as a user's script makes them: it follows the connection (a lost
// link makes the CU useless; after the reconnect it opens the CU anew) and reports every 25 answers.
const char* const kRoundTripScript = R"(program soakio;
var m: TModule; c: TCu; n, ok, bad: Integer; r, want: String;
begin
  n := 0; ok := 0; bad := 0;
  Output.writeln('started');
  while true do begin
    if Instrument.IsConnected = 1 then begin
      m := TModule.Create; m.Desc := Instrument.GetModule('MAIN-1');
      c := TCu.Create; c.Desc := m.GetCu('IN');
      if c.Open <> 0 then begin
        while Instrument.IsConnected = 1 do begin
          n := n + 1;
          want := 'OK SOAK ' + IntToStr(n);
          r := c.IO('SOAK ' + IntToStr(n));
          if r = want then begin
            ok := ok + 1;
            if ok mod 25 = 0 then Output.writeln('rt ' + IntToStr(ok));
          end else begin
            bad := bad + 1;
            Output.writeln('bad ' + IntToStr(n) + ' ' + r);
          end;
        end;
        c.Close;
      end else SleepMS(100);
      c.Free; m.Free;
    end else SleepMS(100);
  end;
end.
)";

// A plot window fed by a script: the same 50 points replaced five times a second (bounded memory).
const char* const kPlotScript = R"(program soakplot;
var w: TPlotWnd; s: TSignal; d: TSignalData; i, k: Integer;
begin
  w := TPlotWnd.Create;
  w.OpenWindow('soak');
  s := TSignal.Create; s.Desc := w.AddSignal('ramp');
  d := TSignalData.Create;
  k := 0;
  while true do begin
    for i := 0 to 49 do begin d.x[i] := i; d.y[i] := (k + i) mod 50; end;
    s.SetData(d);
    k := k + 1;
    if k mod 50 = 0 then Output.writeln('plot ' + IntToStr(k));
    SleepMS(200);
  end;
end.
)";

// The CU windows opened after every (re)connect: module, CU, through the CS CU.
struct TWindowKind {
  const char* module;
  const char* cu;
  bool viaCs;
};
const TWindowKind kWindows[] = {
    {"MAIN-1", "IN", false},      {"MAIN-1", "EV", false}, {"MAIN-1", "TR", false},  {"MAIN-1", "MO", false},
    {"MAIN-1", "DI", false},      {"MAIN-1", "LI", false}, {"MAIN-1", "LD", false},  {"DET-3", "AR", false},
    {"DET-3", "RD", false},       {"DET-3", "MS", false},  {"DET-3", "RAWD", false}, {"DET-3", "RDSCANMON", false},
    {"DET-3", "RDSIGMON", false}, {"DET-3", "DD", false},  {"VALVE-S1", "PR", true}, {"TEMP-S2", "CS_IO", true},
};

// Faults that break the link's framing or the link itself: the host reports the loss and reconnects.
const char* const kBreakingFaults[] = {"garbage", "oversized", "short", "drop"};

class TEndurance {
 public:
  TEndurance(const TSoakOptions& options, TSoakWatchdog& watchdog)
      : m_options(options),
        m_watchdog(watchdog),
        m_gui(watchdog.Add("GUI event loop", 5000)),
        m_reader(watchdog.Add("monitor CU reader (stream)", 5000)),
        m_script(watchdog.Add("script round trips", 30000)),
        m_rng(options.seed) {
    m_stats.reader = &m_reader;
  }

  TEnduranceResult Run();

 private:
  int64_t Elapsed() const { return TSoakWatchdog::NowMs() - m_start; }
  bool Quiet() const { return TSoakWatchdog::NowMs() - m_lastDisrupt > 15000; }
  void Fail(const std::string& why) {
    if (m_result.failure.empty()) m_result.failure = why;
  }
  void Step(const std::string& what) {
    m_watchdog.Step(what);
    if (m_options.verbose) std::printf("  [%7.1f s] %s\n", Elapsed() / 1000.0, what.c_str());
  }
  bool Connected() const { return m_form->GetConnection() != nullptr; }
  std::string Command(const std::string& line);
  void Connect();
  void OpenWindows();
  void WatchMonitorList(TAsciiListForm* mo);
  void WatchInReply(TInReplyForm* in);
  void StartScripts();
  void WatchScript(TInstScriptForm* w, bool roundTrips);
  void ScriptLine(const QString& line);
  void RandomAction();
  void ConfigChange();
  void Fault(bool breaking);
  void GuiRoundTrip();
  void ChurnWindow();
  void Emit();
  void Check();
  void LinkLost();
  void Progress();
  void Finish();

  const TSoakOptions& m_options;
  TSoakWatchdog& m_watchdog;
  TSoakWatchdog::TSource& m_gui;
  TSoakWatchdog::TSource& m_reader;
  TSoakWatchdog::TSource& m_script;
  std::mt19937 m_rng;
  TStreamStats m_stats;
  TEnduranceResult m_result;
  int64_t m_start = TSoakWatchdog::NowMs();
  int64_t m_lastDisrupt = TSoakWatchdog::NowMs();
  int64_t m_lastBreak = 0;
  int64_t m_silentUntil = 0;  // the simulator's last silence ends then
  bool m_expectLoss = false;

  std::unique_ptr<support::Simulator> m_sim;
  std::unique_ptr<TSoakProgramDir> m_dir;
  std::unique_ptr<support::TMessageRecorder> m_recorder;
  std::unique_ptr<TMainForm> m_form;
  std::unique_ptr<THeartbeat> m_heartbeat;
  QPointer<TInReplyForm> m_in;
  QPointer<TAsciiListForm> m_mo;
  QPointer<TInstScriptForm> m_ioScript, m_plotScript;
  std::string m_ioScriptFile, m_plotScriptFile;
  uint64_t m_scriptBase = 0, m_scriptRun = 0;  // round trips of ended runs, of the current run
  uint64_t m_guiNext = 0;
  int64_t m_guiStreamNext = 0;
  bool m_pump2 = true;               // PUMP-2 is in the configuration
  std::vector<std::string> m_added;  // modules the soak added
  int m_nextModule = 1;
  int64_t m_nextProgress = 30000;
};

std::string TEndurance::Command(const std::string& line) {
  Step("simulator: " + line);
  return m_sim->Command(line);
}

void TEndurance::Connect() {
  Step("connecting (tool button)");
  m_form->Action("ToolButton7")->trigger();
  if (!PumpUntil([this] { return Connected(); }, 30000)) Fail("the first connection did not come up");
}

void TEndurance::OpenWindows() {
  Step("opening the events window");
  m_form->OpenEventsWindow();
  for (const TWindowKind& want : kWindows) {
    if (!Connected()) return;
    Step(std::string("opening ") + want.module + "/" + want.cu);
    QWidget* w = OpenFromTree(*m_form, want.module, want.cu, want.viaCs);
    if (!w) {
      if (Connected() && Quiet()) Fail(std::string("could not open the window of ") + want.module + "/" + want.cu);
      continue;
    }
    ++m_result.windowsOpened;
    if (QString(want.cu) == "MO") WatchMonitorList(qobject_cast<TAsciiListForm*>(w));
    if (QString(want.cu) == "IN") WatchInReply(qobject_cast<TInReplyForm*>(w));
  }
}

// The monitor window's list must show the stream's lines in the order the reader took them.
void TEndurance::WatchMonitorList(TAsciiListForm* mo) {
  m_mo = mo;
  if (!mo) return;
  m_guiStreamNext = 0;
  QListWidget* list = mo->List();
  QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                   [this, list](const QModelIndex&, int first, int last) {
                     for (int row = first; row <= last; ++row) {
                       const QByteArray text = list->item(row)->text().toLatin1();
                       const int64_t k = StreamIndex(text.constData(), static_cast<size_t>(text.size()));
                       if (k < 0) continue;
                       if (k != m_guiStreamNext)
                         m_stats.OutOfSequence("monitor window showed line " + std::to_string(k) + " after line " +
                                               std::to_string(m_guiStreamNext - 1));
                       m_guiStreamNext = k + 1;
                       ++m_result.guiStreamLines;
                     }
                   });
  Step("starting the text stream on MAIN-1/MO");
  const std::string reply = Command("text-stream MAIN-1 MO 0 " + std::to_string(m_options.streamRate));
  if (reply.rfind("ok", 0) == 0)
    m_reader.Arm(true);
  else if (Connected() && Quiet())
    Fail("text-stream refused: " + reply);
}

void TEndurance::WatchInReply(TInReplyForm* in) {
  m_in = in;
  if (!in) return;
  QListWidget* list = in->List();
  QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                   [this, list](const QModelIndex&, int first, int last) {
                     for (int row = first; row <= last; ++row)
                       if (list->item(row)->text().startsWith("OK SOAKGUI ")) ++m_result.guiRoundTrips;
                   });
}

void TEndurance::StartScripts() {
  m_ioScriptFile = m_dir->WriteScript("soakio.pas", kRoundTripScript);
  m_plotScriptFile = m_dir->WriteScript("soakplot.pas", kPlotScript);
  Step("starting the round-trip script");
  m_ioScript = m_form->OpenScriptWindow();
  WatchScript(m_ioScript, true);
  m_ioScript->RunScript(QString::fromStdString(m_ioScriptFile), 0);
  m_script.Arm(true);
  Step("starting the plot script");
  m_plotScript = m_form->OpenScriptWindow();
  WatchScript(m_plotScript, false);
  m_plotScript->RunScript(QString::fromStdString(m_plotScriptFile), 0);
}

void TEndurance::WatchScript(TInstScriptForm* w, bool roundTrips) {
  QListWidget* list = w->List();
  QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                   [this, list, roundTrips](const QModelIndex&, int first, int last) {
                     for (int row = first; row <= last; ++row) {
                       const QString line = list->item(row)->text();
                       if (roundTrips)
                         ScriptLine(line);
                       else if (line.startsWith("plot "))
                         m_result.plotUpdates = line.mid(5).toInt();
                     }
                   });
}

void TEndurance::ScriptLine(const QString& line) {
  if (line.startsWith("rt ")) {
    m_scriptRun = line.mid(3).toULongLong();
    m_script.Beat();
  } else if (line.startsWith("bad ")) {
    const QString reply = line.section(' ', 2);
    if (reply.startsWith("OK SOAK ")) {
      Fail("script round trip got another instruction's reply: " + line.toStdString());
    } else {
      ++m_result.scriptInterrupted;
      if (Quiet() && Connected()) Fail("script round trip failed while the link was up: " + line.toStdString());
    }
  }
}

void TEndurance::RandomAction() {
  const int roll = std::uniform_int_distribution<int>(0, 99)(m_rng);
  if (roll < 25)
    ConfigChange();
  else if (roll < 45)
    Fault(false);
  else if (roll < 65)
    GuiRoundTrip();
  else if (roll < 78)
    ChurnWindow();
  else if (roll < 90)
    Emit();
  else if (TSoakWatchdog::NowMs() - m_lastBreak > 20000)  // most of the time the link stays up
    Fault(true);
  else
    GuiRoundTrip();
}

void TEndurance::ConfigChange() {
  const int roll = std::uniform_int_distribution<int>(0, 2)(m_rng);
  std::string reply;
  if (roll == 0) {
    reply = Command(m_pump2 ? "remove-module PUMP-2" : "add-module PUMP-2 000456");
    if (reply.rfind("ok", 0) == 0) m_pump2 = !m_pump2;
  } else if (roll == 1 && m_added.size() < 4) {
    const std::string type = "SOAK-" + std::to_string(m_nextModule++);
    reply = Command("add-module " + type + " " + std::to_string(900000 + m_nextModule));
    if (reply.rfind("ok", 0) == 0) {
      m_added.push_back(type);
      // Its instruction window goes again when the module leaves.
      if (PumpUntil([&] { return !Connected() || CuNode(*m_form, QString::fromStdString(type), "IN"); }, 3000) &&
          Connected()) {
        Step("opening " + type + "/IN");
        if (OpenFromTree(*m_form, QString::fromStdString(type), "IN")) ++m_result.windowsOpened;
      }
    }
  } else if (!m_added.empty()) {
    const size_t at = std::uniform_int_distribution<size_t>(0, m_added.size() - 1)(m_rng);
    reply = Command("remove-module " + m_added[at]);
    if (reply.rfind("ok", 0) == 0) m_added.erase(m_added.begin() + static_cast<long>(at));
  }
  if (reply.rfind("ok", 0) == 0) ++m_result.configChanges;
}

void TEndurance::Fault(bool breaking) {
  std::string kind, line;
  int silenceMs = 0;
  if (breaking) {
    kind = kBreakingFaults[std::uniform_int_distribution<int>(0, 3)(m_rng)];
    line = "fault " + kind +
           (kind == "garbage" ? " " + std::to_string(std::uniform_int_distribution<int>(1, 400)(m_rng)) : "");
  } else if (std::uniform_int_distribution<int>(0, 1)(m_rng) == 0 || TSoakWatchdog::NowMs() < m_silentUntil + 500) {
    // A silence while one lasts would lengthen it past the time-out and break the link.
    kind = "split";
    line = "fault split";
  } else {
    kind = "silence";
    const int ms = std::uniform_int_distribution<int>(300, 1800)(m_rng);
    silenceMs = ms;
    line = "fault silence " + std::to_string(ms);
    // The stream pauses with the link; what was made meanwhile comes afterwards.
    m_reader.Beat(ms + 500);
    m_script.Beat(ms + 500);
  }
  if (breaking) m_stats.linkBreaking.store(true);  // before the reader can meet the gap
  const std::string reply = Command(line);
  if (reply.rfind("ok", 0) != 0) {
    m_stats.linkBreaking.store(false);
    return;
  }
  ++m_result.faults[kind];
  if (silenceMs > 0) m_silentUntil = TSoakWatchdog::NowMs() + silenceMs;
  if (breaking) {
    // The host reports the loss and reconnects: nothing is owed until then.
    m_reader.Arm(false);
    m_script.Arm(false);
    m_expectLoss = true;
    m_lastBreak = m_lastDisrupt = TSoakWatchdog::NowMs();
  }
}

void TEndurance::GuiRoundTrip() {
  if (!m_in || !m_in->Input()->isEnabled()) return;
  Step("typing an instruction into MAIN-1/IN");
  m_in->Input()->setText(QString("SOAKGUI %1").arg(++m_guiNext));
  m_in->SendInput();
  ++m_result.guiSent;
}

// Closes one of the CU windows (not the stream's, not the instruction window) and opens it again.
void TEndurance::ChurnWindow() {
  const TWindowKind& want = kWindows[std::uniform_int_distribution<size_t>(0, std::size(kWindows) - 1)(m_rng)];
  const QString cu = want.cu;
  if (cu == "MO" || cu == "IN" || !Connected()) return;
  for (QMdiSubWindow* sub : m_form->Children()) {
    auto* base = qobject_cast<TBaseForm*>(sub->widget());
    const CCuDesc* desc = base ? base->Cu() : nullptr;
    if (!desc || !desc->GetModule() || QString(desc->GetModule()->GetModuleType()) != want.module ||
        QString(desc->GetCuName()) != cu)
      continue;
    Step(std::string("closing ") + want.module + "/" + want.cu);
    sub->close();
    break;
  }
  Pump(50);
  if (!Connected()) return;
  Step(std::string("reopening ") + want.module + "/" + want.cu);
  if (OpenFromTree(*m_form, want.module, cu, want.viaCs)) ++m_result.windowsOpened;
}

void TEndurance::Emit() {
  static const char* const kEmit[][2] = {{"DET-3", "AR"},  {"DET-3", "RAWD"}, {"DET-3", "DD"}, {"DET-3", "RD"},
                                         {"MAIN-1", "EV"}, {"MAIN-1", "DI"},  {"MAIN-1", "LI"}};
  const auto& e = kEmit[std::uniform_int_distribution<size_t>(0, std::size(kEmit) - 1)(m_rng)];
  Command(std::string("emit ") + e[0] + " " + e[1] + " " +
          std::to_string(std::uniform_int_distribution<int>(1, 20)(m_rng)));
}

void TEndurance::Check() {
  if (m_stats.violations.load() != 0) {
    std::lock_guard<std::mutex> g(m_stats.lock);
    Fail("stream out of sequence: " + m_stats.firstViolation);
  }
  for (const auto& m : m_recorder->messages)
    if (!m_result.messages.contains(m.second)) m_result.messages << m.second;
  if (!m_recorder->messages.isEmpty() && Quiet() && Connected())
    Fail("message box while the link was up: " + m_recorder->messages.last().second.toStdString());
  m_recorder->messages.clear();
  // A script run that ended (a lost link between its checks raises "Instrument not connected") starts again.
  if (m_ioScript && !m_ioScript->Running()) {
    m_scriptBase += m_scriptRun;
    m_scriptRun = 0;
    ++m_result.scriptRestarts;
    if (Quiet() && Connected()) Fail("the round-trip script ended while the link was up");
    m_ioScript->RunScript(QString::fromStdString(m_ioScriptFile), 0);
    m_script.Beat();
  }
  if (m_plotScript && !m_plotScript->Running()) Fail("the plot script ended");
}

void TEndurance::LinkLost() {
  m_reader.Arm(false);
  m_script.Arm(false);
  if (!m_expectLoss && TSoakWatchdog::NowMs() - m_lastBreak > 10000) Fail("the link was lost without a fault");
  m_expectLoss = false;
  m_lastDisrupt = TSoakWatchdog::NowMs();
  Step("link lost: waiting for the reconnect timer");
  if (!PumpUntil([this] { return Connected(); }, 30000)) {
    Fail("no reconnect within 30 s");
    return;
  }
  ++m_result.reconnects;
  m_lastDisrupt = TSoakWatchdog::NowMs();
  m_stats.linkBreaking.store(false);  // the windows that saw the break are gone: new channels from here
  m_script.Arm(true);
  OpenWindows();
}

void TEndurance::Progress() {
  std::printf(
      "  %5.0f s: %llu round trips (script) + %llu (window), %llu stream messages, %d reconnects, RSS %ld KiB, "
      "heap in use %ld KiB, %d threads\n",
      Elapsed() / 1000.0, static_cast<unsigned long long>(m_scriptBase + m_scriptRun),
      static_cast<unsigned long long>(m_result.guiRoundTrips), static_cast<unsigned long long>(m_stats.frames.load()),
      m_result.reconnects, ResidentKiB(false), HeapInUseKiB(), ThreadCount());
  std::fflush(stdout);
}

TEnduranceResult TEndurance::Run() {
  const int64_t durationMs = int64_t{m_options.seconds} * 1000;
  const int64_t warmupMs = m_options.warmupSeconds >= 0 ? int64_t{m_options.warmupSeconds} * 1000
                                                        : std::clamp<int64_t>(durationMs / 10, 10000, 120000);
  m_heartbeat = std::make_unique<THeartbeat>(m_gui);
  Step("starting the simulator");
  m_sim = std::make_unique<support::Simulator>();
  m_dir = std::make_unique<TSoakProgramDir>(m_sim->TelnetPort(), m_sim->DataPort(), true, m_options.timeoutMs);
  m_recorder = std::make_unique<support::TMessageRecorder>();
  auto oldFactory = TAsciiListForm::SetChannelFactory(
      [this](const std::shared_ptr<CCuDesc>& cu, bool viaCs) -> std::unique_ptr<CCuIoBase> {
        if (viaCs) return std::make_unique<CCuIoSlave>();
        if (cu && QString(cu->GetCuName()).compare("MO", Qt::CaseInsensitive) == 0)
          return std::make_unique<TStreamCheckIO>(nullptr, m_stats);
        return std::make_unique<CCuIO>();
      });
  m_form = std::make_unique<TMainForm>(m_dir->Dir());
  m_form->resize(1280, 900);
  m_form->show();
  m_form->OpenLog(m_dir->Dir() + "/Log.txt", false);
  Connect();
  if (m_result.failure.empty()) {
    OpenWindows();
    StartScripts();
  }
  m_start = TSoakWatchdog::NowMs();
  bool wasConnected = true;
  while (m_result.failure.empty() && Elapsed() < durationMs) {
    if (!Connected()) {
      if (wasConnected) LinkLost();
      wasConnected = Connected();
      continue;
    }
    wasConnected = true;
    RandomAction();
    Step("serving the event loop");
    Pump(std::uniform_int_distribution<int>(300, 2000)(m_rng));
    Check();
    if (m_result.rssWarmKiB == 0 && Elapsed() >= warmupMs && Connected()) {
      m_result.rssWarmKiB = ResidentKiB(true);
      m_result.heapWarmKiB = HeapInUseKiB();
      std::printf("  warm-up done at %.0f s: RSS %ld KiB, heap in use %ld KiB\n", Elapsed() / 1000.0,
                  m_result.rssWarmKiB, m_result.heapWarmKiB);
    }
    if (Elapsed() >= m_nextProgress) {
      Progress();
      m_nextProgress += 30000;
    }
  }
  m_result.seconds = Elapsed() / 1000.0;
  if (m_result.failure.empty() && !Connected()) LinkLost();  // the end figure is taken connected, as the first
  Pump(1000);
  Check();
  m_result.rssEndKiB = ResidentKiB(true);
  m_result.heapEndKiB = HeapInUseKiB();
  Finish();
  TAsciiListForm::SetChannelFactory(std::move(oldFactory));
  return m_result;
}

void TEndurance::Finish() {
  Step("stopping the scripts");
  for (TInstScriptForm* w : {m_ioScript.data(), m_plotScript.data()})
    if (w) w->Abort();
  PumpUntil([this] { return (!m_ioScript || !m_ioScript->Running()) && (!m_plotScript || !m_plotScript->Running()); },
            15000);
  m_script.Arm(false);
  m_reader.Arm(false);
  Step("closing the main window");
  m_form->close();
  m_form.reset();
  Pump(100);
  m_heartbeat.reset();
  m_gui.Arm(false);
  m_result.scriptRoundTrips = m_scriptBase + m_scriptRun;
  m_result.streamFrames = m_stats.frames.load();
  m_result.streamIntervals = m_stats.intervals.load();
  m_result.streamViolations = m_stats.violations.load();
  m_result.streamGapsAfterBreak = m_stats.gapsAfterBreak.load();
  Step("stopping the simulator");
  m_sim.reset();
  m_result.ok = m_result.failure.empty();
}

}  // namespace

TEnduranceResult RunEndurance(const TSoakOptions& options, TSoakWatchdog& watchdog) {
  TEndurance soak(options, watchdog);
  return soak.Run();
}

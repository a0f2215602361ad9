// The teardown rounds. Every round builds the whole scene anew (main window, connection, windows,
// script, channel thread), waits until every reader is really waiting, then tears it down one of four
// ways; the watchdog ends the run when any step hangs.
#include "morvent-soak/Teardown.h"

#include <QAction>
#include <QCoreApplication>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPointer>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "StandardApp/Cu.h"
#include "StandardApp/Module.h"
#include "StandardApp/Zematcore.h"
#include "app/Mainform.h"
#include "app/Maininstr.h"
#include "cuwindows/Asciilist.h"
#include "morvent-soak/Probes.h"
#include "scripthost/Instscriptform.h"
#include "scriptlib/ScriptConnection.h"
#include "support/Simulator.h"
#include "support/qt/MessageRecorder.h"

namespace {

// IN answers, MO streams, SIL never answers (the script and the channel thread wait on it).
const char* const kConfig = R"({"modules": [
  {"type": "T1", "serial": "1", "cus": [
    {"name": "IN"},
    {"name": "MO", "owner": "T1MO", "in_count": 0},
    {"name": "SIL", "owner": "T1SIL", "behaviour": "instruction", "replies": {"wait": ""}},
    {"name": "EV", "owner": "T1EV", "in_count": 0}]}]})";

const char* const kWaitScript = R"(program soakwait;
var m: TModule; c: TCu;
begin
  m := TModule.Create; m.Desc := Instrument.GetModule(1);
  c := TCu.Create; c.Desc := m.GetCu('SIL');
  if c.Open <> 0 then begin
    Output.writeln('waiting');
    Output.writeln(c.IO('wait'));
  end else Output.writeln('not open');
end.
)";

const char* const kVariants[] = {"close MO, disconnect, quit", "close IN, quit connected",
                                 "link dropped while quitting", "disconnect, close script, quit"};

// A thread of our own that reads the silent CU in a loop, as a tool polling a CU would. A channel must
// go before its connection, so it keeps to the rules of the script bindings: every read holds a use of
// the connection, and the host's withdraw at disconnect wakes the read and drops the channel.
class TChannelReader : public IScriptChannelHolder {
 public:
  explicit TChannelReader(std::shared_ptr<CCuDesc> cu) {
    CScriptConnection::Instance().AddHolder(this);
    m_thread = std::thread([this, cu] { Run(cu); });
  }
  ~TChannelReader() override {
    Stop();
    CScriptConnection::Instance().RemoveHolder(this);
  }
  bool Reading() const { return m_reading.load(); }
  void Stop() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
  }
  void WakeChannel() override {
    std::lock_guard<std::mutex> g(m_lock);
    if (!m_channel) return;
    m_channel->Abandon();
    m_channel->WakeReader();
  }
  void DropChannel() override {
    std::lock_guard<std::mutex> g(m_lock);
    m_channel.reset();
  }

 private:
  void Run(const std::shared_ptr<CCuDesc>& cu) {
    CBaseCuIO* channel = nullptr;
    {
      CScriptConnection::TUse use = CScriptConnection::Instance().UseCurrent();
      if (!use) return;
      {
        std::lock_guard<std::mutex> g(m_lock);
        m_channel = std::make_unique<CBaseCuIO>();
        channel = m_channel.get();
      }
      if (CScriptConnection::Instance().Withdrawing()) channel->Abandon();  // the wake came before the channel
      if (channel->OpenOn(cu) == 0) return;
    }
    std::vector<char> buffer(4501);
    while (!m_stop.load()) {
      CScriptConnection::TUse use = CScriptConnection::Instance().UseCurrent();
      {
        std::lock_guard<std::mutex> g(m_lock);
        channel = use ? m_channel.get() : nullptr;
      }
      if (!channel) break;  // withdrawn: the channel went with the connection
      int length = static_cast<int>(buffer.size());
      m_reading.store(true);
      channel->Read(buffer.data(), &length, 100);  // short, so that a withdraw never waits long
    }
  }

  std::atomic<bool> m_stop{false}, m_reading{false};
  std::mutex m_lock;  // guards m_channel
  std::unique_ptr<CBaseCuIO> m_channel;
  std::thread m_thread;
};

class TTeardown {
 public:
  TTeardown(const TSoakOptions& options, TSoakWatchdog& watchdog)
      : m_options(options),
        m_watchdog(watchdog),
        m_gui(watchdog.Add("GUI event loop", 5000)),
        m_round(watchdog.Add("teardown of one round", 5000)) {}
  TTeardownResult Run();

 private:
  bool Round(int n);
  void Fail(const std::string& why) {
    if (m_result.failure.empty()) m_result.failure = why;
  }

  const TSoakOptions& m_options;
  TSoakWatchdog& m_watchdog;
  TSoakWatchdog::TSource& m_gui;
  TSoakWatchdog::TSource& m_round;
  TTeardownResult m_result;
  TStreamStats m_stats;
  std::unique_ptr<support::Simulator> m_sim;
  std::unique_ptr<TSoakProgramDir> m_dir;
  std::string m_scriptFile;
};

bool TTeardown::Round(int n) {
  const std::string tag = "round " + std::to_string(n) + ": ";
  m_watchdog.Step(tag + "connecting");
  auto form = std::make_unique<TMainForm>(m_dir->Dir());
  form->resize(900, 600);
  form->show();
  int connected = -1;
  form->ConnectInstrument(TConnectOrigin::ToolButton, [&connected](int r) { connected = r; });
  if (!PumpUntil([&] { return connected >= 0; }, 30000) || connected != 1) {
    Fail(tag + "could not connect");
    return false;
  }
  m_watchdog.Step(tag + "opening windows");
  QPointer<QWidget> mo = OpenFromTree(*form, "T1", "MO");
  QPointer<QWidget> in = OpenFromTree(*form, "T1", "IN");
  QPointer<QWidget> ev = OpenFromTree(*form, "T1", "EV");
  if (!mo || !in || !ev) {
    Fail(tag + "a CU window did not open");
    return false;
  }
  // As fast as the reader's credits allow: the reader is mostly inside its call into the GUI thread.
  if (m_sim->Command("text-stream T1 MO 0 0").rfind("ok", 0) != 0) {
    Fail(tag + "the stream did not start");
    return false;
  }
  QPointer<TInstScriptForm> script = form->OpenScriptWindow();
  bool waiting = false;
  QListWidget* output = script->List();
  QObject::connect(output->model(), &QAbstractItemModel::rowsInserted, script,
                   [&waiting, output](const QModelIndex&, int first, int last) {
                     for (int row = first; row <= last; ++row) waiting |= output->item(row)->text() == "waiting";
                   });
  script->RunScript(QString::fromStdString(m_scriptFile), 0);
  auto reader = std::make_unique<TChannelReader>(form->GetConnection()->GetModule(0)->GetCuDesc(2));
  const uint64_t framesBefore = m_stats.frames.load();
  m_watchdog.Step(tag + "waiting until every reader waits");
  if (!PumpUntil([&] { return waiting && reader->Reading() && m_stats.frames.load() > framesBefore + 20; }, 20000)) {
    Fail(tag + "the readers did not all start (script " + std::to_string(waiting) + ", channel thread " +
         std::to_string(reader->Reading()) + ", stream frames " + std::to_string(m_stats.frames.load() - framesBefore) +
         ")");
    return false;
  }

  const int variant = n % 4;
  ++m_result.variants[kVariants[variant]];
  m_watchdog.Step(tag + kVariants[variant]);
  const int64_t start = TSoakWatchdog::NowMs();
  m_round.Arm(true);
  std::string laps;  // where the time of a slow teardown went
  int64_t lap = start;
  auto Lap = [&](const char* what) {
    const int64_t now = TSoakWatchdog::NowMs();
    laps += std::string(laps.empty() ? "" : ", ") + what + " " + std::to_string(now - lap) + " ms";
    lap = now;
  };
  switch (variant) {
    case 0:
      mo->parentWidget()->close();
      Lap("close MO");
      form->DisconnectInstrument(false);
      Lap("disconnect");
      break;
    case 1:
      in->parentWidget()->close();
      Lap("close IN");
      break;
    case 2:
      m_sim->Command("fault drop");
      Lap("drop");
      break;
    case 3:
      form->DisconnectInstrument(false);
      Lap("disconnect");
      script->parentWidget()->close();
      Lap("close script");
      break;
  }
  form->close();
  Lap("close main window");
  form.reset();
  Lap("destroy main window");
  reader.reset();
  Lap("end channel thread");
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  m_round.Arm(false);
  const int ms = static_cast<int>(TSoakWatchdog::NowMs() - start);
  m_result.slowestRoundMs = std::max(m_result.slowestRoundMs, ms);
  if (ms >= 2000 || m_options.verbose) std::printf("  %s%d ms (%s)\n", tag.c_str(), ms, laps.c_str());
  if (m_stats.violations.load() != 0) {
    std::lock_guard<std::mutex> g(m_stats.lock);
    Fail(tag + "stream out of sequence: " + m_stats.firstViolation);
    return false;
  }
  // The simulator must have seen the host go before the next round connects.
  if (!m_sim->WaitForStatus("\"connected\":false", std::chrono::seconds(10))) {
    Fail(tag + "the simulator still holds the link 10 s after the main window went");
    return false;
  }
  return true;
}

TTeardownResult TTeardown::Run() {
  THeartbeat heartbeat(m_gui);
  m_sim = std::make_unique<support::Simulator>(kConfig);
  m_dir = std::make_unique<TSoakProgramDir>(m_sim->TelnetPort(), m_sim->DataPort(), false, m_options.timeoutMs);
  m_scriptFile = m_dir->WriteScript("soakwait.pas", kWaitScript);
  support::TMessageRecorder recorder;
  CScriptConnection::Instance().SetReplyWaitMs(600000);  // the script waits until the teardown ends it
  auto oldFactory = TAsciiListForm::SetChannelFactory(
      [this](const std::shared_ptr<CCuDesc>& cu, bool viaCs) -> std::unique_ptr<CCuIoBase> {
        if (viaCs) return std::make_unique<CCuIoSlave>();
        if (cu && QString(cu->GetCuName()) == "MO") return std::make_unique<TStreamCheckIO>(nullptr, m_stats);
        return std::make_unique<CCuIO>();
      });
  const int64_t start = TSoakWatchdog::NowMs();
  for (int n = 1; n <= m_options.rounds && m_result.failure.empty(); ++n) {
    if (Round(n)) m_result.rounds = n;
    if (!recorder.messages.isEmpty() && m_result.failure.empty())
      Fail("round " + std::to_string(n) + ": message box \"" + recorder.messages.first().second.toStdString() + "\"");
    if (n % 500 == 0) {
      std::printf("  %d rounds, %.0f s, slowest teardown %d ms, RSS %ld KiB, heap in use %ld KiB, %d threads\n", n,
                  (TSoakWatchdog::NowMs() - start) / 1000.0, m_result.slowestRoundMs, ResidentKiB(false),
                  HeapInUseKiB(), ThreadCount());
      std::fflush(stdout);
    }
  }
  m_result.seconds = (TSoakWatchdog::NowMs() - start) / 1000.0;
  m_result.streamFrames = m_stats.frames.load();
  TAsciiListForm::SetChannelFactory(std::move(oldFactory));
  CScriptConnection::Instance().SetReplyWaitMs(10000);
  m_gui.Arm(false);
  m_sim.reset();
  m_result.ok = m_result.failure.empty();
  return m_result;
}

}  // namespace

TTeardownResult RunTeardown(const TSoakOptions& options, TSoakWatchdog& watchdog) {
  TTeardown soak(options, watchdog);
  return soak.Run();
}

// bench_gui_monitor: the simulator floods a "MO" CU with text lines; the monitor window the main window
// opens on it shows them while a 5 ms timer measures the GUI event loop's worst delay. The baseline is a
// bare channel reader (a Read loop on a thread, no GUI) on the same stream in the same run.
#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "StandardApp/Cu.h"
#include "app/Mainform.h"
#include "app/Maininstr.h"
#include "cuwindows/Asciilist.h"
#include "support/Net.h"
#include "support/Simulator.h"
#include "support/TempDir.h"

namespace {

// The monitor CU gets 16 out-buffers so that the simulator is never the narrow end.
const char* const kConfig = R"({"modules": [{"type": "MON-1", "serial": "1", "cus": [
  {"name": "MO", "owner": "MON", "description": "MONITOR", "out_count": 16, "out_size": 128, "in_count": 4}]}]})";

// Checks that the lines arrive as "line 0", "line 1", ... with none lost, doubled or out of order.
struct TSequence {
  long count = 0;
  std::string error;
  void Take(const std::string& text) {
    const std::string want = "line " + std::to_string(count);
    if (error.empty() && text != want) error = "message " + std::to_string(count) + " was \"" + text + "\"";
    ++count;
  }
};

struct TRound {
  double perSecond = 0;
  double worstGapMs = 0;
};

// Measures the longest time between two firings of a 5 ms timer while it runs.
class TLoopProbe {
 public:
  TLoopProbe() {
    m_timer.setInterval(5);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      m_worst = std::max(m_worst, m_clock.nsecsElapsed() / 1e6);
      m_clock.restart();
    });
  }
  void Start() {
    m_worst = 0;
    m_clock.start();
    m_timer.start();
  }
  double Stop() {
    m_timer.stop();
    return std::max(m_worst, m_clock.nsecsElapsed() / 1e6);
  }

 private:
  QTimer m_timer;
  QElapsedTimer m_clock;
  double m_worst = 0;
};

std::string StreamCommand(long count) { return "text-stream MON-1 MO " + std::to_string(count); }

void Require(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

std::shared_ptr<CCuDesc> MonitorCu(TMainForm& form) {
  CMyZematInstr* c = form.GetConnection();
  Require(c && c->GetModuleCount() == 1 && c->GetModule(0)->GetCuDescCount() == 1, "unexpected instrument");
  return c->GetModule(0)->GetCuDesc(0);
}

// The window the tree opens on the CU; every line it adds is checked as it appears in its list.
TRound WindowRound(TMainForm& form, support::Simulator& sim, long count) {
  auto* window = qobject_cast<TAsciiListForm*>(form.OpenCuWindow(MonitorCu(form), false));
  Require(window != nullptr, "the monitor window did not open");
  QAbstractItemModel* model = window->List()->model();
  TSequence seq;
  QEventLoop loop;
  QObject::connect(model, &QAbstractItemModel::rowsInserted, &loop, [&](const QModelIndex&, int first, int last) {
    for (int row = first; row <= last; ++row) seq.Take(model->index(row, 0).data().toString().toStdString());
    if (seq.count >= count) loop.quit();
  });
  QTimer::singleShot(300000, &loop, [&] { loop.exit(1); });
  TLoopProbe probe;
  QElapsedTimer clock;
  clock.start();
  probe.Start();
  Require(sim.Command(StreamCommand(count)).starts_with("ok"), "text-stream refused (does the simulator have it?)");
  const bool timedOut = loop.exec() != 0;
  const double seconds = clock.nsecsElapsed() / 1e9;
  TRound round{seq.count / seconds, probe.Stop()};
  window->parentWidget()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  Require(!timedOut, "window: only " + std::to_string(seq.count) + " of " + std::to_string(count) + " lines came");
  Require(seq.error.empty(), "window: " + seq.error);
  Require(seq.count == count, "window: " + std::to_string(seq.count) + " lines for " + std::to_string(count));
  return round;
}

// The baseline: a plain channel on the same CU read in a loop on its own thread.
TRound ReaderRound(TMainForm& form, support::Simulator& sim, long count) {
  CCuIO channel;
  channel.SetDesc(MonitorCu(form));
  Require(channel.Open() == 1, "the bare reader could not open the CU");
  TSequence seq;
  std::atomic<bool> done{false};
  QElapsedTimer clock;
  clock.start();
  Require(sim.Command(StreamCommand(count)).starts_with("ok"), "text-stream refused");
  std::thread reader([&] {
    std::vector<uint8_t> buffer(Z_READ_BUFFER);
    while (seq.count < count) {
      int length = Z_READ_BUFFER;
      if (channel.Read(buffer.data(), &length, 5000) != Z_OK) break;
      const int frame = (buffer[0] << 8) | buffer[1];
      seq.Take(std::string(reinterpret_cast<const char*>(buffer.data()) + Z_HEADER_LEN, frame - Z_HEADER_LEN));
    }
    done = true;
  });
  while (!done) {  // the GUI thread stays responsive meanwhile, as it would in the program
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  reader.join();
  const double seconds = clock.nsecsElapsed() / 1e9;
  channel.Close();
  Require(seq.error.empty(), "bare reader: " + seq.error);
  Require(seq.count == count, "bare reader: only " + std::to_string(seq.count) + " of " + std::to_string(count));
  return {seq.count / seconds, 0};
}

double IdleBaseline(TMainForm& form) {
  QWidget* window = form.OpenCuWindow(MonitorCu(form), false);
  Require(window != nullptr, "the monitor window did not open");
  TLoopProbe probe;
  probe.Start();
  QEventLoop loop;
  QTimer::singleShot(2000, &loop, &QEventLoop::quit);
  loop.exec();
  const double worst = probe.Stop();
  window->parentWidget()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return worst;
}

// One failing connect attempt from a fresh main window: the event loop's worst gap meanwhile.
double AttemptGap(const std::string& ini, double& seconds) {
  support::TempDir dir("bench-gui");
  dir.Write("Morvent.ini", ini);
  TMainForm form(QString::fromStdString(dir.Path()));
  TLoopProbe probe;
  int result = -1;
  QElapsedTimer clock;
  clock.start();
  probe.Start();
  form.ConnectInstrument(TConnectOrigin::Reconnect, [&result](int r) { result = r; });
  while (result < 0 && clock.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const double worst = probe.Stop();
  seconds = clock.nsecsElapsed() / 1e9;
  Require(result == 0, "a connect attempt that should fail did not");
  return worst;
}

// Connect attempts against instruments that fail in every way a link can: none may hold the GUI.
void ConnectGaps(support::Simulator& sim, double idle) {
  support::SilentPort silent;
  const std::string ports = "[LAN]\nTelnetPort=";
  const struct {
    const char* what;
    std::string ini;
  } cases[] = {
      {"silent console", "[LastConfig]\nLAN=127.0.0.1\nTimeout=3000\n" + ports + std::to_string(silent.Port()) +
                             "\nDataPort=" + std::to_string(silent.Port()) + "\n"},
      {"silent data port", "[LastConfig]\nLAN=127.0.0.1\nTimeout=3000\n" + ports + std::to_string(sim.TelnetPort()) +
                               "\nDataPort=" + std::to_string(silent.Port()) + "\n"},
      {"refused port", "[LastConfig]\nLAN=127.0.0.2\nTimeout=3000\n" + ports + std::to_string(sim.TelnetPort()) +
                           "\nDataPort=" + std::to_string(sim.DataPort()) + "\n"},
      {"unreachable address", "[LastConfig]\nLAN=10.255.255.1\nTimeout=3000\n"},
      {"missing serial device", "[LastConfig]\nLink=1\nTimeout=3000\n[Serial]\nCOM1=/nonexistent/ttyS9\n"},
  };
  for (const auto& c : cases) {
    double seconds = 0;
    const double gap = AttemptGap(c.ini, seconds);
    std::printf("%-28s attempt %5.1f s, worst gap %6.1f ms | baseline idle loop %6.1f ms | ratio %.2f\n",
                (std::string("connect: ") + c.what).c_str(), seconds, gap, idle, gap / std::max(idle, 0.001));
  }
}

int Run(long count, bool profile) {
  support::TempDir dir("bench-gui");
  support::Simulator sim(kConfig);
  std::ofstream(dir.File("Morvent.ini")) << "[LastConfig]\nLAN=127.0.0.1\n[LAN]\nTelnetPort=" << sim.TelnetPort()
                                         << "\nDataPort=" << sim.DataPort() << "\n";
  TMainForm form(QString::fromStdString(dir.Path()));
  form.show();
  int connected = -1;
  form.ConnectInstrument(TConnectOrigin::ToolButton, [&connected](int result) { connected = result; });
  QElapsedTimer waited;
  waited.start();
  while (connected < 0 && waited.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  Require(connected == 1, "cannot connect to the simulator");
  if (profile) {
    TRound w = WindowRound(form, sim, count);
    std::printf("window only: %.0f messages/s, worst event-loop gap %.1f ms\n", w.perSecond, w.worstGapMs);
    return 0;
  }
  const double idle = IdleBaseline(form);
  TRound window, reader;
  for (int round = 0; round < 3; ++round) {
    TRound w = WindowRound(form, sim, count);
    TRound r = ReaderRound(form, sim, count);
    window.perSecond = std::max(window.perSecond, w.perSecond);
    window.worstGapMs = std::max(window.worstGapMs, w.worstGapMs);
    reader.perSecond = std::max(reader.perSecond, r.perSecond);
  }
  std::printf(
      "monitor window vs bare channel reader, text-stream of %ld lines on one \"MO\" CU "
      "(best rate of 3 rounds each; every line checked, none lost, in order)\n",
      count);
  std::printf("%-28s window %10.0f messages/s | baseline bare reader %10.0f messages/s | ratio %.2f\n",
              "messages shown", window.perSecond, reader.perSecond, window.perSecond / reader.perSecond);
  std::printf("%-28s flooded %8.1f ms (worst of 3 rounds) | baseline idle loop %8.1f ms | ratio %.2f\n",
              "event loop worst gap (5 ms)", window.worstGapMs, idle, window.worstGapMs / std::max(idle, 0.001));
  const bool met = window.perSecond >= 0.5 * reader.perSecond && window.worstGapMs <= 16;
  std::printf("target: window >= 0.50 of the bare reader's rate, worst gap <= 16 ms: %s\n", met ? "met" : "NOT met");
  form.close();
  ConnectGaps(sim, idle);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  // An optional factor scales the line count (quick runs: 0.1); "profile" runs one long window round.
  const bool profile = argc > 1 && std::string(argv[1]) == "profile";
  double scale = !profile && argc > 1 ? std::atof(argv[1]) : 1.0;
  if (scale <= 0) scale = 1.0;
  const long count = static_cast<long>((profile ? 400000 : 100000) * scale);
  try {
    return Run(count, profile);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_gui_monitor: %s\n", e.what());
    return 1;
  }
}

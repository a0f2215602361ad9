// Handler supervision: a thread that stores the stop request into handler runs that take too long.
#include "forms/Formwatch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "script/Halevent.h"
#include "script/ScriptErrors.h"

namespace {

using TClock = std::chrono::steady_clock;

struct TRun {
  TStopFlag* flag;
  TClock::time_point start;
  bool stopped = false;
};

class CWatchdog {
 public:
  ~CWatchdog() { Stop(); }
  void Start() {
    std::lock_guard lock(m_lock);
    if (m_thread.joinable()) return;
    m_quit = false;
    m_thread = std::thread([this] { Loop(); });
  }
  void Stop() {
    {
      std::lock_guard lock(m_lock);
      m_quit = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }
  size_t Push(TStopFlag* f) {
    std::lock_guard lock(m_lock);
    m_runs.push_back({f, TClock::now()});
    return m_runs.size() - 1;
  }
  bool Pop() {
    std::lock_guard lock(m_lock);
    const bool stopped = m_runs.back().stopped;
    m_runs.pop_back();
    return stopped;
  }
  void Pause(bool on) {
    std::lock_guard lock(m_lock);
    m_paused += on ? 1 : -1;
    // the clocks of the waiting handlers start again from now
    if (!on && m_paused == 0)
      for (TRun& r : m_runs) r.start = TClock::now();
  }
  std::atomic<int> limitMs{10000};

 private:
  void Loop() {
    std::unique_lock lock(m_lock);
    while (!m_quit) {
      m_cv.wait_for(lock, std::chrono::milliseconds(20));
      if (m_paused) continue;
      const auto now = TClock::now();
      for (TRun& r : m_runs)
        if (!r.stopped && now - r.start > std::chrono::milliseconds(limitMs.load())) {
          r.stopped = true;
          r.flag->store(HAL_STOP);
        }
    }
  }
  std::mutex m_lock;
  std::condition_variable m_cv;
  std::vector<TRun> m_runs;
  int m_paused = 0;
  bool m_quit = false;
  std::thread m_thread;
};

CWatchdog& Dog() {
  static CWatchdog dog;
  return dog;
}

}  // namespace

void StartHandlerWatchdog() {
  Dog().Start();
  SetHandlerRunner([](const std::string& key, const std::function<void(TStopFlag&)>& run) {
    TStopFlag flag{'R'};
    Dog().Push(&flag);
    bool stopped = false;
    try {
      run(flag);
    } catch (...) {
      Dog().Pop();
      throw;
    }
    stopped = Dog().Pop();
    if (stopped)
      throw ERunTimeError("Event handler " + key + " stopped: it ran longer than " +
                          std::to_string(Dog().limitMs.load()) + " ms");
  });
}

void StopHandlerWatchdog() {
  SetHandlerRunner(nullptr);
  Dog().Stop();
}

void SetHandlerTimeLimit(int ms) { Dog().limitMs.store(ms > 0 ? ms : 1); }
int HandlerTimeLimit() { return Dog().limitMs.load(); }

TModalPause::TModalPause() { Dog().Pause(true); }
TModalPause::~TModalPause() { Dog().Pause(false); }

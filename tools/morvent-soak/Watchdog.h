// TSoakWatchdog: a thread that ends the soak when something it watches (the GUI event loop, a reader,
// the script's round trips) makes no progress for longer than its limit, saying what stopped and where.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class TSoakWatchdog {
 public:
  // One thing that must keep moving. Beat() from any thread; while disarmed it is not checked.
  class TSource {
   public:
    TSource(std::string name, int limitMs) : m_name(std::move(name)), m_limitMs(limitMs) { Beat(); }
    void Beat(int graceMs = 0);
    void Arm(bool on) {
      if (on) Beat();
      m_armed.store(on);
    }
    bool Armed() const { return m_armed.load(); }
    const std::string& Name() const { return m_name; }
    int LimitMs() const { return m_limitMs; }
    int64_t SilentMs(int64_t now) const { return now - m_last.load(); }

   private:
    std::string m_name;
    int m_limitMs;
    std::atomic<int64_t> m_last{0};
    std::atomic<bool> m_armed{false};
  };

  TSoakWatchdog();
  ~TSoakWatchdog();
  TSoakWatchdog(const TSoakWatchdog&) = delete;
  TSoakWatchdog& operator=(const TSoakWatchdog&) = delete;

  TSource& Add(const std::string& name, int limitMs);
  // What the soak is doing now, named in a report.
  void Step(const std::string& text);
  static int64_t NowMs();

 private:
  void Run();
  [[noreturn]] void Fail(const TSource& source, int64_t silentMs);

  std::mutex m_lock;
  std::deque<TSource> m_sources;  // stable addresses
  std::string m_step;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// The watchdog's loop and its report: the stalled source, the soak's step, and every thread's stack
// (through gdb when it is installed), then the process ends with exit code 3.
#include "morvent-soak/Watchdog.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int64_t TSoakWatchdog::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TSoakWatchdog::TSource::Beat(int graceMs) { m_last.store(NowMs() + graceMs); }

TSoakWatchdog::TSoakWatchdog() : m_thread([this] { Run(); }) {}

TSoakWatchdog::~TSoakWatchdog() {
  m_stop.store(true);
  m_thread.join();
}

TSoakWatchdog::TSource& TSoakWatchdog::Add(const std::string& name, int limitMs) {
  std::lock_guard<std::mutex> g(m_lock);
  return m_sources.emplace_back(name, limitMs);
}

void TSoakWatchdog::Step(const std::string& text) {
  std::lock_guard<std::mutex> g(m_lock);
  m_step = text;
}

void TSoakWatchdog::Run() {
  while (!m_stop.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int64_t now = NowMs();
    std::lock_guard<std::mutex> g(m_lock);
    for (const TSource& s : m_sources)
      if (s.Armed() && s.SilentMs(now) > s.LimitMs()) Fail(s, s.SilentMs(now));
  }
}

void TSoakWatchdog::Fail(const TSource& source, int64_t silentMs) {
  std::fprintf(stderr, "\nWATCHDOG: %s made no progress for %lld ms (limit %d ms) during: %s\n", source.Name().c_str(),
               static_cast<long long>(silentMs), source.LimitMs(), m_step.c_str());
  std::fflush(stderr);
  // The stacks say where it hangs; without gdb the message above is all there is.
  if (std::system("command -v gdb >/dev/null 2>&1") == 0) {
    const std::string cmd = "gdb -p " + std::to_string(::getpid()) +
                            " -batch -nx -ex 'set pagination off' -ex 'thread apply all bt 30' 1>&2 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "(gdb could not show the stacks)\n");
  }
  std::printf("verdict: FAIL (watchdog: %s stalled)\n", source.Name().c_str());
  std::fflush(stdout);
  ::_exit(3);
}

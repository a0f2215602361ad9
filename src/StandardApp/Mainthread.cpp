// Mainthread.cpp: SyncCall and the loop dispatcher used by the command-line client and the tests.
#include "StandardApp/Mainthread.h"

namespace {
// Shared between the waiting worker and the main thread, so either may leave first.
struct CallState {
  std::mutex lock;
  std::condition_variable done;
  bool started = false;
  bool cancelled = false;
  bool finished = false;
};
}  // namespace

bool SyncCall(CMainDispatcher& dispatcher, std::function<void()> fn, const std::atomic<bool>* terminated) {
  if (dispatcher.IsMainThread()) {
    fn();
    return true;
  }
  auto state = std::make_shared<CallState>();
  dispatcher.Post([state, fn = std::move(fn)] {
    {
      std::lock_guard<std::mutex> g(state->lock);
      if (state->cancelled) return;
      state->started = true;
    }
    fn();
    std::lock_guard<std::mutex> g(state->lock);
    state->finished = true;
    state->done.notify_all();
  });
  std::unique_lock<std::mutex> g(state->lock);
  for (;;) {
    if (state->finished) return true;
    if (terminated && terminated->load()) {
      // Not started: skip it. Started: the main thread runs it; do not wait for the end, because the
      // main thread may be the one waiting for us (a hook that disconnects).
      state->cancelled = !state->started;
      return false;
    }
    state->done.wait_for(g, std::chrono::milliseconds(20));
  }
}

CLoopDispatcher::CLoopDispatcher() : m_mainId(std::this_thread::get_id()) {}

void CLoopDispatcher::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> g(m_lock);
    m_calls.push_back(std::move(fn));
  }
  m_cv.notify_all();
}

bool CLoopDispatcher::IsMainThread() const { return std::this_thread::get_id() == m_mainId.load(); }

void CLoopDispatcher::BindToCurrentThread() { m_mainId.store(std::this_thread::get_id()); }

int CLoopDispatcher::ProcessPending() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard<std::mutex> g(m_lock);
    calls.swap(m_calls);
  }
  for (auto& call : calls) call();
  return static_cast<int>(calls.size());
}

int CLoopDispatcher::WaitAndProcess(unsigned timeoutMs) {
  {
    std::unique_lock<std::mutex> g(m_lock);
    m_cv.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return !m_calls.empty(); });
  }
  return ProcessPending();
}

bool CLoopDispatcher::RunUntil(const std::function<bool()>& pred, unsigned timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ProcessPending();
    if (pred()) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= end) return pred();
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    WaitAndProcess(static_cast<unsigned>(left < 10 ? left : 10));
  }
}

void CGateDispatcher::Post(std::function<void()> fn) {
  std::lock_guard<std::mutex> g(m_lock);
  if (m_mode == TMode::Hold)
    m_held.push_back(std::move(fn));
  else if (m_mode == TMode::Pass)
    m_target.Post(std::move(fn));
}

void CGateDispatcher::Hold() {
  std::lock_guard<std::mutex> g(m_lock);
  m_mode = TMode::Hold;
}

void CGateDispatcher::Open() {
  std::lock_guard<std::mutex> g(m_lock);
  for (auto& fn : m_held) m_target.Post(std::move(fn));
  m_held.clear();
  m_mode = TMode::Pass;
}

void CGateDispatcher::Drop() {
  std::lock_guard<std::mutex> g(m_lock);
  m_held.clear();
  m_mode = TMode::Drop;
}

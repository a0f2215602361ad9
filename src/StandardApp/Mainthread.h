// Mainthread.h: the "main thread" dispatcher through which worker threads run code on the GUI
// thread (or the client's loop), and the blocking SyncCall that never deadlocks a terminating thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CMainDispatcher {
 public:
  virtual ~CMainDispatcher() = default;
  // Queues fn to run on the main thread; must not block.
  virtual void Post(std::function<void()> fn) = 0;
  virtual bool IsMainThread() const = 0;
};

// Runs fn on the main thread and waits until it has run. Returns false without running it (or
// without waiting for its end) once *terminated becomes true, so that a main thread that is waiting
// for the caller to end never deadlocks. Called on the main thread itself, fn runs at once.
bool SyncCall(CMainDispatcher& dispatcher, std::function<void()> fn, const std::atomic<bool>* terminated);

// Runs every call at once on the calling thread (used when the session has no dispatcher).
class CDirectDispatcher : public CMainDispatcher {
 public:
  void Post(std::function<void()> fn) override { fn(); }
  bool IsMainThread() const override { return true; }
};

// Holds the calls of a connection that is still being set up on another thread: its hooks and
// refreshes must not run on the main thread before the connection is handed over there, and not at
// all when the attempt fails. Calls are held, passed on (in order) or dropped.
class CGateDispatcher : public CMainDispatcher {
 public:
  explicit CGateDispatcher(CMainDispatcher& target) : m_target(target) {}
  void Post(std::function<void()> fn) override;
  bool IsMainThread() const override { return m_target.IsMainThread(); }
  void Hold();  // calls from now on wait
  void Open();  // the held calls go on, in order; later ones pass straight
  void Drop();  // the held calls are forgotten, and so are later ones

 private:
  enum class TMode { Hold, Pass, Drop };
  CMainDispatcher& m_target;
  std::mutex m_lock;
  TMode m_mode = TMode::Pass;
  std::deque<std::function<void()>> m_held;
};

// A simple main loop for the command-line client and the tests: the thread that created it is the
// main thread and serves queued calls in ProcessPending / RunUntil.
class CLoopDispatcher : public CMainDispatcher {
 public:
  CLoopDispatcher();
  void Post(std::function<void()> fn) override;
  bool IsMainThread() const override;
  // Makes the calling thread the main thread.
  void BindToCurrentThread();
  // Runs every call queued so far; returns how many ran.
  int ProcessPending();
  // Serves calls until pred() holds or timeoutMs passed; returns pred().
  bool RunUntil(const std::function<bool()>& pred, unsigned timeoutMs);
  // Waits up to timeoutMs for at least one call and runs all queued; returns how many ran.
  int WaitAndProcess(unsigned timeoutMs);

 private:
  std::mutex m_lock;
  std::condition_variable m_cv;
  std::deque<std::function<void()>> m_calls;
  std::atomic<std::thread::id> m_mainId;
};

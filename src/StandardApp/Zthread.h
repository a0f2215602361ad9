// Zthread.h: CZThread, the base of the engine's worker threads: created suspended, started with
// Resume, stopped by setting the terminate flag and waiting for the end.
#pragma once

#include <atomic>
#include <thread>

class CZThread {
 public:
  CZThread() = default;
  virtual ~CZThread();
  CZThread(const CZThread&) = delete;
  CZThread& operator=(const CZThread&) = delete;

  void Resume();
  // Sets the flag and wakes the thread's wait, so that a stop never waits out a read slice.
  void Terminate() {
    m_terminated.store(true);
    Wake();
  }
  // Waits for the thread's end (no-op if it never ran or already ended).
  void WaitFor();
  bool Terminated() const { return m_terminated.load(); }
  const std::atomic<bool>* TerminateFlag() const { return &m_terminated; }
  bool Running() const { return m_thread.joinable() && !m_finished.load(); }

 protected:
  virtual void Execute() = 0;
  // Ends the wait the thread may be in (a channel read, a queue wait); called by Terminate.
  virtual void Wake() {}
  // Derived destructors call this first, so that Execute never runs on a half-destroyed object.
  void Stop();

 private:
  std::atomic<bool> m_terminated{false};
  std::atomic<bool> m_finished{false};
  std::thread m_thread;
};

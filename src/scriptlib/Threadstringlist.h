// Threadstringlist: the string pipes through which scripts on different run threads exchange text:
// TThreadStringList (a string list with its own lock), TMasterPipeList (every pipe by name) and
// TStringListPipe, the script object for one pipe.
#pragma once

#include "scriptlib/LibObjects.h"

#include "script/BinProg.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The lock is held by a thread and may be taken again by it (each Lock needs its Unlock). It is not
// a bare mutex, so that a waiter can give up when its script is aborted and the end of a run can
// release what its script still holds.
class TThreadStringList {
 public:
  TThreadStringList();
  TThreadStringList(const TThreadStringList&) = delete;
  TThreadStringList& operator=(const TThreadStringList&) = delete;

  // The list, for use between LockList and UnlockList.
  TStringListObj& List() { return *m_list; }
  // Waits until the calling thread holds the lock; false (not locked) when `stop` turns to HAL_STOP
  // while it waits.
  bool LockList(const TStopFlag* stop);
  // False when the calling thread does not hold the lock.
  bool UnlockList();
  // Releases the lock entirely if the calling thread holds it.
  void ReleaseIfHeldHere();
  // For monitoring and tests: waits until `count` threads wait in LockList.
  bool WaitForWaiters(int count, std::chrono::milliseconds timeout);

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::thread::id m_owner;
  int m_depth = 0;
  int m_waiters = 0;
  std::unique_ptr<TStringListObj> m_list;  // a live TStringList, not pooled: scripts cannot free it
};

// Every pipe by name; names compare as list lines do (without regard to case).
class TMasterPipeList {
 public:
  static TMasterPipeList& Instance();
  // The pipe of that name, created when it does not exist yet.
  std::shared_ptr<TThreadStringList> Pipe(const std::string& name);
  // The pipe of that name, or none.
  std::shared_ptr<TThreadStringList> Find(const std::string& name);
  // At the end of a run, on its thread: releases every pipe lock the run's script still holds.
  void ReleaseHeldHere();
  // When no script runs any more: forgets every pipe.
  void Clear();
  int Count();

 private:
  std::mutex m_lock;
  std::vector<std::pair<std::string, std::shared_ptr<TThreadStringList>>> m_pipes;
};

class TStringListPipe : public TLibObject {
 public:
  explicit TStringListPipe(std::shared_ptr<TThreadStringList> pipe)
      : TLibObject("TStringListPipe"), m_pipe(std::move(pipe)) {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override {}
  TThreadStringList& Pipe() { return *m_pipe; }

 private:
  std::shared_ptr<TThreadStringList> m_pipe;
};

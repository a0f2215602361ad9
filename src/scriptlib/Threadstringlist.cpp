// The pipe lock (held by a thread, re-entrant, abortable while waiting) and the master pipe list.
#include "scriptlib/Threadstringlist.h"

#include "scriptlib/StringList.h"

#include <algorithm>

namespace {
// The run state has no notification of its own; a waiter looks at it this often.
constexpr std::chrono::milliseconds kStopCheck{10};
}  // namespace

TThreadStringList::TThreadStringList() : m_list(std::make_unique<TStringListObj>()) {}

bool TThreadStringList::LockList(const TStopFlag* stop) {
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> g(m_lock);
  if (m_depth > 0 && m_owner != me) {
    ++m_waiters;
    m_changed.notify_all();
    while (m_depth > 0) {
      if (stop && stop->load() == HAL_STOP) break;
      m_changed.wait_for(g, kStopCheck);
    }
    --m_waiters;
    m_changed.notify_all();
    if (m_depth > 0) return false;
  }
  m_owner = me;
  ++m_depth;
  return true;
}

bool TThreadStringList::UnlockList() {
  std::lock_guard<std::mutex> g(m_lock);
  if (m_depth == 0 || m_owner != std::this_thread::get_id()) return false;
  if (--m_depth == 0) {
    m_owner = std::thread::id();
    m_changed.notify_all();
  }
  return true;
}

void TThreadStringList::ReleaseIfHeldHere() {
  std::lock_guard<std::mutex> g(m_lock);
  if (m_depth == 0 || m_owner != std::this_thread::get_id()) return;
  m_depth = 0;
  m_owner = std::thread::id();
  m_changed.notify_all();
}

bool TThreadStringList::WaitForWaiters(int count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> g(m_lock);
  return m_changed.wait_for(g, timeout, [&] { return m_waiters >= count; });
}

TMasterPipeList& TMasterPipeList::Instance() {
  static TMasterPipeList list;
  return list;
}

std::shared_ptr<TThreadStringList> TMasterPipeList::Pipe(const std::string& name) {
  std::lock_guard<std::mutex> g(m_lock);
  for (const auto& [n, pipe] : m_pipes)
    if (CompareListText(n, name) == 0) return pipe;
  m_pipes.emplace_back(name, std::make_shared<TThreadStringList>());
  return m_pipes.back().second;
}

std::shared_ptr<TThreadStringList> TMasterPipeList::Find(const std::string& name) {
  std::lock_guard<std::mutex> g(m_lock);
  for (const auto& [n, pipe] : m_pipes)
    if (CompareListText(n, name) == 0) return pipe;
  return nullptr;
}

void TMasterPipeList::ReleaseHeldHere() {
  std::lock_guard<std::mutex> g(m_lock);
  for (const auto& entry : m_pipes) entry.second->ReleaseIfHeldHere();
}

// The lists go outside the master lock; a TStringListPipe a script left behind keeps its own pipe
// alive until the pooled objects are freed right after.
void TMasterPipeList::Clear() {
  std::vector<std::pair<std::string, std::shared_ptr<TThreadStringList>>> doomed;
  {
    std::lock_guard<std::mutex> g(m_lock);
    doomed.swap(m_pipes);
  }
}

int TMasterPipeList::Count() {
  std::lock_guard<std::mutex> g(m_lock);
  return static_cast<int>(m_pipes.size());
}

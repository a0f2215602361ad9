// Tlqueue.cpp: TLQueue; the condition variable plays the "signalled while not empty" event.
#include "StandardApp/Tlqueue.h"

#include <chrono>

namespace {
// Room a queue keeps for the next batch once it is empty again: a credit window of frames and more.
constexpr size_t kKeptRoom = 1024;
}  // namespace

int TLQueue::Push(void* item) {
  // Signalled under the lock: a taker may destroy the queue as soon as it holds the item.
  std::lock_guard<std::mutex> g(m_lock);
  m_items.push_back(item);
  if (m_waiters > 0) m_event.notify_one();
  return 1;
}

void TLQueue::PushMany(void* const* items, size_t count) {
  if (count == 0) return;
  bool wake;
  {
    std::lock_guard<std::mutex> g(m_lock);
    m_items.insert(m_items.end(), items, items + count);
    wake = m_waiters > 0;
  }
  // Woken after the unlock, so that the taker does not run into the lock still held here; the
  // caller keeps the queue alive until this returns.
  if (wake) m_event.notify_all();
}

bool TLQueue::TakeTaken(void*& item, uint64_t* moved) {
  if (m_next == m_taken.size()) {
    m_next = 0;
    m_taken.clear();
    if (m_taken.capacity() > kKeptRoom) std::vector<void*>().swap(m_taken);  // after a long backlog
    std::lock_guard<std::mutex> g(m_lock);
    m_taken.swap(m_items);
    // Items left on the takers' side are no longer in sight of a waiter's wake-up test: tell it.
    // Counted also with nobody waiting yet: a taker between its own look and its wait must see it.
    if (m_taken.size() > 1) {
      ++m_moved;
      if (m_waiters > 0) m_event.notify_all();
    }
    if (moved) *moved = m_moved;
  }
  if (m_next == m_taken.size()) {
    item = nullptr;
    return false;
  }
  item = m_taken[m_next++];
  return true;
}

bool TLQueue::Pop(void*& item) {
  std::lock_guard<std::mutex> t(m_takeLock);
  return TakeTaken(item, nullptr);
}

int TLQueue::WaitPop(void*& item, unsigned timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    uint64_t moved = 0;
    {
      std::lock_guard<std::mutex> t(m_takeLock);
      if (TakeTaken(item, &moved)) return 0;
    }
    // Waited for without the takers' lock, so that another taker is never held up by this wait;
    // what comes then is taken under that lock again, oldest first.
    std::unique_lock<std::mutex> g(m_lock);
    ++m_waiters;
    const bool woken = m_event.wait_until(g, end, [&] { return !m_items.empty() || m_moved != moved; });
    --m_waiters;
    if (!woken) return 1;
  }
}

size_t TLQueue::Count() const {
  std::lock_guard<std::mutex> t(m_takeLock);
  std::lock_guard<std::mutex> g(m_lock);
  return m_taken.size() - m_next + m_items.size();
}

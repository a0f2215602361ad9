// Tlqueue.cpp: TLQueue; the condition variable plays the "signalled while not empty" event.
#include "StandardApp/Tlqueue.h"

#include <chrono>

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

bool TLQueue::Pop(void*& item) {
  std::lock_guard<std::mutex> g(m_lock);
  if (m_items.empty()) {
    item = nullptr;
    return false;
  }
  item = m_items.front();
  m_items.pop_front();
  return true;
}

int TLQueue::WaitPop(void*& item, unsigned timeoutMs) {
  std::unique_lock<std::mutex> g(m_lock);
  item = nullptr;
  if (m_items.empty()) {
    ++m_waiters;
    const bool got = m_event.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return !m_items.empty(); });
    --m_waiters;
    if (!got) return 1;
  }
  item = m_items.front();
  m_items.pop_front();
  return 0;
}

size_t TLQueue::Count() const {
  std::lock_guard<std::mutex> g(m_lock);
  return m_items.size();
}

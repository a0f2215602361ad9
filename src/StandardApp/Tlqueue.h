// Tlqueue.h: TLQueue, the thread-safe queue of pointer-sized items with a "not empty" wait,
// used for channel in-queues (frames, results) and credit queues.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

class TLQueue {
 public:
  TLQueue() = default;
  TLQueue(const TLQueue&) = delete;
  TLQueue& operator=(const TLQueue&) = delete;

  // Appends and wakes a waiter; returns 1.
  int Push(void* item);
  int PushValue(intptr_t value) { return Push(reinterpret_cast<void*>(value)); }
  // Appends count items with one lock and one wake-up (the reader's batches). Unlike Push, the caller
  // must keep the queue alive until this returns, also when a taker already holds the items.
  void PushMany(void* const* items, size_t count);
  // Takes the first item; false (item null) when empty.
  bool Pop(void*& item);
  // Waits up to timeoutMs for an item and takes it: 0 taken, 1 time-out (2 abandoned and 3 error
  // belong to the result scheme but cannot happen here).
  int WaitPop(void*& item, unsigned timeoutMs);
  size_t Count() const;

 private:
  mutable std::mutex m_lock;
  std::condition_variable m_event;
  std::deque<void*> m_items;
  int m_waiters = 0;  // under m_lock: a push with nobody waiting skips the wake-up
};

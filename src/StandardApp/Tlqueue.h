// Tlqueue.h: TLQueue, the thread-safe queue of pointer-sized items with a "not empty" wait,
// used for channel in-queues (frames, results) and credit queues. Takers move everything waiting
// over to their own side with one lock of the producers' side, so that a fast stream costs the
// producer's lock once per batch instead of once per frame. Both sides are vectors that swap and
// keep up to a credit window's room, so a steady stream allocates nothing and a queue's memory
// stays bounded after a backlog.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

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
  // Under m_takeLock: moves the producers' items over when the takers' side is empty, then takes
  // the first; false when both sides are empty. moved (if given) gets m_moved when it was read.
  bool TakeTaken(void*& item, uint64_t* moved);

  mutable std::mutex m_lock;  // the producers' side; when both locks are held, m_takeLock is first
  std::condition_variable m_event;
  std::vector<void*> m_items;
  int m_waiters = 0;     // under m_lock: a push with nobody waiting skips the wake-up
  uint64_t m_moved = 0;  // under m_lock: counts moves that left items waiting on the takers' side
  mutable std::mutex m_takeLock;
  std::vector<void*> m_taken;  // under m_takeLock: from m_next on, older than everything in m_items
  size_t m_next = 0;
};

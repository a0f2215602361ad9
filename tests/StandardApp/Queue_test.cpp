// Queue_test.cpp: TLQueue order, empty pops and waits; items and frame buffers handed over between threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "StandardApp/Framepool.h"
#include "StandardApp/Tlqueue.h"

TEST(Queue, PushPopKeepsOrderAndEmptyPopGivesNull) {
  TLQueue q;
  int a = 1, b = 2;
  EXPECT_EQ(q.Push(&a), 1);
  EXPECT_EQ(q.Push(&b), 1);
  EXPECT_EQ(q.Count(), 2u);
  void* item = nullptr;
  ASSERT_TRUE(q.Pop(item));
  EXPECT_EQ(item, &a);
  ASSERT_TRUE(q.Pop(item));
  EXPECT_EQ(item, &b);
  EXPECT_FALSE(q.Pop(item));
  EXPECT_EQ(item, nullptr);
}

TEST(Queue, WaitPopTimesOutWhenEmptyAndCarriesValues) {
  TLQueue q;
  void* item = reinterpret_cast<void*>(1);
  EXPECT_EQ(q.WaitPop(item, 20), 1);
  EXPECT_EQ(item, nullptr);
  q.PushValue(235);
  EXPECT_EQ(q.WaitPop(item, 20), 0);
  EXPECT_EQ(reinterpret_cast<intptr_t>(item), 235);
}

TEST(ThreadedQueue, WaitPopWakesForAnotherThreadsPush) {
  TLQueue q;
  int value = 7;
  std::thread producer([&] { q.Push(&value); });
  void* item = nullptr;
  EXPECT_EQ(q.WaitPop(item, 10000), 0);
  EXPECT_EQ(item, &value);
  producer.join();
  // Another taker moves a batch over to the takers' side and takes only its first item: the waiter
  // must be woken for the rest; left asleep, it would time out with the items still queued.
  int batch[3];
  void* items[3] = {&batch[0], &batch[1], &batch[2]};
  for (int round = 0; round < 20; ++round) {
    std::thread waiter([&] {
      void* got = nullptr;
      EXPECT_EQ(q.WaitPop(got, 10000), 0) << "round " << round;
      EXPECT_TRUE(got == &batch[0] || got == &batch[1]);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // mostly, the waiter waits by now
    q.PushMany(items, 3);
    void* mine = nullptr;
    q.Pop(mine);
    waiter.join();
    while (q.Pop(mine)) {
    }
  }
}

// The reader's hand-over: frames made on one thread, pushed in batches, taken by two threads at
// once and handed back there (small buffers return to the maker for reuse). Each frame is taken
// once, intact, and each taker sees them in order.
TEST(ThreadedQueue, FramesTakenByTwoThreadsArriveOnceInOrderAndIntact) {
  TLQueue q;
  constexpr uint32_t kFrames = 40000;
  std::atomic<bool> produced{false};
  std::vector<uint32_t> seen[2];
  std::atomic<int> damaged{0};
  auto take = [&](int who) {
    for (;;) {
      void* item = nullptr;
      const bool got = who == 0 ? q.Pop(item) : q.WaitPop(item, 5) == 0;
      if (!got) {
        if (produced.load() && q.Count() == 0) return;
        continue;
      }
      auto* frame = static_cast<uint8_t*>(item);
      uint32_t seq, size;
      std::memcpy(&seq, frame, 4);
      std::memcpy(&size, frame + 4, 4);
      for (uint32_t k = 8; k < size; ++k)
        if (frame[k] != static_cast<uint8_t>(seq + k)) ++damaged;
      seen[who].push_back(seq);
      framepool::Give(frame);
    }
  };
  std::thread a(take, 0), b(take, 1);
  std::vector<void*> batch;
  for (uint32_t seq = 0; seq < kFrames; ++seq) {
    const uint32_t size = 8 + seq % 9 * 40;  // small and large frames (8..328 bytes)
    uint8_t* frame = framepool::Take(size);
    std::memcpy(frame, &seq, 4);
    std::memcpy(frame + 4, &size, 4);
    for (uint32_t k = 8; k < size; ++k) frame[k] = static_cast<uint8_t>(seq + k);
    batch.push_back(frame);
    if (batch.size() == 50 || seq + 1 == kFrames) {
      q.PushMany(batch.data(), batch.size());
      batch.clear();
    }
  }
  produced = true;
  a.join();
  b.join();
  EXPECT_EQ(damaged.load(), 0);
  EXPECT_EQ(seen[0].size() + seen[1].size(), kFrames);
  std::vector<bool> once(kFrames, false);
  for (const auto& s : seen) {
    EXPECT_TRUE(std::is_sorted(s.begin(), s.end()));
    for (uint32_t seq : s) {
      EXPECT_FALSE(once[seq]) << seq;
      once[seq] = true;
    }
  }
}

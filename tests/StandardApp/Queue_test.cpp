// Queue_test.cpp: TLQueue order, empty pops and waits.
#include <gtest/gtest.h>

#include <thread>

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
}

// Dispatcher_test.cpp: synchronised calls into the main thread and the rule that stopping a thread
// that waits in such a call never deadlocks.
#include <gtest/gtest.h>

#include <atomic>

#include "StandardApp/Mainthread.h"
#include "StandardApp/Zthread.h"

namespace {
// A worker that makes one synchronised call and records its outcome.
class TCaller : public CZThread {
 public:
  TCaller(CMainDispatcher& d, std::function<void()> fn) : m_d(d), m_fn(std::move(fn)) {}
  ~TCaller() override { Stop(); }
  std::atomic<int> outcome{-1};

 protected:
  void Execute() override { outcome = SyncCall(m_d, m_fn, TerminateFlag()) ? 1 : 0; }

 private:
  CMainDispatcher& m_d;
  std::function<void()> m_fn;
};
}  // namespace

TEST(ThreadedDispatcher, CallRunsOnTheMainThreadAndTheCallerWaits) {
  CLoopDispatcher loop;
  std::thread::id ranOn;
  TCaller caller(loop, [&] { ranOn = std::this_thread::get_id(); });
  caller.Resume();
  ASSERT_TRUE(loop.RunUntil([&] { return caller.outcome.load() != -1; }, 10000));
  EXPECT_EQ(caller.outcome.load(), 1);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(ThreadedDispatcher, StoppingAWaitingThreadSkipsItsCall) {
  CLoopDispatcher loop;
  bool ran = false;
  auto caller = std::make_unique<TCaller>(loop, [&] { ran = true; });
  caller->Resume();
  // The main thread does not serve the queue and destroys the thread: no deadlock, call skipped.
  caller.reset();
  loop.ProcessPending();
  EXPECT_FALSE(ran);
}

TEST(ThreadedDispatcher, ACallThatStopsItsOwnCallerDoesNotDeadlock) {
  CLoopDispatcher loop;
  std::unique_ptr<TCaller> caller;
  bool done = false;
  caller = std::make_unique<TCaller>(loop, [&] {
    caller.reset();  // like a loss hook that disconnects
    done = true;
  });
  caller->Resume();
  ASSERT_TRUE(loop.RunUntil([&] { return done; }, 10000));
  EXPECT_EQ(caller, nullptr);
}

TEST(ThreadedDispatcher, CallFromTheMainThreadRunsAtOnce) {
  CLoopDispatcher loop;
  int n = 0;
  EXPECT_TRUE(SyncCall(
      loop, [&] { ++n; }, nullptr));
  EXPECT_EQ(n, 1);
  CDirectDispatcher direct;
  EXPECT_TRUE(SyncCall(
      direct, [&] { ++n; }, nullptr));
  EXPECT_EQ(n, 2);
}

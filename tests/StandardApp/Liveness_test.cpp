// Liveness_test.cpp: the link itself: broken input, silence, keep-alive, reader faults, failed sends, a
// hook that disconnects, and the session's settings.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "SessionFixture.h"
#include "StandardApp/Canslavecuthread.h"
#include "StandardApp/Opencuthread.h"
#include "StandardApp/Zematread.h"

TEST_F(ThreadedSession, InvalidLengthReportsTheLossOnceAndSendsNoRedCard) {
  ASSERT_TRUE(ConnectStandard());
  Bytes oversized{0x11, 0xF8, 0x00, 0x05};  // 4600
  oversized.resize(4600, 0x5A);
  fake->Send(oversized);
  ASSERT_TRUE(loop.RunUntil([&] { return s->lost > 0; }, 3000));
  EXPECT_FALSE(s->IsConnected());
  // More broken and valid-looking input after the report: discarded, no second report.
  fake->Send({0x00, 0x02, 0x00, 0x05});
  fake->Send(MakeFrame(0xFFFF, Join({U16(0), {0}})));
  EXPECT_FALSE(loop.RunUntil([&] { return s->lost > 1; }, 600));
  EXPECT_EQ(s->events, std::vector<std::string>{"lost"});
  EXPECT_EQ(fake->RedCards(), 1);
  Finish();  // no goodbye on a lost link
}

// An open nobody answers and a write waiting for a credit must not outlive the link by their long
// time-outs: a caller on the main thread would freeze the program that long.
TEST_F(ThreadedSession, LostLinkEndsOpenAndCreditWaitsAtOnce) {
  CZematTimings t = s->Timings();
  t.channelWaitMs = 60000;
  s->SetTimings(t);
  ASSERT_TRUE(ConnectStandard());
  CCuIO loader(Desc(0, 3));  // LD: no in-buffers, hence no credit
  Open(loader, kLD, 44);
  CCuIO in(Desc(0, 0));
  fake->Expect(opn, CuRec(kIN, 0x09));  // never answered
  auto start = std::chrono::steady_clock::now();
  std::atomic<int> writeRc{-1}, openRc{-1};
  std::thread writer([&] { writeRc = loader.Write("X", 1); });
  std::thread opener([&] { openRc = in.Open(); });
  ASSERT_TRUE(fake->WaitConsumed(3000));  // the open request is out
  fake->Send({0x00, 0x03, 0x00, 0x05});   // a broken frame loses the link
  ASSERT_TRUE(loop.RunUntil([&] { return s->lost > 0; }, 3000));
  writer.join();
  opener.join();
  EXPECT_EQ(writeRc.load(), Z_TIMEOUT);
  EXPECT_EQ(openRc.load(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(loader.Close(), 0);  // nothing to talk to any more
  Finish();
}

// Closing a channel on a link the instrument has closed must not wait out its long time-out: closing
// windows while quitting after a drop would freeze the program. The loss itself still waits for the
// silence limit, and an open keeps waiting for it so that its caller can tell the loss from a refusal.
TEST_F(ThreadedSession, CloseOnALinkTheInstrumentClosedDoesNotWait) {
  CZematTimings t = s->Timings();
  t.channelWaitMs = 60000;
  s->SetTimings(t);
  s->SetTimeout(60000);  // the silence limit: no loss report during this test
  ASSERT_TRUE(ConnectStandard());
  CCuIO loader(Desc(0, 3));
  Open(loader, kLD, 44);
  CCuIO in(Desc(0, 0));
  fake->SetAutoGrant(false);
  Open(in, kIN, 45);  // takes the open CU's credit: the next request waits for one
  auto start = std::chrono::steady_clock::now();
  fake->HalfClose();  // no answer and no credit can come any more
  EXPECT_EQ(loader.Close(), 0);
  EXPECT_EQ(in.Close(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(s->lost, 0);
  EXPECT_TRUE(s->IsConnected());
  s->Disconnect();
}

// A thread that is being stopped wakes its channel's read instead of waiting out the read's time-out;
// the wake-up is meant for that read alone.
TEST_F(ThreadedSession, AWokenReadEndsAtOnceAndTheChannelGoesOn) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO in(Desc(0, 0));
  Open(in, kIN, 45);
  std::atomic<int> rc{-1};
  auto start = std::chrono::steady_clock::now();
  std::thread reader([&] {
    char buffer[Z_READ_BUFFER];
    int length = sizeof buffer;
    rc = in.Read(buffer, &length, 60000);
  });
  ASSERT_TRUE(fake->WaitFor([&] { return fake->GrantsFor(45) > 0; }, 3000));  // the read is under way
  in.WakeReader();
  reader.join();
  EXPECT_EQ(rc.load(), Z_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  fake->Send(MakeFrame(45, {'o', 'k'}));
  std::string text;
  ASSERT_EQ(ReadFrame(in, text), Z_OK);  // a wake-up once taken ends no later read
  EXPECT_EQ(text, "ok");
  in.WakeReader();  // nobody reads: the close's wait passes it by
  Close(in);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, LengthBelowTheHeaderReportsTheLoss) {
  ASSERT_TRUE(ConnectStandard());
  fake->Send({0x00, 0x03, 0x00, 0x05});
  ASSERT_TRUE(loop.RunUntil([&] { return s->lost > 0; }, 3000));
  EXPECT_EQ(s->events, std::vector<std::string>{"lost"});
  EXPECT_EQ(fake->RedCards(), 1);
  Finish();
}

TEST_F(ThreadedSession, SilenceGivesExactlyOneLossReport) {
  ASSERT_TRUE(ConnectStandard());
  ASSERT_TRUE(loop.RunUntil([&] { return s->lost > 0; }, 8000));
  EXPECT_FALSE(s->IsConnected());
  EXPECT_FALSE(loop.RunUntil([&] { return s->lost > 1; }, 1000));
  EXPECT_EQ(s->events, std::vector<std::string>{"lost"});
  CCuIO ch(Desc(0, 0));
  EXPECT_EQ(ch.Write("X", 1), Z_TIMEOUT);  // not connected: at once
  Finish();                                // no goodbye on a lost link
}

TEST_F(ThreadedSession, FramesBeforeTheLimitKeepTheLinkAlive) {
  ASSERT_TRUE(ConnectStandard());
  for (int i = 0; i < 4; ++i) {  // one instrument keep-alive per second against a 3 s limit
    fake->Send(MakeFrame(0xFFFF, Join({U16(0), {0}})));
    EXPECT_FALSE(loop.RunUntil([&] { return s->lost > 0; }, 1000));
  }
  EXPECT_TRUE(s->IsConnected());
  ASSERT_TRUE(loop.RunUntil([&] { return s->lost > 0; }, 8000));
  Finish();
}

TEST_F(ThreadedSession, KeepAliveWhenIdle) {
  CZematTimings t = s->Timings();
  t.keepAliveIdlePeriods = 1;
  s->SetTimings(t);
  ASSERT_TRUE(ConnectStandard());
  EXPECT_TRUE(fake->WaitFor([&] { return fake->KeepAlives() >= 2; }, 5000));
  ExpectGoodbye();
  Finish();
}

// Writes go out on the callers' threads while the writer thread sends keep-alives: frames keep their
// order, each write waits for its credit, and a link busy with such writes sends no keep-alive.
TEST_F(ThreadedSession, WritesOnCallerThreadsKeepOrderCreditsAndTheLinkBusy) {
  CZematTimings t = s->Timings();
  t.keepAliveIdlePeriods = 2;  // a keep-alive after more than 600 ms without writes
  s->SetTimings(t);
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 0));
  Open(ch, kIN, 40);
  ASSERT_EQ(ch.GetSendCredits(), 1);
  // Each frame is answered by the credit for the next one and a reply.
  constexpr int kFrames = 12;
  for (int i = 0; i < kFrames; ++i)
    fake->Expect(40, Text("F" + std::to_string(i)),
                 {MakeFrame(0xFFFF, Join({U16(40), {1}})), MakeFrame(40, Text("R" + std::to_string(i)))});
  std::atomic<int> failed{0};
  std::thread writer([&] {
    for (int i = 0; i < kFrames; ++i) {
      const std::string text = "F" + std::to_string(i);
      if (ch.Write(text.data(), static_cast<int>(text.size())) != Z_OK) ++failed;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  // Meanwhile this thread reads the replies; its first read writes a read-credit grant.
  for (int i = 0; i < kFrames; ++i) {
    std::string reply;
    ASSERT_EQ(ReadFrame(ch, reply), Z_OK);
    EXPECT_EQ(reply, "R" + std::to_string(i));
  }
  writer.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_TRUE(fake->WaitConsumed(3000));
  EXPECT_EQ(fake->KeepAlives(), 0);
  EXPECT_EQ(fake->GrantsFor(40), 1);
  EXPECT_EQ(ch.PendingGrants(), 1u);  // the last grant is kept for the next write
  EXPECT_TRUE(fake->WaitFor([&] { return fake->KeepAlives() >= 1; }, 5000));  // idle again
  Close(ch);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, ExceptionInTheReaderReportsTheLoss) {
  class CThrowingIO : public CCuIO {
   public:
    using CCuIO::CCuIO;
    void Deliver(uint8_t* item, int) override {
      delete[] item;
      throw std::runtime_error("delivery failed");
    }
    void DeliverMany(uint8_t* const* items, size_t count) override {
      for (size_t i = 0; i < count; ++i) delete[] items[i];
      throw std::runtime_error("delivery failed");
    }
  };
  ASSERT_TRUE(ConnectStandard());
  CThrowingIO ch(Desc(0, 1));
  Open(ch, kEV, 45);
  fake->Send(MakeFrame(45, Text("boom")));
  ASSERT_TRUE(loop.RunUntil([&] { return s->lost > 0; }, 5000));
  EXPECT_FALSE(s->IsConnected());
  EXPECT_FALSE(loop.RunUntil([&] { return s->lost > 1; }, 500));
  Finish();
}

TEST_F(ThreadedSession, FailedSendIsAFailedWrite) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 0));
  Open(ch, kIN, 40);
  fake->Close();
  EXPECT_EQ(ch.Write("X", 1), Z_ERROR);
  s->Disconnect();  // neither hangs nor crashes
}

TEST_F(ThreadedSession, HookThatDisconnectsDoesNotDeadlock) {
  class CDisconnectingInstr : public CRecordingInstr {
   public:
    void OnConnectionLost() override {
      CRecordingInstr::OnConnectionLost();
      Disconnect();
    }
  };
  auto own = std::make_unique<CDisconnectingInstr>();
  own->SetDispatcher(&loop);
  own->SetTimeout(3000);
  s = std::move(own);
  ASSERT_TRUE(ConnectStandard());
  ASSERT_TRUE(loop.RunUntil([&] { return s->lost > 0; }, 8000));
  EXPECT_EQ(s->ReaderThread(), nullptr);
  EXPECT_FALSE(s->IsConnected());
}

TEST(Session, TimeoutHasAFloorOf3000) {
  CZematInstr s;
  EXPECT_EQ(s.GetTimeout(), 5000u);
  s.SetTimeout(1000);
  EXPECT_EQ(s.GetTimeout(), 3000u);
  s.SetTimeout(8000);
  EXPECT_EQ(s.GetTimeout(), 8000u);
}

TEST(Session, SerialDeviceNamesAndPorts) {
  CZematInstr s;
  EXPECT_EQ(s.SerialDevice(1), "/dev/ttyS0");
  EXPECT_EQ(s.SerialDevice(4), "/dev/ttyS3");
  s.SetSerialDevice(2, "/dev/ttyUSB0");
  EXPECT_EQ(s.SerialDevice(2), "/dev/ttyUSB0");
  EXPECT_EQ(s.GetTelnetPort(), 23);
  EXPECT_EQ(s.GetDataPort(), 9100);
  s.SetLanPorts(2323, 19100);
  EXPECT_EQ(s.GetDataPort(), 19100);
}

TEST(Session, ConnectFailsWhenTheTransportCannotOpen) {
  CZematInstr s;
  s.SetSerialDevice(1, "/nonexistent/tty");
  EXPECT_FALSE(s.Connect(1, nullptr));
  EXPECT_FALSE(s.Connect(0, ""));
  EXPECT_FALSE(s.Connect(0, "no-such-host.invalid"));
  EXPECT_FALSE(s.IsConnected());
}

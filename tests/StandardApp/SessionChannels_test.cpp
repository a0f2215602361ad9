// SessionChannels_test.cpp: channels on a running session: opens and closes matched by key and socket,
// credits on both sides, oversized writes and slave channels behind the "CS" CU.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "SessionFixture.h"
#include "StandardApp/Canslavecuthread.h"
#include "StandardApp/Opencuthread.h"
#include "StandardApp/Zematread.h"

TEST_F(ThreadedSession, RefusedOpenReturnsZero) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 0));
  Bytes request = CuRec(kIN, 0x09);
  fake->Expect(opn, request, {MakeFrame(opn, Join({{0x0B, 0x00, 0x00}, request}))});
  EXPECT_EQ(ch.Open(), 0);
  EXPECT_FALSE(ch.IsOpen());
  EXPECT_EQ(ch.GetSocket(), Z_NO_SOCKET);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, InstructionRoundTripWithCreditsOnBothSides) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 0));
  Open(ch, kIN, 40);
  EXPECT_EQ(ch.GetGrantedOutCount(), 4);
  EXPECT_EQ(ch.GetGrantedInSize(), 128);
  EXPECT_EQ(ch.GetSendCredits(), 1);
  fake->Expect(40, Text("*IDN?"), {MakeFrame(40, Text("MAIN-1,000123"))});
  EXPECT_EQ(ch.Write("*IDN?", 5), Z_OK);
  std::string reply;
  ASSERT_EQ(ReadFrame(ch, reply), Z_OK);
  EXPECT_EQ(reply, "MAIN-1,000123");
  EXPECT_TRUE(fake->WaitFor([&] { return fake->GrantsFor(40) == 1; }, 3000));  // the first read granted 235
  EXPECT_EQ(ch.GetReadCreditsOutstanding(), 234);
  // No credit left: the next write waits until the instrument grants 5, then 4 remain.
  fake->Expect(40, Text("A"));
  int rc = -1;
  std::thread writer([&] { rc = ch.Write("A", 1); });
  fake->Send(MakeFrame(0xFFFF, Join({U16(40), {5}})));
  writer.join();
  EXPECT_EQ(rc, Z_OK);
  EXPECT_EQ(ch.GetSendCredits(), 4);
  Close(ch);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, WriteWithoutCreditTimesOut) {
  CZematTimings t = s->Timings();
  t.channelWaitMs = 1000;  // also bounds the open below, which is answered at once
  s->SetTimings(t);
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 3));  // LD: no in-buffers, hence no credit
  Open(ch, kLD, 44);
  EXPECT_EQ(ch.GetSendCredits(), 0);
  EXPECT_EQ(ch.Write("X", 1), Z_TIMEOUT);
  Close(ch);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, ReadCreditsAreGrantedInBatches) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 1));
  Open(ch, kEV, 42);
  Bytes many;
  for (int i = 0; i < 216; ++i) {
    Bytes f = MakeFrame(42, {static_cast<uint8_t>(i)});
    many.insert(many.end(), f.begin(), f.end());
  }
  fake->Send(many);
  for (int i = 0; i < 215; ++i) {
    std::string t;
    ASSERT_EQ(ReadFrame(ch, t), Z_OK);
    ASSERT_EQ(static_cast<uint8_t>(t[0]), static_cast<uint8_t>(i));
  }
  EXPECT_TRUE(fake->WaitFor([&] { return fake->GrantsFor(42) == 1; }, 3000));
  EXPECT_EQ(ch.GetReadCreditsOutstanding(), 20);
  std::string t;
  ASSERT_EQ(ReadFrame(ch, t), Z_OK);
  EXPECT_TRUE(fake->WaitFor([&] { return fake->GrantsFor(42) == 2; }, 3000));
  for (auto& [socket, count] : fake->Grants()) EXPECT_EQ(count, 235);
  Close(ch);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, OpenRepliesMatchByKeyAndCloseRepliesBySocket) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO in(Desc(0, 0)), tr(Desc(0, 4));
  CuModel stranger{"X", "Y", "ZZ"};
  fake->Expect(opn, CuRec(kIN, 0x09));
  fake->Expect(opn, CuRec(kTR, 0x09),
               {MakeFrame(opn, OpenReply(kTR, 51)), MakeFrame(opn, OpenReply(stranger, 52)),
                MakeFrame(opn, OpenReply(kIN, 50))});
  int inResult = -1;
  std::thread a([&] { inResult = in.Open(); });
  ASSERT_TRUE(fake->WaitFor([&] { return fake->StepsLeft() == 1; }, 3000));
  EXPECT_EQ(tr.Open(), 1);
  a.join();
  EXPECT_EQ(inResult, 1);
  EXPECT_EQ(in.GetSocket(), 50);
  EXPECT_EQ(tr.GetSocket(), 51);
  EXPECT_EQ(s->FindCu(50), &in);
  EXPECT_EQ(s->FindCu(52), nullptr);
  fake->Expect(opn, {0x0A, 0x00, 50});
  fake->Expect(opn, {0x0A, 0x00, 51}, {MakeFrame(opn, {0x0A, 0x00, 51}), MakeFrame(opn, {0x0A, 0x00, 50})});
  int closeIn = -1;
  std::thread b([&] { closeIn = in.Close(); });
  ASSERT_TRUE(fake->WaitFor([&] { return fake->StepsLeft() == 1; }, 3000));
  EXPECT_EQ(tr.Close(), 1);
  b.join();
  EXPECT_EQ(closeIn, 1);
  EXPECT_EQ(s->FindCu(50), nullptr);
  EXPECT_EQ(s->FindCu(51), nullptr);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, SameKeyCompletesTheEarliestPendingOpenFirst) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO first(Desc(0, 0)), second(Desc(0, 0));
  fake->Expect(opn, CuRec(kIN, 0x09));
  fake->Expect(opn, CuRec(kIN, 0x09), {MakeFrame(opn, OpenReply(kIN, 60)), MakeFrame(opn, OpenReply(kIN, 61))});
  int r1 = -1;
  std::thread a([&] { r1 = first.Open(); });
  ASSERT_TRUE(fake->WaitFor([&] { return fake->StepsLeft() == 1; }, 3000));
  EXPECT_EQ(second.Open(), 1);
  a.join();
  EXPECT_EQ(r1, 1);
  EXPECT_EQ(first.GetSocket(), 60);
  EXPECT_EQ(second.GetSocket(), 61);
  Close(first);
  Close(second);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, CreditGrantRightBehindTheOpenReplyIsKept) {
  ASSERT_TRUE(ConnectStandard());
  for (long socket : {70L, 71L, 72L, 73L, 74L}) {  // several rounds: the race goes either way
    CCuIO ld(Desc(0, 3));
    Bytes both = Join({MakeFrame(opn, OpenReply(kLD, socket)), MakeFrame(0xFFFF, Join({U16(socket), {2}}))});
    fake->Expect(opn, CuRec(kLD, 0x09), {both});
    ASSERT_EQ(ld.Open(), 1);
    fake->Expect(socket, Text("GO"));
    EXPECT_EQ(ld.Write("GO", 2), Z_OK) << "socket " << socket;
    EXPECT_EQ(ld.GetSendCredits(), 1);
    Close(ld);
  }
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, EarlyGrantIsAppliedWhenTheSocketIsAssigned) {
  ASSERT_TRUE(ConnectStandard());
  s->ExpectSocket(90);
  Bytes grant = MakeFrame(0xFFFF, Join({U16(90), {3}, U16(91), {4}}));
  s->HandleCredits(grant.data());  // reader side: 91 was not announced and is dropped
  CCuIO ld(Desc(0, 3));
  s->AddOpenCu(&ld, 90);  // open-CU side
  EXPECT_EQ(ld.GetSendCredits(), 0);
  EXPECT_EQ(ld.PendingGrants(), 1u);
  s->AddOpenCu(&ld, 90);
  EXPECT_EQ(ld.PendingGrants(), 1u);  // applied once only
  s->RemoveOpenCu(&ld);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, CloseDiscardsFramesStillQueued) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 1));
  Open(ch, kEV, 43);
  for (int i = 0; i < 3; ++i) fake->Send(MakeFrame(43, {static_cast<uint8_t>(i)}));
  ASSERT_TRUE(WaitUntil([&] { return ch.QueuedItems() == 3; }, 3000));
  Close(ch);
  EXPECT_EQ(ch.QueuedItems(), 0u);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, ChannelThatIsNotOpenTimesOutOrRefuses) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 0));
  std::string t;
  EXPECT_EQ(ReadFrame(ch, t, 30), Z_TIMEOUT);
  EXPECT_EQ(ch.Write("X", 1), Z_ERROR);
  EXPECT_EQ(ch.Close(), 0);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, FramesOnReservedOrUnknownSocketsAreDropped) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 1));
  Open(ch, kEV, 44);
  fake->Send(Join(
      {MakeFrame(65533, Text("a")), MakeFrame(65534, Text("b")), MakeFrame(99, Text("c")), MakeFrame(44, Text("d"))}));
  std::string t;
  ASSERT_EQ(ReadFrame(ch, t), Z_OK);
  EXPECT_EQ(t, "d");
  Close(ch);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, OversizedWritesAreRefused) {
  ASSERT_TRUE(ConnectStandard());
  CCuIO ch(Desc(0, 0));
  Open(ch, kIN, 40);
  Bytes big(4497, 'x');
  EXPECT_EQ(ch.Write(big.data(), 4497), Z_ERROR);
  EXPECT_EQ(ch.Write(nullptr, 3), Z_ERROR);
  EXPECT_EQ(ch.Write(big.data(), 0), Z_ERROR);
  EXPECT_EQ(ch.GetSendCredits(), 1);  // nothing was spent
  Close(ch);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, SlaveChannelThroughTheCanSlaveCu) {
  ASSERT_TRUE(ConnectStandard());
  std::shared_ptr<CCuDesc> slaveDesc = Desc(2, 0);
  const CuModel& slaveModel = kSlave.cus[0];
  CCuIoSlave slave(slaveDesc);
  fake->Expect(opn, CuRec(kCS, 0x09), {MakeFrame(opn, OpenReply(kCS, 46))});
  fake->Expect(opn, CuKey(slaveModel, 0x14), {MakeFrame(opn, Join({CuKey(slaveModel, 0x14), U16(300)}))});
  ASSERT_EQ(slave.Open(), 1);
  EXPECT_EQ(slave.GetSocket(), 300);
  ASSERT_NE(s->CsThread(false), nullptr);
  EXPECT_TRUE(s->CsThread(false)->IsRegistered(&slave));
  fake->Expect(46, Join({U16(300), Text("abc")}));
  EXPECT_EQ(slave.Write("abc", 3), Z_OK);
  Bytes tooLong(4495, 'y');
  EXPECT_EQ(slave.Write(tooLong.data(), 4495), Z_ERROR);
  fake->Send(Join({MakeFrame(46, Join({U16(999), Text("lost")})), MakeFrame(46, Join({U16(300), Text("hello")}))}));
  uint8_t buffer[Z_READ_BUFFER];
  int length = sizeof buffer;
  ASSERT_EQ(slave.Read(buffer, &length, 3000), Z_OK);
  ASSERT_EQ(length, 4 + 2 + 5 + 1);
  EXPECT_EQ(CZematInstr::ReadU16(buffer + 2), 46u);
  EXPECT_EQ(CZematInstr::ReadU16(buffer + 4), 300u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 6), "hello");
  fake->Expect(opn, {0x15, 0x01, 0x2C}, {MakeFrame(opn, {0x15, 0x01, 0x2C})});
  EXPECT_EQ(slave.Close(), 1);
  EXPECT_EQ(slave.GetSocket(), Z_NO_SOCKET);
  ASSERT_TRUE(fake->WaitConsumed(3000));
  ASSERT_TRUE(WaitUntil([&] { return !s->CsThread(false)->IsRegistered(&slave); }, 3000));
  fake->Expect(opn, {0x0A, 0x00, 46}, {MakeFrame(opn, {0x0A, 0x00, 46})});  // the "CS" CU closes at disconnect
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, SlaveOpenWithoutCanSlaveCuFails) {
  ScriptEnumeration(*fake, cfg, {kAux}, {kSlave});
  ASSERT_TRUE(Connect());
  CCuIoSlave slave(Desc(1, 0));
  EXPECT_EQ(slave.Open(), 0);
  EXPECT_EQ(slave.Write("x", 1), Z_ERROR);
  ExpectGoodbye();
  Finish();
}

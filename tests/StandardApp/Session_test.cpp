// Session_test.cpp: the session against a scripted instrument: start-up and enumeration, refresh,
// opens and closes, credits on both sides, silence, keep-alive, resynchronisation and goodbye.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "SessionModel.h"
#include "StandardApp/Canslavecuthread.h"
#include "StandardApp/Opencuthread.h"
#include "StandardApp/Zematread.h"

namespace {
bool WaitUntil(const std::function<bool()>& pred, unsigned ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string Text(const uint8_t* frame, int length) {
  return std::string(reinterpret_cast<const char*>(frame) + 4, length - 4);
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

const Bytes kAnswer789{0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x07, 0x00, 0x08, 0x00, 0x09};
}  // namespace

class ThreadedSession : public ::testing::Test {
 protected:
  CLoopDispatcher loop;
  std::unique_ptr<CRecordingInstr> s;
  std::unique_ptr<FakeInstrument> fake;
  int hostFd = -1;
  long cfg = 0, evt = 1, opn = 2;

  void SetUp() override {
    s = std::make_unique<CRecordingInstr>();
    s->SetDispatcher(&loop);
    s->SetTimeout(3000);
    CZematTimings t;
    t.channelWaitMs = 3000;
    t.writerWaitMs = 5000;
    s->SetTimings(t);
    auto [f, fd] = FakeInstrument::Pair();
    fake.reset(f);
    hostFd = fd;
  }
  void TearDown() override {
    s.reset();
    fake.reset();
  }
  void UseSockets789() {
    fake->SetRedCardAnswer(kAnswer789);
    fake->SetControlSockets(7, 8, 9);
    cfg = 7, evt = 8, opn = 9;
  }
  bool Connect() {
    fake->Start();
    return s->ConnectStream(hostFd);
  }
  // Standard instrument: MAIN-1 and AUX-2 in list 1, SLAVE-A in list 2.
  bool ConnectStandard() {
    ScriptEnumeration(*fake, cfg, {kMain, kAux}, {kSlave});
    return Connect() && fake->WaitConsumed(3000);
  }
  void ExpectGoodbye() { fake->Expect(cfg, {0x07}); }
  void Finish() {
    s->Disconnect();
    EXPECT_TRUE(fake->WaitConsumed(3000)) << fake->StepsLeft() << " steps left";
    for (auto& e : fake->Errors()) ADD_FAILURE() << e;
  }
  std::shared_ptr<CCuDesc> Desc(int module, int cu) { return s->GetModule(module)->GetCuDesc(cu); }
  int ReadFrame(CCuIoBase& ch, std::string& text, unsigned ms = 3000) {
    uint8_t buffer[Z_READ_BUFFER];
    int length = sizeof buffer;
    int rc = ch.Read(buffer, &length, ms);
    if (rc == Z_OK) text = Text(buffer, length - 1);
    return rc;
  }
  void Open(CCuIO& ch, const CuModel& model, long socket) {
    fake->Expect(opn, CuRec(model, 0x09), {MakeFrame(opn, OpenReply(model, socket))});
    ASSERT_EQ(ch.Open(), 1);
    ASSERT_EQ(ch.GetSocket(), socket);
  }
  void Close(CCuIO& ch) {
    long socket = ch.GetSocket();
    fake->Expect(opn, Join({{0x0A}, U16(socket)}), {MakeFrame(opn, Join({{0x0A}, U16(socket)}))});
    EXPECT_EQ(ch.Close(), 1);
    EXPECT_EQ(ch.GetSocket(), Z_NO_SOCKET);
  }
};

TEST_F(ThreadedSession, EnumeratesBothListsWithNamedControlSockets) {
  UseSockets789();
  ASSERT_TRUE(ConnectStandard());
  EXPECT_TRUE(s->IsConnected());
  EXPECT_EQ(s->GetMode(), 2);
  ASSERT_EQ(s->GetModuleCount(), 3);
  EXPECT_STREQ(s->GetModule(0)->GetModuleType(), "MAIN-1");
  EXPECT_STREQ(s->GetModule(0)->GetSerialNumber(), "000123");
  EXPECT_FALSE(s->GetModule(0)->IsSecondList());
  EXPECT_STREQ(s->GetModule(1)->GetModuleType(), "AUX-2");
  EXPECT_STREQ(s->GetModule(2)->GetModuleType(), "SLAVE-A");
  EXPECT_TRUE(s->GetModule(2)->IsSecondList());
  EXPECT_EQ(s->GetModule(3), nullptr);
  std::shared_ptr<CModule> main = s->GetModule(0);
  ASSERT_EQ(main->GetCuDescCount(), 5);
  EXPECT_STREQ(main->GetCuDesc(0)->GetCuName(), "IN");
  EXPECT_STREQ(main->GetCuDesc(0)->GetOwnerText(), "MAIN");
  EXPECT_STREQ(main->GetCuDesc(0)->GetDescription(), "INSTRUCT");
  EXPECT_STREQ(main->GetCuDesc(2)->GetCuName(), "CS");
  EXPECT_EQ(main->GetCuDesc(2)->GetOutSize(), 4500);
  EXPECT_EQ(main->GetCuDesc(1)->GetInCount(), 0);
  EXPECT_EQ(main->GetCuDesc(4)->GetInSize(), 32);
  EXPECT_EQ(main->GetCuDesc(5), nullptr);
  EXPECT_EQ(main->GetCuDesc(0)->GetModule(), main.get());
  EXPECT_EQ(fake->RedCards(), 1);
  EXPECT_GE(fake->GrantsFor(7), 1);  // read credits for the configuration CU
  ExpectGoodbye();
  Finish();
  EXPECT_FALSE(s->IsConnected());
  EXPECT_EQ(s->GetModuleCount(), 0);
  EXPECT_TRUE(fake->WaitFor([&] { return fake->PeerClosed(); }, 3000));
}

TEST_F(ThreadedSession, ModuleWithDashRIsEnumeratedWithList1Only) {
  ModModel r{"MAIN-R", "1", {kIN}};
  ScriptEnumeration(*fake, cfg, {r, kAux}, {kSlave});
  ASSERT_TRUE(Connect());
  EXPECT_EQ(s->GetMode(), 1);
  EXPECT_EQ(s->GetModuleCount(), 2);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, EmptyList1GoesOnWithList2) {
  ScriptEnumeration(*fake, cfg, {}, {kSlave, kAux});
  ASSERT_TRUE(Connect());
  ASSERT_EQ(s->GetModuleCount(), 2);
  EXPECT_TRUE(s->GetModule(0)->IsSecondList());
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, EmptyList2AddsNothing) {
  ScriptEnumeration(*fake, cfg, {kAux}, {});
  ASSERT_TRUE(Connect());
  EXPECT_EQ(s->GetModuleCount(), 1);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, FirstReplyThatIsNoModuleFailsAndReleasesEverything) {
  fake->Expect(cfg, {0x01}, {MakeFrame(cfg, {0x33, 0x00})});
  EXPECT_FALSE(Connect());
  EXPECT_FALSE(s->IsConnected());
  EXPECT_EQ(s->ReaderThread(), nullptr);
  EXPECT_EQ(s->WriterThread(), nullptr);
  EXPECT_EQ(s->OpenCuThread(), nullptr);
  EXPECT_TRUE(fake->WaitFor([&] { return fake->PeerClosed(); }, 3000));
  Finish();  // no goodbye after a failed start
}

TEST_F(ThreadedSession, NoRedCardAnswerFailsWithoutGoodbye) {
  fake->SetRedCardAnswer({});
  EXPECT_FALSE(Connect());
  EXPECT_EQ(fake->RedCards(), 1);
  EXPECT_TRUE(fake->WaitFor([&] { return fake->PeerClosed(); }, 3000));
  s->Disconnect();
  for (auto& e : fake->Errors()) ADD_FAILURE() << e;
}

TEST_F(ThreadedSession, UnexpectedReplyToNextRepeatsTheRequest) {
  fake->Expect(cfg, {0x01}, {MakeFrame(cfg, ModRec(kAux, 1))});
  fake->Expect(cfg, ModRec(kAux, 2), {MakeFrame(cfg, {0x42})});
  fake->Expect(cfg, ModRec(kAux, 2), {MakeFrame(cfg, {0x0E})});  // the same request once more
  fake->Expect(cfg, {0x12}, {MakeFrame(cfg, {0x0E})});
  ScriptCus(*fake, cfg, kAux);
  ASSERT_TRUE(Connect());
  EXPECT_EQ(s->GetModuleCount(), 1);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, EndlessUnexpectedRepliesFailTheList) {
  fake->Expect(cfg, {0x01}, {MakeFrame(cfg, ModRec(kAux, 1))});
  for (int i = 0; i < 17; ++i) fake->Expect(cfg, ModRec(kAux, 2), {MakeFrame(cfg, {0x42})});
  EXPECT_FALSE(Connect());
  Finish();
}

TEST_F(ThreadedSession, ThirtyTwoModulesEndTheListAndList2IsNotAsked) {
  std::vector<ModModel> mods;
  for (int i = 0; i < 33; ++i) mods.push_back({"M" + std::to_string(i), std::to_string(1000 + i), {}});
  fake->Expect(cfg, {0x01}, {MakeFrame(cfg, ModRec(mods[0], 1))});
  for (int i = 0; i < 32; ++i) fake->Expect(cfg, ModRec(mods[i], 2), {MakeFrame(cfg, ModRec(mods[i + 1], 2))});
  for (int i = 0; i < 32; ++i) ScriptCus(*fake, cfg, mods[i]);
  ASSERT_TRUE(Connect());
  ASSERT_EQ(s->GetModuleCount(), 32);
  EXPECT_STREQ(s->GetModule(31)->GetModuleType(), "M31");
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, List2NeverGrowsTheArrayBeyondThirtyTwo) {
  std::vector<ModModel> list1, list2;
  for (int i = 0; i < 30; ++i) list1.push_back({"A" + std::to_string(i), "1", {}});
  for (int i = 0; i < 3; ++i) list2.push_back({"B" + std::to_string(i), "2", {}});
  ScriptList(*fake, cfg, 1, list1);
  fake->Expect(cfg, {0x12}, {MakeFrame(cfg, ModRec(list2[0], 18))});
  fake->Expect(cfg, ModRec(list2[0], 0x13), {MakeFrame(cfg, ModRec(list2[1], 19))});
  fake->Expect(cfg, ModRec(list2[1], 0x13), {MakeFrame(cfg, ModRec(list2[2], 19))});  // discarded
  for (auto& m : list1) ScriptCus(*fake, cfg, m);
  for (int i = 0; i < 2; ++i) ScriptCus(*fake, cfg, list2[i]);
  ASSERT_TRUE(Connect());
  EXPECT_EQ(s->GetModuleCount(), 32);
  EXPECT_STREQ(s->GetModule(31)->GetModuleType(), "B1");
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, SixteenCuDescriptorsPerModule) {
  ModModel big{"BIG-1", "7", {}};
  for (int i = 0; i < 17; ++i) big.cus.push_back({"O", "D" + std::to_string(i), "C" + std::to_string(i), 1, 8, 1, 8});
  fake->Expect(cfg, {0x01}, {MakeFrame(cfg, ModRec(big, 1))});
  fake->Expect(cfg, ModRec(big, 2), {MakeFrame(cfg, {0x0E})});
  fake->Expect(cfg, {0x12}, {MakeFrame(cfg, {0x0E})});
  fake->Expect(cfg, ModRec(big, 4), {MakeFrame(cfg, CuRec(big.cus[0], 4))});
  for (int i = 0; i < 16; ++i) fake->Expect(cfg, CuKey(big.cus[i], 5), {MakeFrame(cfg, CuRec(big.cus[i + 1], 5))});
  ASSERT_TRUE(Connect());
  ASSERT_EQ(s->GetModule(0)->GetCuDescCount(), 16);
  EXPECT_STREQ(s->GetModule(0)->GetCuDesc(15)->GetCuName(), "C15");
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, MalformedDescriptorFailsTheStart) {
  fake->Expect(cfg, {0x01}, {MakeFrame(cfg, ModRec(kAux, 1))});
  fake->Expect(cfg, ModRec(kAux, 2), {MakeFrame(cfg, {0x0E})});
  fake->Expect(cfg, {0x12}, {MakeFrame(cfg, {0x0E})});
  fake->Expect(cfg, ModRec(kAux, 4), {MakeFrame(cfg, Join({{4}, Z("OWNER"), Z("NO-NAME")}))});
  EXPECT_FALSE(Connect());
  Finish();
}

TEST_F(ThreadedSession, RefreshRemovesOneModuleAndAddsOneInOrder) {
  ModModel a{"A-1", "1", {kIN}}, b{"B-1", "2", {kIN}}, c{"C-1", "3", {kIN}}, d{"D-1", "4", {kIN, kTR}};
  ScriptEnumeration(*fake, cfg, {a, b, c}, {});
  ASSERT_TRUE(Connect());
  std::shared_ptr<CModule> keptA = s->GetModule(0);
  std::shared_ptr<CModule> keptC = s->GetModule(2);
  // Event code 6 changes nothing; code 5 refreshes.
  fake->Send(MakeFrame(evt, {0x00, 0x00, 0x06}));
  ScriptList(*fake, cfg, 1, {a, c, d});
  ScriptList(*fake, cfg, 2, {});
  ScriptCus(*fake, cfg, d);
  fake->Send(MakeFrame(evt, {0x00, 0x00, 0x05}));
  ASSERT_TRUE(loop.RunUntil([&] { return s->events.size() >= 3; }, 5000));
  EXPECT_EQ(s->events, (std::vector<std::string>{"changed", "removed B-1", "added D-1 2"}));
  ASSERT_EQ(s->GetModuleCount(), 3);
  EXPECT_EQ(s->GetModule(0), keptA);
  EXPECT_EQ(s->GetModule(1), keptC);
  EXPECT_STREQ(s->GetModule(2)->GetModuleType(), "D-1");
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, ChannelsOnARemovedModuleAreCutLoose) {
  ModModel a{"A-1", "1", {kIN}}, b{"B-1", "2", {kIN}};
  ScriptEnumeration(*fake, cfg, {a, b}, {});
  ASSERT_TRUE(Connect());
  CCuIO opened(Desc(1, 0));
  Open(opened, kIN, 40);
  // A second channel whose open is still waiting for its reply when the module goes.
  CCuIO pending(Desc(1, 0));
  fake->Expect(opn, CuRec(kIN, 0x09), {});
  std::atomic<int> pendingResult{-1};
  std::thread opener([&] { pendingResult = pending.Open(); });
  ASSERT_TRUE(fake->WaitFor([&] { return fake->StepsLeft() == 0; }, 3000));
  ScriptList(*fake, cfg, 1, {a});
  ScriptList(*fake, cfg, 2, {});
  fake->Send(MakeFrame(evt, {0x00, 0x00, 0x05}));
  ASSERT_TRUE(loop.RunUntil([&] { return s->events.size() >= 2; }, 5000));
  opener.join();
  EXPECT_EQ(pendingResult, 0);
  for (CCuIO* ch : {&opened, &pending}) {
    ASSERT_NE(ch->GetDesc(), nullptr);  // the channel keeps the record; it tells that it is gone
    EXPECT_TRUE(ch->GetDesc()->IsRemoved());
    EXPECT_FALSE(ch->IsOpen());
    EXPECT_EQ(ch->Close(), 0);  // nothing to close: no request goes out
  }
  // Late traffic for the vanished CU finds no channel.
  fake->Send(MakeFrame(40, {'x'}));
  fake->Send(MakeFrame(opn, OpenReply(kIN, 41)));
  fake->Send(MakeFrame(0xFFFF, Join({U16(40), {5}})));
  std::string text;
  EXPECT_EQ(ReadFrame(opened, text, 300), Z_TIMEOUT);
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedSession, EventCode7AlsoRefreshes) {
  ScriptEnumeration(*fake, cfg, {kAux}, {});
  ASSERT_TRUE(Connect());
  ScriptList(*fake, cfg, 1, {kAux});
  ScriptList(*fake, cfg, 2, {kSlave});
  ScriptCus(*fake, cfg, kSlave);  // only the new module's CUs are read
  fake->Send(MakeFrame(evt, {0x00, 0x00, 0x07}));
  ASSERT_TRUE(loop.RunUntil([&] { return s->events.size() >= 2; }, 5000));
  EXPECT_EQ(s->events, (std::vector<std::string>{"changed", "added SLAVE-A 1"}));
  ExpectGoodbye();
  Finish();
}

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
  fake->Expect(40, B("*IDN?"), {MakeFrame(40, B("MAIN-1,000123"))});
  EXPECT_EQ(ch.Write("*IDN?", 5), Z_OK);
  std::string reply;
  ASSERT_EQ(ReadFrame(ch, reply), Z_OK);
  EXPECT_EQ(reply, "MAIN-1,000123");
  EXPECT_TRUE(fake->WaitFor([&] { return fake->GrantsFor(40) == 1; }, 3000));  // the first read granted 235
  EXPECT_EQ(ch.GetReadCreditsOutstanding(), 234);
  // No credit left: the next write waits until the instrument grants 5, then 4 remain.
  fake->Expect(40, B("A"));
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
    fake->Expect(socket, B("GO"));
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
  fake->Send(Join({MakeFrame(65533, B("a")), MakeFrame(65534, B("b")), MakeFrame(99, B("c")), MakeFrame(44, B("d"))}));
  std::string t;
  ASSERT_EQ(ReadFrame(ch, t), Z_OK);
  EXPECT_EQ(t, "d");
  Close(ch);
  ExpectGoodbye();
  Finish();
}

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

TEST_F(ThreadedSession, ExceptionInTheReaderReportsTheLoss) {
  class CThrowingIO : public CCuIO {
   public:
    using CCuIO::CCuIO;
    void Deliver(uint8_t* item, int) override {
      delete[] item;
      throw std::runtime_error("delivery failed");
    }
  };
  ASSERT_TRUE(ConnectStandard());
  CThrowingIO ch(Desc(0, 1));
  Open(ch, kEV, 45);
  fake->Send(MakeFrame(45, B("boom")));
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
  fake->Expect(46, Join({U16(300), B("abc")}));
  EXPECT_EQ(slave.Write("abc", 3), Z_OK);
  Bytes tooLong(4495, 'y');
  EXPECT_EQ(slave.Write(tooLong.data(), 4495), Z_ERROR);
  fake->Send(Join({MakeFrame(46, Join({U16(999), B("lost")})), MakeFrame(46, Join({U16(300), B("hello")}))}));
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

// Enumeration_test.cpp: the session's start-up against a scripted instrument: both module lists,
// descriptors, limits, malformed replies, and the refresh after a configuration event.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "SessionFixture.h"
#include "StandardApp/Canslavecuthread.h"
#include "StandardApp/Opencuthread.h"
#include "StandardApp/Zematread.h"

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

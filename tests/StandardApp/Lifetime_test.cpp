// Lifetime_test.cpp: module and CU records that leave the instrument while other threads hold them:
// a channel still being set up, a slave waiting for the "CS" open, and the module holding "CS" itself.
// Every record stays readable, says that it was removed, and nothing is opened on it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SessionFixture.h"
#include "StandardApp/Canslavecuthread.h"

namespace {
const CuModel& kSlaveIn = kSlave.cus[0];
const ModModel kSlaveB{"SLAVE-B", "900002", {CuModel{"SLB", "INSTRUCT", "IN", 1, 64, 1, 64}}};
}  // namespace

class ThreadedLifetime : public ThreadedSession {
 protected:
  // The instrument reports a new configuration: list 1 and list 2 as given, new modules' CUs.
  void Reconfigure(const std::vector<ModModel>& list1, const std::vector<ModModel>& list2,
                   const std::vector<ModModel>& added = {}) {
    size_t before = s->events.size();
    ScriptList(*fake, cfg, 1, list1);
    ScriptList(*fake, cfg, 2, list2);
    for (const ModModel& m : added) ScriptCus(*fake, cfg, m);
    fake->Send(MakeFrame(evt, {0x00, 0x00, 0x05}));
    ASSERT_TRUE(loop.RunUntil([&] { return s->events.size() > before && fake->StepsLeft() == 0; }, 5000));
    loop.ProcessPending();
  }
  // Runs a slave open on its own thread while the instrument holds back its answer to the "CS" open.
  std::thread OpenSlaveWhileCsOpenIsHeld(CCuIoSlave& slave, std::atomic<int>& result) {
    fake->Expect(opn, CuRec(kCS, 0x09), {});  // answered later by the test
    std::thread opener([&] { result = slave.Open(); });
    EXPECT_TRUE(fake->WaitFor([&] { return fake->StepsLeft() == 0; }, 3000));
    return opener;
  }
};

TEST_F(ThreadedLifetime, RecordsThatLeftStayReadableAndOpenNothing) {
  ASSERT_TRUE(ConnectStandard());
  std::shared_ptr<CModule> aux = s->GetModule(1);
  std::shared_ptr<CCuDesc> auxIn = Desc(1, 0), slaveIn = Desc(2, 0);
  Reconfigure({kMain}, {});
  EXPECT_EQ(s->events, (std::vector<std::string>{"changed", "removed AUX-2", "removed SLAVE-A"}));
  EXPECT_EQ(s->GetModuleCount(), 1);
  EXPECT_TRUE(aux->IsRemoved());
  EXPECT_STREQ(aux->GetModuleType(), "AUX-2");
  EXPECT_EQ(auxIn->GetModule(), aux.get());
  EXPECT_TRUE(auxIn->IsRemoved());
  EXPECT_STREQ(auxIn->GetCuName(), "IN");
  EXPECT_FALSE(Desc(0, 0)->IsRemoved());

  // Channels created on the records afterwards (a client that looked the CU up just before) fail to
  // open without a request going out, directly and behind "CS".
  CBaseCuIO late;
  EXPECT_EQ(late.OpenOn(auxIn), 0);
  CCuIoSlave lateSlave(slaveIn);
  EXPECT_EQ(lateSlave.Open(), 0);
  EXPECT_EQ(late.Close(), 0);
  EXPECT_EQ(s->CsThread(false), nullptr);

  std::shared_ptr<CCuDesc> mainIn = Desc(0, 0);
  ExpectGoodbye();
  Finish();
  // Disconnecting drops the rest: the records held here say so.
  EXPECT_EQ(s->GetModule(0), nullptr);
  EXPECT_TRUE(mainIn->IsRemoved());
}

TEST_F(ThreadedLifetime, SlaveModuleLeavesWhileTheSlaveWaitsForTheCsOpen) {
  ASSERT_TRUE(ConnectStandard());
  CCuIoSlave slave(Desc(2, 0));
  std::atomic<int> result{-1};
  std::thread opener = OpenSlaveWhileCsOpenIsHeld(slave, result);
  Reconfigure({kMain, kAux}, {kSlaveB}, {kSlaveB});
  EXPECT_EQ(s->events, (std::vector<std::string>{"changed", "removed SLAVE-A", "added SLAVE-B 1"}));
  // The "CS" open completes now; the slave's own open must not go out for a module that left.
  fake->Send(MakeFrame(opn, OpenReply(kCS, 46)));
  opener.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(slave.IsOpen());
  // The "CS" CU itself is open and serves the module that came.
  ASSERT_NE(s->CsThread(false), nullptr);
  CCuIoSlave other(Desc(2, 0));
  const CuModel& inB = kSlaveB.cus[0];
  fake->Expect(opn, CuKey(inB, 0x14), {MakeFrame(opn, Join({CuKey(inB, 0x14), U16(301)}))});
  EXPECT_EQ(other.Open(), 1);
  fake->Expect(opn, {0x0A, 0x00, 46}, {MakeFrame(opn, {0x0A, 0x00, 46})});
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedLifetime, CsModuleLeavesWhileASlaveWaitsForItsOpen) {
  ASSERT_TRUE(ConnectStandard());
  CCuIoSlave slave(Desc(2, 0));
  std::atomic<int> result{-1};
  std::thread opener = OpenSlaveWhileCsOpenIsHeld(slave, result);
  Reconfigure({kAux}, {kSlave});
  opener.join();  // the pending "CS" open ended with the module
  EXPECT_EQ(result, 0);
  EXPECT_EQ(s->CsThread(false), nullptr);
  // The answer the instrument still sends finds nobody waiting.
  fake->Send(MakeFrame(opn, OpenReply(kCS, 46)));
  fake->Send(MakeFrame(46, Join({U16(300), Text("late")})));
  ExpectGoodbye();
  Finish();
}

TEST_F(ThreadedLifetime, CsModuleLeavesUnderAnOpenSlave) {
  ASSERT_TRUE(ConnectStandard());
  CCuIoSlave slave(Desc(2, 0));
  fake->Expect(opn, CuRec(kCS, 0x09), {MakeFrame(opn, OpenReply(kCS, 46))});
  fake->Expect(opn, CuKey(kSlaveIn, 0x14), {MakeFrame(opn, Join({CuKey(kSlaveIn, 0x14), U16(300)}))});
  ASSERT_EQ(slave.Open(), 1);
  Reconfigure({kAux}, {kSlave});
  // The slave's road to the instrument is gone: it is cut loose although its own module stays.
  EXPECT_EQ(s->CsThread(false), nullptr);
  EXPECT_FALSE(slave.IsOpen());
  EXPECT_FALSE(slave.GetDesc()->IsRemoved());
  EXPECT_EQ(slave.Write("x", 1), Z_ERROR);
  std::string text;
  EXPECT_EQ(ReadFrame(slave, text, 100), Z_TIMEOUT);
  EXPECT_EQ(slave.Close(), 0);  // nothing to ask the instrument
  // Neither the retired "CS" channel nor the slave sends a close at the disconnect.
  ExpectGoodbye();
  Finish();
}

// SessionFixture.h: the session against a scripted instrument (FakeInstrument) on a socketpair, with a
// loop dispatcher as its main thread; the fixture of the threaded session tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "SessionModel.h"

inline bool WaitUntil(const std::function<bool()>& pred, unsigned ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline std::string PayloadText(const uint8_t* frame, int length) {
  return std::string(reinterpret_cast<const char*>(frame) + 4, length - 4);
}

inline const Bytes kAnswer789{0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x07, 0x00, 0x08, 0x00, 0x09};

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
    std::tie(fake, hostFd) = FakeInstrument::Pair();
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
    if (rc == Z_OK) text = PayloadText(buffer, length - 1);
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

// End to end: the real protocol engine (CZematInstr and its channels) against the simulator program,
// over TCP with the console and over a pty; configuration changes, refusals, losses and faults.
#include "SimTestUtil.h"
#include "StandardApp/Cu.h"
#include "StandardApp/Mainthread.h"
#include "StandardApp/Module.h"
#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"
#include "support/Frames.h"
#include "support/Simulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <thread>

using namespace support;
using namespace simtest;
using nlohmann::json;

namespace {

// A session that records its notifications in the order they came.
class TestInstr : public CZematInstr {
 public:
  void OnConnectionLost() override { notes.push_back("lost"); }
  void OnConfigChanged() override { notes.push_back("changed"); }
  void OnModuleRemoved(CModule* m) override { notes.push_back(std::string("removed ") + m->GetModuleType()); }
  void OnModuleAdded(CModule* m) override { notes.push_back(std::string("added ") + m->GetModuleType()); }
  bool saw(const std::string& note) const { return std::find(notes.begin(), notes.end(), note) != notes.end(); }
  std::vector<std::string> notes;  // touched on the main (test) thread only
};

// The test thread is the session's main thread.
struct Engine {
  explicit Engine(Simulator& sim) : sim(sim) {
    loop.BindToCurrentThread();
    if (const char* trace = std::getenv("ZEMAT_E2E_TRACE")) {  // engine trace for debugging
      Tracer().SetFileName(trace);
      Tracer().SetLevel(4);
    }
    z.SetDispatcher(&loop);
    z.SetLanPorts(sim.TelnetPort(), sim.DataPort());
    z.SetTimeout(3000);
    CZematTimings t;
    t.channelWaitMs = 5000;  // a lost reply fails the test in 5 s instead of 45 s
    z.SetTimings(t);
  }
  ~Engine() { z.Disconnect(); }
  bool connect() { return z.Connect(0, "127.0.0.1"); }
  bool serve_until(const std::function<bool()>& pred, unsigned ms = 10000) { return loop.RunUntil(pred, ms); }
  std::shared_ptr<CModule> module(const std::string& type) {
    for (int i = 0; i < z.GetModuleCount(); ++i)
      if (type == z.GetModule(i)->GetModuleType()) return z.GetModule(i);
    return nullptr;
  }
  std::shared_ptr<CCuDesc> cu(const std::string& type, const std::string& name) {
    std::shared_ptr<CModule> m = module(type);
    for (int i = 0; m && i < m->GetCuDescCount(); ++i)
      if (name == m->GetCuDesc(i)->GetCuName()) return m->GetCuDesc(i);
    return nullptr;
  }
  std::string types() {
    std::string s;
    for (int i = 0; i < z.GetModuleCount(); ++i)
      s += std::string(z.GetModule(i)->GetModuleType()) + (z.GetModule(i)->IsSecondList() ? "(2) " : " ");
    return s;
  }

  Simulator& sim;
  CLoopDispatcher loop;
  TestInstr z;
};

// Payload text of a frame read from a channel (header of 4 bytes, plus skip more for slave frames).
std::string read_text(CCuIoBase& ch, unsigned ms, size_t skip = 4) {
  std::vector<uint8_t> buf(4501);
  int len = static_cast<int>(buf.size());
  if (ch.Read(buf.data(), &len, ms) != Z_OK) return "<none>";
  return std::string(reinterpret_cast<char*>(buf.data()) + skip, static_cast<size_t>(len - 1) - skip);
}

// One instruction and its reply on an open channel; "<none>" when no reply came.
std::string round_trip(CCuIoBase& ch, const std::string& instruction, unsigned ms = 3000, size_t skip = 4) {
  if (ch.Write(instruction.data(), static_cast<int>(instruction.size())) != Z_OK) return "<write failed>";
  return read_text(ch, ms, skip);
}

// Waits for a condition on the simulator's status (it changes when the simulator has seen a frame).
bool wait_status(Simulator& sim, const std::function<bool(const json&)>& pred,
                 std::chrono::milliseconds limit = 5000ms) {
  return sim.WaitForStatus([&pred](const std::string& text) { return pred(json::parse(text)); }, limit);
}

std::string many_modules(int list1, bool r_first, int list2, int first_cus) {
  std::string cfg = R"({"keepalive_ms": 1000, "modules": [)";
  for (int i = 0; i < list1 + list2; ++i) {
    std::string type = i == 0 && r_first ? "BASE-R" : "M" + std::to_string(i);
    cfg += std::string(i ? "," : "") + R"({"type": ")" + type + R"(", "serial": ")" + std::to_string(i) +
           R"(", "list": )" + (i < list1 ? "1" : "2") + R"(, "cus": [)";
    for (int k = 0; k < (i == 0 ? first_cus : 1); ++k)
      cfg += std::string(k ? "," : "") + R"({"name": "C)" + std::to_string(k) + R"("})";
    cfg += "]}";
  }
  return cfg + "]}";
}

}  // namespace

TEST(EngineE2E, EnumeratesBothListsAndSaysGoodbye) {
  Simulator sim;
  {
    Engine e(sim);
    ASSERT_TRUE(e.connect());
    EXPECT_EQ(e.types(), "MAIN-1 PUMP-2 DET-3 VALVE-S1(2) TEMP-S2(2) ");
    std::shared_ptr<CModule> main = e.module("MAIN-1");
    ASSERT_NE(main, nullptr);
    std::string names;
    for (int i = 0; i < main->GetCuDescCount(); ++i) names += std::string(main->GetCuDesc(i)->GetCuName()) + " ";
    EXPECT_EQ(names, "IN EV TR MO LD CS DI LI ");
    EXPECT_EQ(e.cu("DET-3", "RD")->GetOutSize(), 4496);
    auto lines = status(sim)["console_lines"];
    ASSERT_EQ(lines.size(), 5u);  // the empty line arrives as two line feeds
    EXPECT_EQ(lines[2], "write-mode: eoi_push");
    EXPECT_EQ(lines[3], "buffer-packing: off");
    EXPECT_EQ(lines[4], "quit");
  }
  EXPECT_TRUE(wait_status(sim, [](const json& s) { return s["goodbyes"] == 1 && s["connected"] == false; }));
  EXPECT_EQ(status(sim)["credit_violations"], 0);
}

TEST(EngineE2E, ThirtyTwoModulesSixteenCusAndRModules) {
  {
    Simulator sim(many_modules(32, true, 2, 16));
    Engine e(sim);
    ASSERT_TRUE(e.connect());
    EXPECT_EQ(e.z.GetModuleCount(), 32);  // "-R" first: list 2 is not read
    EXPECT_EQ(e.z.GetModule(0)->GetCuDescCount(), 16);
    EXPECT_FALSE(e.z.GetModule(31)->IsSecondList());
  }
  {
    Simulator sim(many_modules(32, false, 3, 1));
    Engine e(sim);
    ASSERT_TRUE(e.connect());
    EXPECT_EQ(e.z.GetModuleCount(), 32);  // list 1 filled the array; list 2 adds nothing
  }
  {
    Simulator sim(many_modules(0, false, 2, 1));
    Engine e(sim);
    ASSERT_TRUE(e.connect());  // an empty list 1 goes on with list 2
    EXPECT_EQ(e.types(), "M0(2) M1(2) ");
  }
}

TEST(EngineE2E, RefreshWithOneModuleRemovedAndOneAdded) {
  Simulator sim;
  Engine e(sim);
  ASSERT_TRUE(e.connect());
  std::shared_ptr<CModule> main_before = e.module("MAIN-1");
  EXPECT_EQ(sim.Command("add-module NEW-7 777 1 6"), "ok");  // code 6: no refresh yet
  EXPECT_EQ(sim.Command("remove-module PUMP-2"), "ok");      // code 5: refresh
  ASSERT_TRUE(e.serve_until([&] { return e.z.saw("added NEW-7"); }));
  EXPECT_EQ(e.z.notes, (std::vector<std::string>{"changed", "removed PUMP-2", "added NEW-7"}));
  EXPECT_EQ(e.types(), "MAIN-1 DET-3 VALVE-S1(2) TEMP-S2(2) NEW-7 ");
  EXPECT_EQ(e.module("MAIN-1"), main_before);  // untouched modules keep their objects
  EXPECT_EQ(e.cu("NEW-7", "EV")->GetInCount(), 0);
}

TEST(EngineE2E, InstructionsRefusalsCreditsAndSlaves) {
  Simulator sim;
  Engine e(sim);
  ASSERT_TRUE(e.connect());
  CCuIO in(e.cu("MAIN-1", "IN"));
  EXPECT_EQ(sim.Command("refuse-open on"), "ok");
  EXPECT_EQ(in.Open(), 0);
  EXPECT_EQ(sim.Command("refuse-open off"), "ok");
  ASSERT_EQ(in.Open(), 1);
  EXPECT_EQ(round_trip(in, "*IDN?"), "MAIN-1,000123");
  for (int i = 0; i < 30; ++i)  // more than the four in-buffers: credits come back per message
    ASSERT_EQ(round_trip(in, "N" + std::to_string(i)), "OK N" + std::to_string(i));

  CCuIO ev(e.cu("PUMP-2", "EV"));  // 0 in-buffers: writes wait for the simulator's grant
  ASSERT_EQ(ev.Open(), 1);
  EXPECT_EQ(sim.Command("grant PUMP-2 EV 1"), "ok");
  EXPECT_EQ(ev.Write("x", 1), Z_OK);
  EXPECT_EQ(sim.Command("event PUMP-2 EV 33"), "ok");
  std::vector<uint8_t> buf(4501);
  int len = 4501;
  ASSERT_EQ(ev.Read(buf.data(), &len, 3000), Z_OK);
  std::string event(reinterpret_cast<char*>(buf.data()) + 4, static_cast<size_t>(len) - 5);
  EXPECT_EQ(event.rfind("EVENT 33,", 0), 0u) << event;
  EXPECT_EQ(event.substr(event.rfind(',')), ",PUMP-2");

  CCuIoSlave slave(e.cu("VALVE-S1", "IN"));
  ASSERT_EQ(slave.Open(), 1);
  EXPECT_EQ(round_trip(slave, "PING", 3000, 6), "OK PING");
  EXPECT_EQ(slave.Close(), 1);
  EXPECT_EQ(in.Close(), 1);
  EXPECT_EQ(ev.Close(), 1);
  json st = status(sim);
  EXPECT_EQ(st["credit_violations"], 0);
  EXPECT_GE(st["instructions"], 32);
}

TEST(EngineE2E, StreamArrivesCompleteAndInOrder) {
  Simulator sim;
  Engine e(sim);
  ASSERT_TRUE(e.connect());
  CCuIO rd(e.cu("DET-3", "RD"));
  ASSERT_EQ(rd.Open(), 1);
  std::vector<uint8_t> buf(4501);
  int len = 4501;
  EXPECT_EQ(rd.Read(buf.data(), &len, 50), Z_TIMEOUT);       // the first read grants the read credits
  EXPECT_EQ(sim.Command("stream DET-3 RD 600 4496"), "ok");  // more than two batches of 235
  for (long k = 0; k < 600; ++k) {
    len = 4501;
    ASSERT_EQ(rd.Read(buf.data(), &len, 5000), Z_OK) << "message " << k;
    ASSERT_EQ(len, 4501);
    ASSERT_EQ(buf[4], static_cast<uint8_t>(k & 0xFF));
    ASSERT_EQ(buf[4 + 4495], static_cast<uint8_t>((k + 4495) & 0xFF));
  }
  EXPECT_EQ(rd.Close(), 1);
}

TEST(EngineE2E, TextStreamArrivesCompleteAndInOrder) {
  Simulator sim;
  Engine e(sim);
  ASSERT_TRUE(e.connect());
  CCuIO mo(e.cu("MAIN-1", "LI"));  // a monitor CU without a period in the demo
  ASSERT_EQ(mo.Open(), 1);
  EXPECT_EQ(sim.Command("text-stream MAIN-1 LI 1000"), "ok");
  for (long k = 0; k < 1000; ++k) ASSERT_EQ(read_text(mo, 5000), "line " + std::to_string(k)) << "message " << k;
  EXPECT_EQ(read_text(mo, 200), "<none>");  // exactly COUNT messages
  EXPECT_EQ(mo.Close(), 1);
}

TEST(EngineE2E, EmittedDataAndCanSlaveRepliesThroughTheEngine) {
  Simulator sim;
  Engine e(sim);
  ASSERT_TRUE(e.connect());
  CCuIO dd(e.cu("DET-3", "DD"));
  ASSERT_EQ(dd.Open(), 1);
  EXPECT_EQ(sim.Command("emit DET-3 DD 300"), "ok");
  std::vector<uint8_t> buf(4501);
  for (long k = 0; k < 300; ++k) {
    int len = 4501;
    ASSERT_EQ(dd.Read(buf.data(), &len, 5000), Z_OK) << "message " << k;
    EXPECT_EQ(static_cast<long>(buf[0] * 256 + buf[1]) - 4, 1 + k * 389 % 1024) << "message " << k;
  }
  EXPECT_EQ(dd.Close(), 1);

  CCuIoSlave pr(e.cu("VALVE-S1", "PR"));  // behind the CS CU
  ASSERT_EQ(pr.Open(), 1);
  EXPECT_EQ(round_trip(pr, "INXY", 3000, 6), "01OK XY");
  EXPECT_EQ(pr.Close(), 1);
  CCuIO io(e.cu("TEMP-S2", "CS_IO"));  // the same kind of CU opened directly
  ASSERT_EQ(io.Open(), 1);
  EXPECT_EQ(round_trip(io, "INSTAT?"), "01OK STAT?");
  EXPECT_EQ(io.Close(), 1);
  EXPECT_EQ(status(sim)["credit_violations"], 0);
}

TEST(EngineE2E, ConsoleVariants) {
  {
    Simulator sim(R"({"greeting": "Generic network card\r\n> "})");
    Engine e(sim);
    ASSERT_TRUE(e.connect());
    EXPECT_EQ(status(sim)["console_lines"], json::array({"quit"}));  // no settings without the name
  }
  {
    Simulator sim(R"({"reject_setting": "write-mode: eoi_push"})");
    Engine e(sim);
    EXPECT_FALSE(e.connect());
    EXPECT_EQ(status(sim)["connections"], 0);
  }
  {
    Simulator sim("", {"--no-telnet"});
    Engine e(sim);
    EXPECT_FALSE(e.connect());
    EXPECT_EQ(status(sim)["connections"], 0);
  }
}

TEST(EngineE2E, SerialLinkOverAPty) {
  Simulator sim("", {"--serial", "--no-telnet"});
  {
    Engine e(sim);
    e.z.SetSerialDevice(1, sim.Pty());
    ASSERT_TRUE(e.z.Connect(1, ""));
    EXPECT_EQ(e.types(), "MAIN-1 PUMP-2 DET-3 VALVE-S1(2) TEMP-S2(2) ");
    CCuIO in(e.cu("PUMP-2", "IN"));
    ASSERT_EQ(in.Open(), 1);
    EXPECT_EQ(round_trip(in, "RUN"), "OK RUN");
    EXPECT_EQ(in.Close(), 1);
  }
  EXPECT_TRUE(wait_status(sim, [](const json& s) { return s["goodbyes"] == 1; }));
}

TEST(EngineE2E, LostConnectionIsReported) {
  for (const char* fault : {"fault drop", "fault silence 6000"}) {
    Simulator sim;
    Engine e(sim);
    ASSERT_TRUE(e.connect());
    EXPECT_EQ(sim.Command(fault), "ok");
    EXPECT_TRUE(e.serve_until([&] { return e.z.saw("lost"); }, 15000)) << fault;
    EXPECT_FALSE(e.z.IsConnected());
  }
}

TEST(EngineE2E, InjectedFaultsNeitherCrashNorHang) {
  for (const char* fault : {"fault garbage 100", "fault split", "fault oversized", "fault short"}) {
    Simulator sim;
    Engine e(sim);
    ASSERT_TRUE(e.connect());
    CCuIO in(e.cu("MAIN-1", "IN"));
    ASSERT_EQ(in.Open(), 1);
    EXPECT_EQ(sim.Command(fault), "ok");
    // The engine either recovers (a later instruction gets its answer) or reports the loss.
    bool recovered = false;
    auto give_up = std::chrono::steady_clock::now() + 15s;
    while (!recovered && !e.z.saw("lost") && std::chrono::steady_clock::now() < give_up) {
      recovered = round_trip(in, "AFTER", 1000) == "OK AFTER";
      e.loop.ProcessPending();
    }
    EXPECT_TRUE(recovered || e.z.saw("lost")) << fault;
    if (std::strcmp(fault, "fault split") == 0) {
      EXPECT_TRUE(recovered);  // a frame in single bytes is still one good frame
    }
    in.Close();
  }
}

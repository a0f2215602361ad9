// The simulator program driven over TCP by a raw host: red card, enumeration, open/close, credits,
// instructions, events and configuration changes.
#include "SimTestUtil.h"
#include "support/RawHost.h"
#include "support/Simulator.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <nlohmann/json.hpp>

using namespace support;
using namespace simtest;
using nlohmann::json;

namespace {

Bytes main_key(const std::string& name, const std::string& desc) { return Key("MAIN", desc, name); }

}  // namespace

TEST(SimRedCard, ShortAndLongAnswers) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  EXPECT_EQ(h.RedCard(), (Bytes{0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF}));

  Simulator sim12(R"({"redcard_sockets": [7, 8, 9]})");
  RawHost h12 = RawHost::Tcp(sim12.DataPort());
  h12.SendBytes(Bytes{0x12, 0x34, 0x56});  // garbage first: the card is still found
  EXPECT_EQ(h12.RedCard(), (Bytes{0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0, 7, 0, 8, 0, 9}));
  h12.Grant(7, 10);
  Bytes first = h12.Ask(7, Bytes{0x01});  // the configuration CU now lives on socket 7
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first[0], 0x01);
  EXPECT_EQ(status(sim12)["redcards"], 1);
}

TEST(SimEnumeration, DemoListsAndDescriptors) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  auto l1 = WalkModules(h, 1);
  auto l2 = WalkModules(h, 2);
  ASSERT_GE(l1.size(), 3u);
  ASSERT_GE(l2.size(), 2u);
  EXPECT_EQ(l1[0][0], 0x01);
  EXPECT_EQ(l1[1][0], 0x02);
  EXPECT_EQ(l2[0][0], 0x12);
  EXPECT_EQ(l2[1][0], 0x13);
  EXPECT_EQ(Texts(l1[0], 2), (std::vector<std::string>{"MAIN-1", "000123"}));
  auto cus = WalkCus(h, l1[0]);
  ASSERT_EQ(cus.size(), 8u);
  EXPECT_EQ(cus[0][0], 4);
  EXPECT_EQ(cus[1][0], 5);
  std::string names;
  for (const auto& c : cus) names += Texts(c, 3)[2] + " ";
  EXPECT_EQ(names, "IN EV TR MO LD CS DI LI ");
  // Buffer parameters follow the key: IN has 4 x 128 both ways, EV no in-buffers.
  Bytes in = cus[0];
  EXPECT_EQ(Bytes(in.end() - 6, in.end()), kParams);
  EXPECT_EQ(cus[1][cus[1].size() - 3], 0);
}

TEST(SimEnumeration, FullListsEndWithEndOfListAndRModulesComeFirst) {
  std::string cfg = R"({"modules": [)";
  for (int i = 0; i < 32; ++i) {
    cfg += std::string(i ? "," : "") + R"({"type": ")" + (i ? "M" + std::to_string(i) : "BASE-R") +
           R"(", "serial": ")" + std::to_string(1000 + i) + R"(", "cus": [)";
    for (int k = 0; k < (i == 0 ? 16 : 1); ++k)
      cfg += std::string(k ? "," : "") + R"({"name": "C)" + std::to_string(k) + R"("})";
    cfg += "]}";
  }
  cfg += R"(, {"type": "SLAVE", "list": 2}]})";
  Simulator sim(cfg);
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  auto l1 = WalkModules(h, 1);
  ASSERT_EQ(l1.size(), 32u);
  EXPECT_EQ(Texts(l1[0], 1)[0], "BASE-R");
  EXPECT_EQ(WalkCus(h, l1[0]).size(), 16u);
  EXPECT_EQ(WalkCus(h, l1[31]).size(), 1u);
  EXPECT_EQ(WalkModules(h, 2).size(), 1u);
}

TEST(SimEnumeration, EmptyListAndUnknownRecordsEndTheList) {
  Simulator sim(R"({"modules": [{"type": "ONLY", "serial": "1", "cus": []}]})");
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  EXPECT_EQ(h.Ask(0, Bytes{0x12}), Bytes{0x0E});  // list 2 is empty
  Bytes ghost{0x02, 'X', 0, '9', 0};
  EXPECT_EQ(h.Ask(0, ghost), Bytes{0x0E});  // next after an unknown module
  auto l1 = WalkModules(h, 1);
  ASSERT_EQ(l1.size(), 1u);
  EXPECT_TRUE(WalkCus(h, l1[0]).empty());  // a module without CUs
  Bytes next_desc{0x05, 'A', 0, 'B', 0, 'C', 0};
  EXPECT_EQ(h.Ask(0, next_desc), Bytes{0x0E});
}

TEST(SimOpen, OpenCloseAndRefusals) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  Bytes key = main_key("IN", "INSTRUCT");
  Bytes reply = h.Open(key, kParams);
  ASSERT_EQ(reply.size(), 1 + key.size() + 6 + 2);
  EXPECT_EQ(reply[0], 0x09);
  EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 1 + static_cast<long>(key.size())), key);
  uint16_t sock = ReadU16(&reply[reply.size() - 2]);
  json st = status(sim);
  ASSERT_EQ(st["open"].size(), 1u);
  EXPECT_EQ(st["open"][0]["module"], "MAIN-1");
  EXPECT_EQ(st["open"][0]["cu"], "IN");
  EXPECT_EQ(st["open"][0]["socket"], sock);
  EXPECT_EQ(st["open"][0]["slave"], false);

  Bytes close{0x0A, static_cast<uint8_t>(sock >> 8), static_cast<uint8_t>(sock)};
  EXPECT_EQ(h.Ask(2, close), close);
  Bytes again = h.Ask(2, close);  // closing twice is refused, with the request inside
  ASSERT_EQ(again.size(), 6u);
  EXPECT_NE(again[0], 0x0A);
  EXPECT_EQ(Bytes(again.begin() + 3, again.end()), close);

  Bytes unknown = h.Open(Key("NO", "SUCH", "CU"), kParams);
  EXPECT_NE(unknown[0], 0x09);
  EXPECT_EQ(unknown[3], 0x09);

  EXPECT_EQ(sim.Command("refuse-open on"), "ok");
  Bytes refused = h.Open(key, kParams);
  ASSERT_GT(refused.size(), 3u);
  for (uint8_t t : {0x09, 0x0A, 0x14, 0x15}) EXPECT_NE(refused[0], t);
  Bytes req{0x09};
  req.insert(req.end(), key.begin(), key.end());
  req.insert(req.end(), kParams.begin(), kParams.end());
  EXPECT_EQ(Bytes(refused.begin() + 3, refused.end()), req);
  EXPECT_EQ(sim.Command("refuse-open off"), "ok");
  EXPECT_EQ(h.Open(key, kParams)[0], 0x09);
}

TEST(SimOpen, PerCuRefusalFromTheConfiguration) {
  Simulator sim(R"({"modules": [{"type": "A", "cus": [{"name": "IN", "refuse_open": true},
                                                             {"name": "EV"}]}]})");
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  EXPECT_NE(h.Open(Key("A", "IN", "IN"), kParams)[0], 0x09);
  EXPECT_EQ(h.Open(Key("A", "EV", "EV"), kParams)[0], 0x09);
}

TEST(SimCredits, NeverSendsBeyondTheHostsReadCredits) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.RedCard();
  h.Send(0, Bytes{0x01});  // no read credits on the configuration CU yet
  EXPECT_FALSE(h.Next(200ms).has_value());
  h.Grant(0, 1);
  auto reply = h.Next();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ((*reply)[4], 0x01);
  h.Grant(1, 10);
  h.Grant(2, 10);
  uint16_t sock = h.OpenSocket(Key("DET", "RAWDATA", "RD"), Bytes{16, 0x11, 0x90, 1, 0, 128});
  ASSERT_NE(sock, 0xFFFD);
  EXPECT_EQ(sim.Command("stream DET-3 RD 10 100"), "ok");
  EXPECT_FALSE(h.Next(200ms).has_value());  // nothing granted on the new socket
  h.Grant(sock, 3);
  for (int k = 0; k < 3; ++k) {
    auto f = h.Next();
    ASSERT_TRUE(f.has_value());
    ASSERT_EQ(f->size(), 104u);
    EXPECT_EQ(ReadU16(&(*f)[2]), sock);
    for (size_t i = 0; i < 100; ++i) ASSERT_EQ((*f)[4 + i], static_cast<uint8_t>((k + i) & 0xFF));
  }
  EXPECT_FALSE(h.Next(200ms).has_value());
  h.Grant(sock, 100);
  for (int k = 3; k < 10; ++k) {
    auto f = h.Next();
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ((*f)[4], static_cast<uint8_t>(k));
  }
  EXPECT_FALSE(h.Next(200ms).has_value());              // exactly COUNT messages
  EXPECT_EQ(sim.Command("stream 3 rd 5 7 500"), "ok");  // paced: same messages, spread out
  for (int k = 0; k < 5; ++k) {
    auto f = h.Next();
    ASSERT_TRUE(f.has_value());
    ASSERT_EQ(f->size(), 11u);
    EXPECT_EQ((*f)[4 + 6], static_cast<uint8_t>(k + 6));
  }
  EXPECT_FALSE(h.Next(200ms).has_value());
}

// A stream as fast as the host reads: every message whole and in order, and an instruction on another CU
// sent in the middle is answered while the stream still runs.
TEST(SimCredits, LongStreamArrivesWholeWhileAnotherCuIsAnswered) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  const uint16_t in = h.OpenSocket(main_key("IN", "INSTRUCT"), kParams);
  const uint16_t rd = h.OpenSocket(Key("DET", "RAWDATA", "RD"), Bytes{16, 0x11, 0x90, 1, 0, 128});
  h.Grant(in, 10);
  Bytes pattern(256 + 4496);
  for (size_t j = 0; j < pattern.size(); ++j) pattern[j] = static_cast<uint8_t>(j);
  const long count = 20000;
  EXPECT_EQ(sim.Command("stream DET-3 RD " + std::to_string(count) + " 4496"), "ok");
  long got = 0, credits = 0, answeredAt = -1;
  bool asked = false;
  while (got < count) {
    if (credits <= 20) {  // as the engine grants
      h.Grant(rd, 235);
      credits += 235;
    }
    if (got == count / 4 && !asked) {
      h.Send(in, Text("*IDN?"));
      asked = true;
    }
    auto f = h.Next();
    ASSERT_TRUE(f.has_value()) << "after " << got << " messages";
    if (ReadU16(&(*f)[2]) == in) {
      EXPECT_EQ(str(*f, 4), "MAIN-1,000123");
      answeredAt = got;
      continue;
    }
    ASSERT_EQ(ReadU16(&(*f)[2]), rd);
    ASSERT_EQ(f->size(), 4500u);
    ASSERT_TRUE(std::equal(f->begin() + 4, f->end(), pattern.begin() + (got & 0xFF))) << "message " << got;
    ++got;
    --credits;
  }
  EXPECT_GE(answeredAt, count / 4);  // answered, and before the stream's end
  EXPECT_FALSE(h.Next(200ms).has_value());
}

TEST(SimCredits, SendCreditsPerCuAndViolationsCounted) {
  Simulator sim(R"({"keepalive_ms": 0, "modules": [{"type": "A", "cus": [
        {"name": "IN", "in_count": 3}, {"name": "EV", "in_count": 0},
        {"name": "LATE", "in_count": 0, "grant_after_ms": 50}, {"name": "MUTE", "in_count": 0}]}]})");
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  EXPECT_EQ(h.Ask(0, Bytes{0x01})[0], 0x01);
  EXPECT_EQ(h.Granted(0), 1);  // one back per consumed control request
  uint16_t in = h.OpenSocket(Key("A", "IN", "IN"), kParams);
  uint16_t ev = h.OpenSocket(Key("A", "EV", "EV"), kParams);
  uint16_t late = h.OpenSocket(Key("A", "LATE", "LATE"), kParams);
  uint16_t mute = h.OpenSocket(Key("A", "MUTE", "MUTE"), kParams);
  EXPECT_EQ(h.Granted(2), 4);
  h.Grant(in, 50);
  EXPECT_EQ(str(h.Ask(in, Text("PING"))), "OK PING");
  EXPECT_EQ(h.Granted(in), 3 + 1);  // in-buffer count behind the open reply, then one back
  EXPECT_FALSE(h.EverGranted(ev));
  EXPECT_EQ(sim.Command("grant A EV 2"), "ok");
  EXPECT_TRUE(h.WaitGranted(ev, 2));
  EXPECT_TRUE(h.WaitGranted(late, 1));
  EXPECT_EQ(status(sim)["credit_violations"], 0);
  // Frames within the grant each get their credit back; a frame on a CU that granted nothing is
  // a violation and gets nothing back.
  h.Send(ev, Text("x"));
  h.Send(ev, Text("y"));
  h.Send(mute, Text("z"));
  h.Sync();
  EXPECT_EQ(status(sim)["credit_violations"], 1);
  EXPECT_EQ(h.Granted(ev), 2 + 2);
  EXPECT_FALSE(h.EverGranted(mute));
  EXPECT_EQ(h.Granted(late), 1);
}

TEST(SimInstructions, TableRepliesDefaultRepliesAndCount) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  uint16_t in = h.OpenSocket(main_key("IN", "INSTRUCT"), kParams);
  h.Grant(in, 235);
  EXPECT_EQ(str(h.Ask(in, Text("*IDN?"))), "MAIN-1,000123");
  EXPECT_EQ(str(h.Ask(in, Bytes{'S', 'T', 'A', 'T', '?', 0})), "OK STAT?");
  EXPECT_EQ(status(sim)["instructions"], 2);
}

TEST(SimSlaves, SlaveOpenFramesCarryTheSlaveSocketAndClose) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  Bytes vkey = Key("VALVE", "INSTRUCT", "IN");
  Bytes sreq{0x14};
  sreq.insert(sreq.end(), vkey.begin(), vkey.end());
  EXPECT_NE(h.Ask(2, sreq)[0], 0x14);  // no CS CU open yet: refused
  uint16_t cs = h.OpenSocket(main_key("CS", "CANSLAVE"), Bytes{4, 0, 128, 8, 0, 128});
  h.Grant(cs, 235);
  Bytes sreply = h.Ask(2, sreq);
  ASSERT_EQ(sreply.size(), 1 + vkey.size() + 2);
  EXPECT_EQ(sreply[0], 0x14);
  uint16_t slave = ReadU16(&sreply[sreply.size() - 2]);
  Bytes msg{static_cast<uint8_t>(slave >> 8), static_cast<uint8_t>(slave), 'H', 'I'};
  Bytes r = h.Ask(cs, msg);
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(ReadU16(r.data()), slave);
  EXPECT_EQ(str(r, 2), "OK HI");
  json st = status(sim);
  ASSERT_EQ(st["open"].size(), 2u);
  EXPECT_EQ(st["open"][1]["slave"], true);
  EXPECT_EQ(st["open"][1]["module"], "VALVE-S1");
  EXPECT_EQ(sim.Command("stream VALVE-S1 IN 2 5"), "ok");
  for (int k = 0; k < 2; ++k) {
    auto f = h.Next();
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(ReadU16(&(*f)[2]), cs);
    EXPECT_EQ(ReadU16(&(*f)[4]), slave);
    EXPECT_EQ(f->size(), 4u + 2 + 5);
  }
  Bytes sclose{0x15, static_cast<uint8_t>(slave >> 8), static_cast<uint8_t>(slave)};
  EXPECT_EQ(h.Ask(2, sclose), sclose);
  EXPECT_EQ(status(sim)["open"].size(), 1u);
}

TEST(SimEvents, EventCommandsAndConfigurationChanges) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  uint16_t ev = h.OpenSocket(main_key("EV", "EVENTS"), Bytes{4, 0, 128, 0, 0, 0});
  h.Grant(ev, 235);
  EXPECT_EQ(sim.Command("event MAIN-1 ev 42"), "ok");
  auto f = h.Next();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(ReadU16(&(*f)[2]), ev);
  std::string event = str(Bytes(f->begin() + 4, f->end()));  // text on a module's event CU
  ASSERT_EQ(event.rfind("EVENT 42,", 0), 0u) << event;
  EXPECT_EQ(event.substr(event.rfind(',')), ",MAIN-1");
  EXPECT_EQ(sim.Command("event MAIN-1 TR 1").rfind("error: ", 0), 0u);  // not open
  EXPECT_EQ(sim.Command("event NOPE EV 1").rfind("error: ", 0), 0u);

  EXPECT_EQ(sim.Command("remove-module 2"), "ok");
  f = h.Next();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(ReadU16(&(*f)[2]), 1);  // the event control CU
  EXPECT_EQ(ReadU16(&(*f)[5]), 5);
  EXPECT_EQ(sim.Command("add-module NEW-9 900 2 8"), "ok");
  f = h.Next();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(ReadU16(&(*f)[5]), 8);
  EXPECT_EQ(sim.Command("config-event 6"), "ok");
  EXPECT_EQ(ReadU16(&(*h.Next())[5]), 6);

  std::string types;
  for (int list : {1, 2})
    for (const auto& m : WalkModules(h, list)) types += Texts(m, 1)[0] + " ";
  EXPECT_EQ(types, "MAIN-1 DET-3 VALVE-S1 TEMP-S2 NEW-9 ");
  auto newest = WalkModules(h, 2).back();
  auto cus = WalkCus(h, newest);
  ASSERT_EQ(cus.size(), 2u);
  EXPECT_EQ(Texts(cus[0], 3)[2], "IN");
  EXPECT_EQ(Texts(cus[1], 3)[2], "EV");
  EXPECT_EQ(sim.Command("add-module TOOLONGTYPENAME-TOOLONGTYPENAME 1234567").rfind("error: ", 0), 0u);
}

TEST(SimEvents, RemovingAModuleClosesItsOpenCus) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  uint16_t in = h.OpenSocket(Key("PUMP", "INSTRUCT", "IN"), kParams);
  ASSERT_NE(in, 0xFFFD);
  EXPECT_EQ(sim.Command("remove-module pump-2 7"), "ok");
  EXPECT_EQ(ReadU16(&(*h.Next())[5]), 7);
  EXPECT_TRUE(status(sim)["open"].empty());
  h.Send(in, Text("late"));  // the host does not know yet: dropped, counted
  h.Sync();
  EXPECT_EQ(status(sim)["unknown_sockets"], 1);
}

TEST(SimSession, KeepAlivesGoodbyeAndTheNextConnection) {
  Simulator sim(R"({"keepalive_ms": 50, "modules": [{"type": "A"}]})");
  {
    RawHost h = RawHost::Tcp(sim.DataPort());
    h.Start();
    EXPECT_TRUE(h.WaitKeepAlives(2));
    h.Grant(0, 0);  // the host's keep-alive
    h.Grant(0, 0);
    h.Send(0, Bytes{0x07});               // goodbye
    EXPECT_TRUE(h.ClosedByPeer(5000ms));  // the simulator closes after its grace period
  }
  json st = status(sim);
  EXPECT_EQ(st["keepalives"], 2);
  EXPECT_EQ(st["goodbyes"], 1);
  RawHost again = RawHost::Tcp(sim.DataPort());
  again.Start();
  EXPECT_EQ(again.Ask(0, Bytes{0x01})[0], 0x01);
  EXPECT_EQ(status(sim)["connections"], 2);
}

TEST(SimSession, AfterAGoodbyeOnlyARedCardCountsEvenInTheSameWrite) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  h.Sync();
  Bytes burst = MakeFrame(0, Bytes{0x07});
  for (const Bytes& part : {MakeFrame(0, Bytes{0x01}), Bytes{0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF},
                            MakeFrame(0xFFFF, Bytes{0, 0, 10}), MakeFrame(0, Bytes{0x12})})
    burst.insert(burst.end(), part.begin(), part.end());
  h.SendBytes(burst);
  auto answer = h.NextAny();
  while (answer && ReadU16(&(*answer)[2]) == 0xFFFF && answer->size() == 7)
    answer = h.NextAny();  // credits given back for the goodbye
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, (Bytes{0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF}));  // the request before it was ignored
  auto reply = h.Next();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ((*reply)[4], 0x12);
  EXPECT_EQ(status(sim)["goodbyes"], 1);
}

TEST(SimSession, ScheduleRunsRelativeToTheFirstSynchronisation) {
  Simulator sim(R"({"schedule": [{"at_ms": 0, "command": "remove-module 1"},
                                        {"at_ms": 30, "command": "config-event 9"}]})");
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  auto f = h.Next();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(ReadU16(&(*f)[5]), 5);
  f = h.Next();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(ReadU16(&(*f)[5]), 9);
  EXPECT_EQ(Texts(WalkModules(h, 1)[0], 1)[0], "PUMP-2");
}

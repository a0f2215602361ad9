// The data the simulator produces for the CU windows, driven by a raw host: text streams, the data
// behaviours' messages decoded the way the windows decode them, "emit", periods and the CAN-slave replies.
#include "SimTestUtil.h"
#include "WindowDecode.h"
#include "support/RawHost.h"
#include "support/Simulator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

using namespace support;
using namespace simtest;
using nlohmann::json;

namespace {

// Payload of the next data frame, which must arrive on socket.
std::optional<Bytes> payload_on(RawHost& h, uint16_t socket, std::chrono::milliseconds limit = 5000ms) {
  auto f = h.Next(limit);
  if (!f) return std::nullopt;
  EXPECT_EQ(ReadU16(&(*f)[2]), socket);
  return Bytes(f->begin() + 4, f->end());
}

}  // namespace

TEST(SimTextStream, CountCreditsRateAndReplacement) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  // DI: a monitor CU without a period in the demo, so that only the stream arrives.
  uint16_t mo = h.OpenSocket(Key("MAIN", "DIAGNOSE", "DI"), kParams);
  ASSERT_NE(mo, 0xFFFD);
  EXPECT_EQ(sim.Command("text-stream MAIN-1 DI 5"), "ok");
  EXPECT_FALSE(h.Next(200ms).has_value());  // no read credits yet
  h.Grant(mo, 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(str(*payload_on(h, mo)), "line " + std::to_string(k));
  EXPECT_FALSE(h.Next(200ms).has_value());
  h.Grant(mo, 100);
  for (int k = 3; k < 5; ++k) EXPECT_EQ(str(*payload_on(h, mo)), "line " + std::to_string(k));
  EXPECT_FALSE(h.Next(200ms).has_value());  // exactly COUNT messages, no terminating zero

  // A new stream replaces the old one and starts again at line 0; a paced one sends the same.
  EXPECT_EQ(sim.Command("text-stream MAIN-1 DI 0"), "ok");
  auto first = payload_on(h, mo);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(str(*first), "line 0");
  EXPECT_EQ(sim.Command("text-stream main-1 di 3 200"), "ok");
  h.Grant(mo, 10);
  // Up to the replacement the endless stream ran on; then line 0, 1, 2 follow and nothing more.
  std::vector<std::string> got;
  while (auto p = payload_on(h, mo, 300ms)) got.push_back(str(*p));
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(got.end() - 3, got.end()),
            (std::vector<std::string>{"line 0", "line 1", "line 2"}));
  for (size_t i = 0; i + 3 < got.size(); ++i)
    EXPECT_EQ(got[i], "line " + std::to_string(i + 1));  // the endless stream, in order

  EXPECT_EQ(sim.Command("text-stream MAIN-1 DI"), "error: usage: text-stream MODULE CU COUNT [RATE] (RATE >= 0)");
  EXPECT_EQ(sim.Command("text-stream MAIN-1 DI 1 -5").rfind("error: usage", 0), 0u);
  EXPECT_EQ(sim.Command("text-stream MAIN-1 TR 1"), "error: CU MAIN-1/TR is not open");
}

TEST(SimTextStream, OnASlaveCuBehindCs) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  uint16_t cs = h.OpenSocket(Key("MAIN", "CANSLAVE", "CS"), Bytes{4, 0, 128, 8, 0, 128});
  h.Grant(cs, 235);
  Bytes vkey = Key("VALVE", "INSTRUCT", "IN");
  Bytes sreq{0x14};
  sreq.insert(sreq.end(), vkey.begin(), vkey.end());
  Bytes sreply = h.Ask(2, sreq);
  ASSERT_EQ(sreply[0], 0x14);
  uint16_t slave = ReadU16(&sreply[sreply.size() - 2]);
  EXPECT_EQ(sim.Command("text-stream VALVE-S1 IN 12"), "ok");
  for (int k = 0; k < 12; ++k) {
    auto p = payload_on(h, cs);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(ReadU16(p->data()), slave);
    EXPECT_EQ(str(*p, 2), "line " + std::to_string(k));
  }
}

TEST(SimEmit, MessagesOfTheCusKindUnderReadCredits) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  uint16_t scan = h.OpenSocket(Key("DET", "SCANMON", "RDSCANMON"), kParams);
  ASSERT_NE(scan, 0xFFFD);
  EXPECT_EQ(sim.Command("emit DET-3 RDSCANMON 20"), "ok");
  EXPECT_FALSE(h.Next(200ms).has_value());  // owed, not queued: no credits yet
  h.Grant(scan, 16);
  std::set<int> ids;
  for (int k = 0; k < 16; ++k) {
    auto p = payload_on(h, scan);
    ASSERT_TRUE(p.has_value());
    auto hd = decode_nucleus(*p);
    ASSERT_TRUE(hd.has_value());
    EXPECT_EQ(hd->revision, 1);
    EXPECT_EQ(hd->record, k);
    ids.insert(hd->id);
  }
  EXPECT_EQ(ids.size(), 16u);  // every header ID 1..16
  EXPECT_FALSE(h.Next(200ms).has_value());
  h.Grant(scan, 100);
  for (int k = 16; k < 20; ++k) EXPECT_EQ(decode_nucleus(*payload_on(h, scan))->id, 1 + k % 16);
  EXPECT_FALSE(h.Next(200ms).has_value());  // exactly N in all

  uint16_t ar = h.OpenSocket(Key("DET", "ANALYSIS", "AR"), kParams);
  h.Grant(ar, 100);
  EXPECT_EQ(sim.Command("emit det-3 ar"), "ok");  // N defaults to 1
  auto rep = payload_on(h, ar);
  ASSERT_TRUE(rep.has_value());
  bool ok = false;
  EXPECT_EQ(decode_analysis(*rep, ok).size(), 1u);
  EXPECT_TRUE(ok);

  uint16_t in = h.OpenSocket(Key("DET", "INSTRUCT", "IN"), kParams);
  ASSERT_NE(in, 0xFFFD);
  const std::pair<const char*, const char*> kRefused[] = {
      {"emit DET-3 IN", "error: CU DET-3/IN (behaviour instruction) produces no data"},
      {"emit DET-3 DD", "error: CU DET-3/DD is not open"},
      {"emit DET-3 AR 0", "error: usage: emit MODULE CU [N] (N 1..1000000)"},
      {"emit DET-3", "error: usage: emit MODULE CU [N] (N 1..1000000)"},
  };
  for (const auto& [line, reply] : kRefused) {
    SCOPED_TRACE(line);
    EXPECT_EQ(sim.Command(line), reply);
  }
}

TEST(SimPeriod, PeriodicDataFlowsOnlyWhileTheCuIsOpen) {
  Simulator sim(R"({"keepalive_ms": 0, "modules": [{"type": "A", "cus": [
        {"name": "LI", "period_ms": 20}, {"name": "EV", "period_ms": 30}]}]})");
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  uint16_t li = h.OpenSocket(Key("A", "LI", "LI"), kParams);
  uint16_t ev = h.OpenSocket(Key("A", "EV", "EV"), kParams);
  h.Grant(li, 235);
  h.Grant(ev, 235);
  int lines = 0, events = 0;
  while (lines < 3 || events < 2) {
    auto f = h.Next();
    ASSERT_TRUE(f.has_value()) << "periodic messages stopped";
    std::string t = str(Bytes(f->begin() + 4, f->end()));
    if (ReadU16(&(*f)[2]) == li) {
      EXPECT_EQ(t.rfind("A LI #" + std::to_string(lines++) + ": ", 0), 0u) << t;
    } else {
      ASSERT_EQ(ReadU16(&(*f)[2]), ev);
      auto fields = event_fields(t);
      ASSERT_EQ(fields.size(), 3u) << t;
      EXPECT_EQ(fields[0], "EVENT " + std::to_string(++events));
      EXPECT_EQ(fields[2], "A");
    }
  }
  for (uint16_t s : {li, ev}) {
    Bytes close{0x0A, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s)};
    EXPECT_EQ(h.Ask(2, close), close);
  }
  // After the close replies nothing more comes, not even what was due meanwhile.
  EXPECT_FALSE(h.Next(300ms).has_value());
}

TEST(SimCanSlave, ReplyViaCsAndWithTheCuOpenedDirectly) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  uint16_t cs = h.OpenSocket(Key("MAIN", "CANSLAVE", "CS"), Bytes{4, 0, 128, 8, 0, 128});
  h.Grant(cs, 235);
  Bytes pkey = Key("VALVE", "SLAVEIO", "PR");
  Bytes sreq{0x14};
  sreq.insert(sreq.end(), pkey.begin(), pkey.end());
  Bytes sreply = h.Ask(2, sreq);
  ASSERT_EQ(sreply[0], 0x14);
  uint16_t pr = ReadU16(&sreply[sreply.size() - 2]);
  Bytes msg{static_cast<uint8_t>(pr >> 8), static_cast<uint8_t>(pr)};
  for (char c : std::string("INXY")) msg.push_back(static_cast<uint8_t>(c));
  Bytes r = h.Ask(cs, msg);
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(ReadU16(r.data()), pr);
  EXPECT_EQ(str(r, 2), "01OK XY");

  // CS_IO opened as a plain CU answers the same way, without the slave socket in front.
  uint16_t io = h.OpenSocket(Key("TEMP", "SLAVEIO", "CS_IO"), kParams);
  ASSERT_NE(io, 0xFFFD);
  h.Grant(io, 10);
  EXPECT_EQ(str(h.Ask(io, Text("INSTAT?"))), "01OK STAT?");
  EXPECT_EQ(str(h.Ask(io, Text("STAT?"))), "01ERROR not an instruction: STAT?");
  EXPECT_EQ(json::parse(sim.Status())["instructions"], 2);
}

TEST(SimDemo, EveryWindowKindHasACuAndTheListsStay) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  std::set<std::string> names;
  std::string types;
  for (int list : {1, 2})
    for (const Bytes& m : WalkModules(h, list)) {
      types += Texts(m, 1)[0] + (list == 2 ? "(2) " : " ");
      for (const Bytes& cu : WalkCus(h, m)) names.insert(Texts(cu, 3)[2]);
    }
  EXPECT_EQ(types, "MAIN-1 PUMP-2 DET-3 VALVE-S1(2) TEMP-S2(2) ");
  for (const char* kind : {"IN", "EV", "TR", "MO", "DI", "LI", "AR", "RD", "MS", "RAWD", "RDSCANMON", "RDSIGMON", "LD",
                           "DD", "PR", "CS_IO", "CS"})
    EXPECT_TRUE(names.count(kind)) << kind;
  auto det = WalkCus(h, WalkModules(h, 1)[2]);
  std::string det_names;
  for (const Bytes& cu : det) det_names += Texts(cu, 3)[2] + " ";
  EXPECT_EQ(det_names, "IN EV RD MS AR DD RAWD RDSCANMON RDSIGMON ");

  // The demo's raw data CU sends a nucleus header by itself once a period has passed.
  uint16_t rawd = h.OpenSocket(Key("DET", "NUCLEUS", "RAWD"), kParams);
  h.Grant(rawd, 10);
  auto p = payload_on(h, rawd);
  ASSERT_TRUE(p.has_value()) << "no periodic message";
  EXPECT_EQ(decode_nucleus(*p)->id, 1);
}

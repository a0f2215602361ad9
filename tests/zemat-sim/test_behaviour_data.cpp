// Unit tests of the data behaviours and the records they build, read back the way the CU windows read
// them: nucleus headers, analysis reports, events, trace pieces, monitor and raw data texts, DSP data,
// the period and "emit" bookkeeping under read credits, and the CAN-slave replies.
#include "RecordingContext.h"
#include "WindowDecode.h"
#include "zemat-sim/DataBehaviours.h"
#include "zemat-sim/Records.h"
#include "zemat-sim/SimConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <set>

using namespace zsim;
using simtest::feed;
using simtest::RecordingContext;

namespace {

// n messages of the named behaviour, by "emit".
RecordingContext emitted(const std::string& behaviour, long n, const std::string& cu_name = "X") {
  RecordingContext cx;
  cx.type = "DET-3";
  cx.cfg.name = cu_name;
  auto b = make_behaviour(behaviour);
  b->on_open(cx);
  EXPECT_TRUE(b->on_emit(cx, n));
  EXPECT_EQ(cx.sent.size(), static_cast<size_t>(std::min(n, 256L)));  // one tick's batch at most
  return cx;
}

}  // namespace

TEST(NucleusData, HeadersCycleThroughEveryIdWithTheirFields) {
  RecordingContext cx = emitted("nucleus", 40);
  for (size_t k = 0; k < cx.sent.size(); ++k) {
    auto h = simtest::decode_nucleus(cx.sent[k]);
    ASSERT_TRUE(h.has_value()) << "message " << k << " shorter than its header";
    EXPECT_EQ(h->record, static_cast<int32_t>(k));
    EXPECT_EQ(h->revision, 1);
    EXPECT_EQ(h->id, static_cast<int>(1 + k % 16));
    for (long v : h->values) EXPECT_GE(v, 0);
    if (h->id == 12 || h->id == 13) {
      EXPECT_LT(h->values[0], h->values[1]) << "record r of n";
    }
    if (h->id >= 13 && h->id <= 15)  // signal headers carry their points behind the header
      EXPECT_EQ(cx.sent[k].size(), h->needed + 2 * static_cast<size_t>(h->values.back()));
    else
      EXPECT_EQ(cx.sent[k].size(), h->needed);
  }
  std::set<int> ids;
  for (const Bytes& m : cx.sent) ids.insert(m[5]);
  EXPECT_EQ(ids.size(), 16u);
}

TEST(AnalysisData, RecordsFillTheirMessagesAndCoverEveryKind) {
  RecordingContext cx = emitted("analysis", 24);
  std::set<std::pair<int, int>> fraction_forms;  // (count, selector != 0)
  bool plain_with_data = false, plain_empty = false, fraction_none = false, no_sources = false;
  size_t records = 0;
  for (size_t k = 0; k < cx.sent.size(); ++k) {
    bool ok = false;
    auto recs = simtest::decode_analysis(cx.sent[k], ok);
    ASSERT_TRUE(ok) << "message " << k << " would show an error line";
    size_t sum = 0;
    for (const auto& r : recs) sum += r.size;
    EXPECT_EQ(sum, cx.sent[k].size()) << "message " << k;
    EXPECT_EQ(recs.size(), 1 + k % 4);
    for (const auto& r : recs) {
      ++records;
      if (r.name != "FractionData") {
        (r.count > 0 ? plain_with_data : plain_empty) = true;
        continue;
      }
      if (r.count == 0) {
        fraction_none = true;
        continue;
      }
      // The count names the fraction data's size: selector and size agree with it.
      EXPECT_EQ(r.size - 44, static_cast<size_t>(r.count)) << r.name << " " << r.count;
      fraction_forms.insert({r.count, r.selector != 0});
      if (r.selector != 0) {
        EXPECT_EQ(r.texts.at(0).rfind("TRIG ", 0), 0u);
      }
      no_sources |= r.selector == 0 && r.texts.empty();
    }
  }
  EXPECT_GE(records, 3u * kAnalysisKinds);
  EXPECT_TRUE(plain_with_data && plain_empty && fraction_none && no_sources);
  EXPECT_EQ(fraction_forms, (std::set<std::pair<int, int>>{{62, 1}, {78, 1}, {82, 0}, {146, 0}}));
}

TEST(TextData, EventsMonitorRawDataAndDd) {
  RecordingContext ev = emitted("event", 3);
  long long now = std::time(nullptr);
  for (size_t k = 0; k < 3; ++k) {
    std::string t = ev.text(k);
    EXPECT_EQ(t.find('\0'), std::string::npos);
    auto f = simtest::event_fields(t);
    ASSERT_EQ(f.size(), 3u) << t;
    EXPECT_EQ(f[0], "EVENT " + std::to_string(k + 1));
    EXPECT_LE(std::llabs(std::atoll(f[1].c_str()) - now), 5);
    EXPECT_EQ(f[2], "DET-3");
  }
  Bytes cmd = make_event_text(42, 86400, "MAIN-1");
  EXPECT_EQ(std::string(cmd.begin(), cmd.end()), "EVENT 42,86400,MAIN-1");

  RecordingContext mo = emitted("monitor", 50, "DI");
  for (size_t k = 0; k < mo.sent.size(); ++k) {
    std::string t = mo.text(k);
    EXPECT_EQ(t.find_first_of(std::string("\n\r\0", 3)), std::string::npos) << t;
    EXPECT_EQ(t.rfind("DET-3 DI #" + std::to_string(k) + ": ", 0), 0u) << t;
  }

  RecordingContext rd = emitted("rawdata", 50);
  for (size_t k = 0; k < rd.sent.size(); ++k) {
    std::string t = rd.text(k);
    char* end = nullptr;
    std::strtod(t.c_str(), &end);
    ASSERT_NE(end, t.c_str()) << t;
    EXPECT_EQ(*end, ';') << "the first field is a number: " << t;
    EXPECT_EQ(std::count(t.begin(), t.end(), ';'), 2) << t;
  }

  RecordingContext dd = emitted("dd", 100);
  std::set<size_t> lengths;
  for (size_t k = 0; k < dd.sent.size(); ++k) {
    ASSERT_GE(dd.sent[k].size(), 1u);
    ASSERT_LE(dd.sent[k].size(), 1024u);
    lengths.insert(dd.sent[k].size());
    EXPECT_EQ(dd.sent[k].back(), stream_byte(static_cast<long>(k), dd.sent[k].size() - 1));
  }
  EXPECT_GT(lengths.size(), 50u);
}

TEST(TraceData, PiecesCutLinesAnywhereAndRepliesFollowTheCurrentLine) {
  RecordingContext cx = emitted("trace", 60);
  std::string all;
  bool mid_line = false, several = false;
  for (size_t k = 0; k < cx.sent.size(); ++k) {
    std::string p = cx.text(k);
    all += p;
    mid_line |= p.back() != '\n';
    several |= std::count(p.begin(), p.end(), '\n') >= 2;
  }
  EXPECT_TRUE(mid_line && several);
  RecordingContext again = emitted("trace", 60);  // deterministic: the same pieces again
  for (size_t k = 0; k < again.sent.size(); ++k) EXPECT_EQ(again.sent[k], cx.sent[k]);

  // The pieces joined the way the trace window joins them give whole, numbered lines.
  auto b = make_behaviour("trace");
  RecordingContext tx;
  tx.type = "MAIN-1";
  simtest::TraceLines window;
  b->on_open(tx);
  bool replied_mid_line = false;
  for (int round = 0; round < 40; ++round) {
    b->on_emit(tx, 1);
    window.add(tx.text(tx.sent.size() - 1));
    if (round % 10 == 9) {
      replied_mid_line |= tx.sent.back().back() != '\n';
      feed(*b, tx, "STAT?" + std::to_string(round) + "\r\n");
      window.add(tx.text(tx.sent.size() - 1));
    }
  }
  EXPECT_TRUE(replied_mid_line);
  EXPECT_EQ(tx.instructions, 4);
  long expect = 0;
  int replies = 0;
  for (const std::string& l : window.lines) {  // the last piece was a reply: every line is whole
    if (l.rfind("OK STAT?", 0) == 0) {
      EXPECT_EQ(l, "OK STAT?" + std::to_string(replies * 10 + 9));
      ++replies;
      continue;
    }
    EXPECT_EQ(l.rfind("MAIN-1 trace " + std::to_string(expect) + ": ", 0), 0u) << l;
    EXPECT_NE(l.find(" ms"), std::string::npos) << l;
    ++expect;
  }
  EXPECT_EQ(replies, 4);
}

TEST(DataBehaviour, EmitAndPeriodWaitForReadCredits) {
  RecordingContext cx;
  cx.credits = 2;
  auto b = make_behaviour("monitor");
  b->on_open(cx);
  EXPECT_TRUE(b->on_emit(cx, 5));
  EXPECT_EQ(cx.sent.size(), 2u);  // what is owed waits for credits; nothing is queued
  b->on_tick(cx, Clock::now());
  EXPECT_EQ(cx.sent.size(), 2u);
  cx.credits = 100;
  b->on_tick(cx, Clock::now());
  ASSERT_EQ(cx.sent.size(), 5u);
  EXPECT_EQ(cx.text(4).rfind("T  #4: ", 0), 0u) << cx.text(4);
  b->on_tick(cx, Clock::now() + std::chrono::hours(1));
  EXPECT_EQ(cx.sent.size(), 5u);  // no period: only on command

  RecordingContext px;
  px.cfg.period_ms = 100;
  auto p = make_behaviour("rawdata");
  auto t0 = Clock::now();
  p->on_open(px);
  p->on_tick(px, t0);
  EXPECT_TRUE(px.sent.empty());  // the first message comes one period after the open
  p->on_tick(px, t0 + std::chrono::milliseconds(150));
  EXPECT_EQ(px.sent.size(), 1u);
  px.credits = 0;
  for (int i = 2; i < 20; ++i) p->on_tick(px, t0 + std::chrono::milliseconds(100 * i + 50));
  px.credits = 100;
  p->on_tick(px, t0 + std::chrono::milliseconds(2050));
  EXPECT_EQ(px.sent.size(), 2u);  // periods missed while the host held back add one message, not a burst
  EXPECT_TRUE(p->on_emit(px, DataBehaviour::kMaxOwed * 3));  // owed messages are a bounded count
  EXPECT_EQ(px.sent.size(), 2u + 99u);

  RecordingContext ix;
  EXPECT_FALSE(make_behaviour("instruction")->on_emit(ix, 1));
  EXPECT_FALSE(make_behaviour("canslave")->on_emit(ix, 1));
  EXPECT_TRUE(ix.sent.empty());
}

TEST(CanSlave, InstructionsWithTheInPrefixGetTheSourceAndTheReply) {
  RecordingContext cx;
  cx.cfg.replies = {{"*IDN?", "VALVE,1\nready"}, {"QUIET", ""}};
  auto b = make_behaviour("canslave");
  feed(*b, cx, "INXY");
  feed(*b, cx, std::string("IN*IDN?\r\n\0", 10));
  feed(*b, cx, "INQUIET");
  feed(*b, cx, "XY");
  ASSERT_EQ(cx.sent.size(), 3u);
  EXPECT_EQ(cx.text(0), "01OK XY");
  EXPECT_EQ(cx.text(1), "01VALVE,1\nready");
  EXPECT_EQ(cx.text(2), "01ERROR not an instruction: XY");
  EXPECT_EQ(cx.instructions, 3);
  EXPECT_EQ(cx.logs.size(), 1u);
}

TEST(SimConfig, PeriodKeyAndTheDemoInstrumentsDataCus) {
  SimConfig c = parse_config(R"({"modules": [{"type": "A", "cus": [
        {"name": "MO", "period_ms": 250}, {"name": "X", "behaviour": "dd", "period_ms": 10}]}]})");
  EXPECT_EQ(c.modules[0].cus[0].period_ms, 250);
  EXPECT_EQ(c.modules[0].cus[1].period_ms, 10);
  for (const char* bad : {R"({"modules": [{"type": "A", "cus": [{"name": "IN", "period_ms": 100}]}]})",
                          R"({"modules": [{"type": "A", "cus": [{"name": "MO", "period_ms": -1}]}]})"}) {
    try {
      parse_config(bad);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find("\"period_ms\" in modules[0].cus[0]"), std::string::npos) << e.what();
    }
  }

  // Every data behaviour has a CU with a period in the demo instrument, the events every 5 s.
  std::set<std::string> periodic;
  for (const auto& m : demo_config().modules)
    for (const auto& cu : m.cus) {
      std::string b = cu.behaviour.empty() ? default_behaviour(cu.name) : cu.behaviour;
      if (cu.period_ms > 0) periodic.insert(b);
      if (b == "event" && cu.period_ms > 0) {
        EXPECT_EQ(cu.period_ms, 5000);
      }
    }
  EXPECT_EQ(periodic, (std::set<std::string>{"event", "trace", "monitor", "rawdata", "analysis", "nucleus", "dd"}));
}

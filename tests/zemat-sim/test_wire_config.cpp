// Unit tests of the simulator's input splitter, its configuration loader and its behaviours.
#include "RecordingContext.h"
#include "zemat-sim/CuBehaviour.h"
#include "zemat-sim/Loader.h"
#include "zemat-sim/SimConfig.h"
#include "zemat-sim/Wire.h"

#include "support/Frames.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace zsim;
using simtest::feed;
using simtest::RecordingContext;
// The frames fed to the splitter are built apart from the simulator's own code.
using support::Join;
using support::MakeFrame;
using support::RedCard;

TEST(FrameSplitter, AssemblesFramesFedOneByteAtATime) {
  Bytes f1 = MakeFrame(0, Bytes{0x01});
  Bytes f2 = MakeFrame(17, Bytes(4496, 0xAB));
  Bytes stream = Join({RedCard(), f1, f2});
  FrameSplitter s;
  std::vector<Bytes> got;
  for (uint8_t b : stream)
    for (auto& f : s.feed(&b, 1).frames) got.push_back(f);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], RedCard());
  EXPECT_EQ(got[1], f1);
  EXPECT_EQ(got[2], f2);
}

TEST(FrameSplitter, DiscardsEverythingBeforeTheRedCard) {
  Bytes stream = Join(
      {Bytes{0x00, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x12}, MakeFrame(0, Bytes{1}), RedCard(), MakeFrame(0, Bytes{7})});
  FrameSplitter s;
  auto r = s.feed(stream.data(), stream.size());
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(r.frames[0], RedCard());
  EXPECT_EQ(r.frames[1], MakeFrame(0, Bytes{7}));
  EXPECT_EQ(r.discarded, 12u);
}

TEST(FrameSplitter, ImpossibleLengthsWaitForTheNextRedCard) {
  for (Bytes bad : {Bytes{0x00, 0x02, 0x00, 0x00}, Bytes{0x11, 0x95, 0x00, 0x00}, Bytes{0x00, 0x00}}) {
    Bytes stream = Join({RedCard(), bad, MakeFrame(0, Bytes{1}), RedCard(), MakeFrame(0, Bytes{2})});
    FrameSplitter s;
    auto r = s.feed(stream.data(), stream.size());
    EXPECT_EQ(r.bad_lengths, 1);
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_EQ(r.frames[2], MakeFrame(0, Bytes{2}));  // the frame after the bad one is lost
  }
}

TEST(FrameSplitter, RestartPutsFramesBackAndHuntsThroughThem) {
  Bytes stream = Join({RedCard(), MakeFrame(0, Bytes{7})});
  FrameSplitter s;
  ASSERT_EQ(s.feed(stream.data(), stream.size()).frames.size(), 2u);
  Bytes tail = Join({MakeFrame(0, Bytes{1}), RedCard()});
  Bytes half{tail.begin(), tail.begin() + 7};  // the red card arrives split
  s.restart(MakeFrame(0, Bytes{9}));
  auto r = s.feed(half.data(), half.size());
  EXPECT_TRUE(r.frames.empty());
  r = s.feed(tail.data() + 7, tail.size() - 7);
  ASSERT_EQ(r.frames.size(), 1u);
  EXPECT_EQ(r.frames[0], RedCard());
}

TEST(FrameSplitter, LargestFrameAcceptedOneMoreRefused) {
  FrameSplitter s;
  Bytes ok = Join({RedCard(), MakeFrame(3, Bytes(4496, 1))});
  EXPECT_EQ(s.feed(ok.data(), ok.size()).frames.size(), 2u);
  Bytes over = MakeFrame(3, Bytes(4497, 1));
  auto r = s.feed(over.data(), over.size());
  EXPECT_EQ(r.bad_lengths, 1);
  EXPECT_TRUE(r.frames.empty());
  EXPECT_FALSE(s.synced());
}

TEST(FrameSplitter, BufferStaysBoundedWithoutARedCard) {
  FrameSplitter s;
  Bytes junk(100000, 0xFF);
  auto r = s.feed(junk.data(), junk.size());
  EXPECT_TRUE(r.frames.empty());
  EXPECT_EQ(r.discarded, junk.size() - 5);
  Bytes tail{0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF};  // a red card right behind the junk is still found
  EXPECT_EQ(s.feed(tail.data(), tail.size()).frames.size(), 1u);
}

TEST(SimConfig, ParsesEveryKeyAndFillsDefaults) {
  SimConfig c = parse_config(R"({
        "greeting": "hello\r\n> ", "reject_setting": "buffer-packing: off",
        "redcard_sockets": [7, 8, 9], "keepalive_ms": 0, "refuse_open": true,
        "modules": [ { "type": "A-1", "serial": "1", "list": 2,
                       "cus": [ { "name": "IN", "replies": {"X": "Y"}, "in_count": 0, "grant_after_ms": 50 },
                                { "name": "RD", "behaviour": "stream", "stream_count": 5, "stream_size": 10,
                                  "stream_rate": 100.5 } ] } ],
        "schedule": [ { "at_ms": 20, "command": "b" }, { "at_ms": 10, "command": "a" } ] })");
  EXPECT_EQ(c.greeting, "hello\r\n> ");
  EXPECT_EQ(c.reject_setting, "buffer-packing: off");
  ASSERT_TRUE(c.redcard_sockets.has_value());
  EXPECT_EQ((*c.redcard_sockets)[2], 9);
  EXPECT_EQ(c.keepalive_ms, 0);
  EXPECT_TRUE(c.refuse_open);
  ASSERT_EQ(c.modules.size(), 1u);
  EXPECT_EQ(c.modules[0].list, 2);
  EXPECT_EQ(c.modules[0].cus[0].owner, "A-1");       // owner defaults to the module type
  EXPECT_EQ(c.modules[0].cus[0].description, "IN");  // description defaults to the name
  EXPECT_EQ(c.modules[0].cus[0].replies.at("X"), "Y");
  EXPECT_EQ(c.modules[0].cus[1].stream_rate, 100.5);
  EXPECT_EQ(c.schedule[0].command, "a");  // sorted by time
}

TEST(SimConfig, ErrorsNameTheProblem) {
  auto message = [](const std::string& json) {
    try {
      parse_config(json);
    } catch (const ConfigError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(message(R"({"greting": "x"})").find("\"greting\""), std::string::npos);
  EXPECT_NE(message(R"({"modules": [{"type": "A", "cus": [{"name": "IN", "colour": 1}]}]})")
                .find("\"colour\" in modules[0].cus[0]"),
            std::string::npos);
  EXPECT_NE(message("{ nope").find("not valid JSON"), std::string::npos);
  EXPECT_NE(message(R"({"keepalive_ms": 1e999})").find("number overflow"), std::string::npos);  // no double holds it
  EXPECT_NE(message(R"({"keepalive_ms": "often"})").find("\"keepalive_ms\""), std::string::npos);
  EXPECT_NE(message(R"({"redcard_sockets": [1, 1, 2]})").find("differ"), std::string::npos);
  EXPECT_NE(message(R"({"modules": [{"type": "A", "cus": [{"name": "IN", "behaviour": "dance"}]}]})")
                .find("unknown behaviour \"dance\""),
            std::string::npos);
  EXPECT_NE(message(R"({"modules": [{"type": "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "serial": "0123456789"}]})").find("36-byte"),
            std::string::npos);
  std::string many = R"({"modules": [)";
  for (int i = 0; i < 33; ++i) many += std::string(i ? "," : "") + R"({"type": "M)" + std::to_string(i) + R"("})";
  EXPECT_NE(message(many + "]}").find("more than 32 modules"), std::string::npos);
  std::string cus = R"({"modules": [{"type": "A", "cus": [)";
  for (int i = 0; i < 17; ++i) cus += std::string(i ? "," : "") + R"({"name": "C)" + std::to_string(i) + R"("})";
  EXPECT_NE(message(cus + "]}]}").find("more than 16 CUs"), std::string::npos);
  EXPECT_NE(message(R"({"modules": [{"type": "A", "cus": [{"name": "LD", "loader": {"erase": 1}}]}]})")
                .find("\"erase\" in modules[0].cus[0].loader"),
            std::string::npos);
  EXPECT_NE(message(R"({"modules": [{"type": "A", "cus": [{"name": "LD", "loader": {"drop_at": -5}}]}]})")
                .find("\"drop_at\""),
            std::string::npos);
}

TEST(SimConfig, DemoInstrumentHasBothListsAndTheFullMainModule) {
  SimConfig c = demo_config();
  int list2 = 0;
  for (const auto& m : c.modules) {
    list2 += m.list == 2;
    EXPECT_NO_THROW(validate_module(m));
  }
  EXPECT_GE(list2, 2);
  std::string names;
  for (const auto& cu : c.modules[0].cus) names += cu.name + " ";
  EXPECT_EQ(names, "IN EV TR MO LD CS DI LI ");  // new CUs come behind the old ones
}

TEST(Behaviours, InstructionAnswersFromTheTableOrNamesTheInstruction) {
  RecordingContext cx;
  cx.cfg.replies = {{"*IDN?", "SIM,1"}, {"QUIET", ""}};
  auto b = make_behaviour("instruction");
  feed(*b, cx, std::string("*IDN?\r\n\0junk", 12));
  feed(*b, cx, "RUN 5");
  feed(*b, cx, "QUIET");
  ASSERT_EQ(cx.sent.size(), 2u);
  EXPECT_EQ(std::string(cx.sent[0].begin(), cx.sent[0].end()), "SIM,1");
  EXPECT_EQ(std::string(cx.sent[1].begin(), cx.sent[1].end()), "OK RUN 5");
  EXPECT_EQ(cx.instructions, 3);
}

TEST(Behaviours, EchoStreamAndCsDoWhatTheirNamesSay) {
  RecordingContext cx;
  auto echo = make_behaviour("ECHO");
  feed(*echo, cx, "abc");
  ASSERT_EQ(cx.sent.size(), 1u);
  EXPECT_EQ(cx.sent[0], (Bytes{'a', 'b', 'c'}));

  cx.cfg.stream_count = 9;
  cx.cfg.stream_size = 33;
  auto stream = make_behaviour("stream");
  stream->on_open(cx);
  EXPECT_EQ(cx.stream_count, 9);
  EXPECT_EQ(cx.stream_size, 33);

  auto cs = make_behaviour("cs");
  feed(*cs, cx, std::string("\x01\x00hi", 4));
  EXPECT_EQ(cx.slave, 0x100);
  EXPECT_EQ(cx.slave_bytes, 2u);
  feed(*cs, cx, "\x02");       // too short to name a slave
  feed(*cs, cx, "\x07\x07x");  // unknown slave
  EXPECT_EQ(cx.logs.size(), 2u);
}

TEST(Behaviours, RegistryMapsNamesAndDefaults) {
  EXPECT_EQ(default_behaviour("in"), "instruction");
  EXPECT_EQ(default_behaviour("EV"), "event");
  EXPECT_EQ(default_behaviour("Cs"), "cs");
  EXPECT_EQ(default_behaviour("LD"), "loader");
  EXPECT_EQ(default_behaviour("INX"), "silent");
  EXPECT_EQ(default_behaviour("tr"), "trace");
  for (const char* n : {"MO", "DI", "LI"}) EXPECT_EQ(default_behaviour(n), "monitor") << n;
  for (const char* n : {"RD", "MS"}) EXPECT_EQ(default_behaviour(n), "rawdata") << n;
  for (const char* n : {"RAWD", "RDSCANMON", "rdsigmon"}) EXPECT_EQ(default_behaviour(n), "nucleus") << n;
  EXPECT_EQ(default_behaviour("AR"), "analysis");
  EXPECT_EQ(default_behaviour("DD"), "dd");
  EXPECT_EQ(default_behaviour("PR"), "canslave");
  EXPECT_EQ(default_behaviour("cs_io"), "canslave");
  for (const char* n : {"event", "trace", "monitor", "rawdata", "analysis", "nucleus", "dd"})
    EXPECT_TRUE(behaviour_produces_data(n) && behaviour_known(n)) << n;
  for (const char* n : {"instruction", "canslave", "cs", "echo", "stream", "silent"})
    EXPECT_FALSE(behaviour_produces_data(n)) << n;
  EXPECT_FALSE(behaviour_known("later"));
  register_behaviour("Later", [] { return make_behaviour("echo"); });
  EXPECT_TRUE(behaviour_known("later"));
  EXPECT_NE(make_behaviour("no-such-thing"), nullptr);  // unknown names play silent
  Bytes ev = make_event_payload(0x1234);
  EXPECT_EQ(ev[0], 1);
  EXPECT_EQ(ev[1], 0x12);
  EXPECT_EQ(ev[2], 0x34);
}

// ---- the module loader ----

namespace {

// A context whose module has a loader; the drop fault is recorded.
class LoaderContext : public RecordingContext {
 public:
  explicit LoaderContext(ModuleLoader& l) : loader_(l) {}
  ModuleLoader* loader() override { return &loader_; }
  void drop_link() override { ++drops; }
  int drops = 0;

 private:
  ModuleLoader& loader_;
};

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace

TEST(Loader, PhasesFollowTheResetAndTheImage) {
  LoaderSettings s;
  s.erase_ms = 100, s.end_idle_ms = 50, s.verify_ms = 200;
  ModuleLoader l(s);
  const auto t0 = ModuleLoader::Clock::now();
  auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
  EXPECT_EQ(l.status(t0), std::make_pair(0, 0));
  EXPECT_EQ(l.on_instruction("LOAD:RSET", t0), "RA LOAD:RSET");
  EXPECT_EQ(l.on_instruction("LOAD:STAT?", at(10)), "LOAD:STAT 1,0");
  EXPECT_EQ(l.status(at(99)).first, 1);
  EXPECT_EQ(l.status(at(120)).first, 2);  // waits for the image
  const uint8_t chunk[3] = {'1', '2', '3'};
  l.on_image(chunk, 3, at(300));
  EXPECT_EQ(l.status(at(340)).first, 2);
  EXPECT_EQ(l.status(at(360)).first, 3);  // 50 ms without a frame end the image
  EXPECT_EQ(l.status(at(549)).first, 3);
  EXPECT_EQ(l.status(at(551)).first, 0);
  EXPECT_EQ(l.on_instruction("*IDN?", t0), std::nullopt);  // not the loader's
  EXPECT_EQ(l.on_instruction("LOAD:STAT", t0), std::nullopt);

  // Without an image the module is ready again once erased and idle, without verifying.
  l.on_instruction("LOAD:RSET", at(1000));
  EXPECT_EQ(l.status(at(1149)).first, 2);
  EXPECT_EQ(l.status(at(1151)).first, 0);
}

TEST(Loader, KeepsTheImageWithItsFramesAndCrc) {
  ModuleLoader l{LoaderSettings{}};
  l.on_instruction("LOAD:RSET", ModuleLoader::Clock::now());
  const std::string a = "12345", b = "6789";
  l.on_image(reinterpret_cast<const uint8_t*>(a.data()), a.size(), ModuleLoader::Clock::now());
  l.on_image(reinterpret_cast<const uint8_t*>(b.data()), b.size(), ModuleLoader::Clock::now());
  auto j = nlohmann::json::parse(l.status_json(ModuleLoader::Clock::now()));
  EXPECT_EQ(j["bytes"], 9);
  EXPECT_EQ(j["frames"], 2);
  EXPECT_EQ(j["min_frame"], 4);
  EXPECT_EQ(j["max_frame"], 5);
  EXPECT_EQ(j["crc32"], "cbf43926");  // the CRC-32 check value of "123456789"
  EXPECT_EQ(j["resets"], 1);
  std::string error;
  EXPECT_FALSE(l.save("/nonexistent-folder/x.dlb", error));
  EXPECT_NE(error.find("cannot write"), std::string::npos);
  l.on_instruction("LOAD:RSET", ModuleLoader::Clock::now());  // a new image starts empty
  j = nlohmann::json::parse(l.status_json(ModuleLoader::Clock::now()));
  EXPECT_EQ(j["bytes"], 0);
  EXPECT_EQ(j["crc32"], "00000000");
}

TEST(Loader, FaultsThroughTheInAndLdBehaviours) {
  LoaderSettings s;
  s.error_at = 2000, s.error_code = 3, s.starve_at = 3000, s.drop_at = 4000;
  ModuleLoader l(s);
  LoaderContext in(l), ld(l);
  auto instruction = make_behaviour("instruction");
  auto loader = make_behaviour("loader");
  feed(*instruction, in, "LOAD:RSET\r\n");
  feed(*instruction, in, "*IDN?");  // other instructions answer as before
  ASSERT_EQ(in.sent.size(), 2u);
  EXPECT_EQ(text(in.sent[0]), "RA LOAD:RSET");
  EXPECT_EQ(text(in.sent[1]), "OK *IDN?");
  std::string chunk(1000, 'x');
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(loader->withholds_credit(ld), i >= 3) << i;
    feed(*loader, ld, chunk);
    EXPECT_EQ(ld.drops, i >= 3 ? 1 : 0) << i;
  }
  feed(*loader, ld, chunk);
  EXPECT_EQ(ld.drops, 1);  // once per image
  feed(*instruction, in, "LOAD:STAT?");
  EXPECT_EQ(text(in.sent.back()), "LOAD:STAT 4,3");

  l.settings = LoaderSettings{};
  l.settings.no_handshake = true;
  size_t before = in.sent.size();
  feed(*instruction, in, "LOAD:RSET");
  EXPECT_EQ(in.sent.size(), before);
  l.settings.no_handshake = false;
  l.settings.bad_handshake = true;
  feed(*instruction, in, "LOAD:RSET");
  EXPECT_EQ(text(in.sent.back()), "OK LOAD:RSET");
  feed(*instruction, in, "LOAD:STAT?");
  EXPECT_EQ(text(in.sent.back()).rfind("LOAD:STAT 1,0", 0), 0u);  // the error went with the reset
}

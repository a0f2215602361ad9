// The simulator program's faults, console, serial mode, control channels, bad configurations and
// its robustness against a misbehaving host.
#include "SimTestUtil.h"
#include "support/Child.h"
#include "support/Net.h"
#include "support/RawHost.h"
#include "support/Simulator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace support;
using namespace simtest;
using nlohmann::json;

namespace {

// A plain TCP line client for the console.
class Console {
 public:
  explicit Console(int port) {
    try {
      fd_ = ConnectLoopback(port);
    } catch (const std::exception&) {
    }
  }
  ~Console() {
    if (fd_ >= 0) ::close(fd_);
  }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  bool connected() const { return fd_ >= 0; }
  void send(const std::string& s) { (void)::send(fd_, s.data(), s.size(), MSG_NOSIGNAL); }
  // Reads until the text ends with "> " (or the peer closes / 5 s pass).
  std::string until_prompt() {
    std::string got;
    while (got.size() < 2 || got.compare(got.size() - 2, 2, "> ") != 0) {
      pollfd p{fd_, POLLIN, 0};
      char b[512];
      ssize_t n;
      if (::poll(&p, 1, 5000) <= 0 || (n = ::recv(fd_, b, sizeof b, 0)) <= 0) break;
      got.append(b, static_cast<size_t>(n));
    }
    return got;
  }
  bool closed() {
    pollfd p{fd_, POLLIN, 0};
    char b[64];
    return ::poll(&p, 1, 5000) == 1 && ::recv(fd_, b, sizeof b, 0) == 0;
  }

 private:
  int fd_ = -1;
};

// Runs the program with arguments that make it end at once (standard input /dev/null); returns its exit
// code and standard error.
std::pair<int, std::string> RunFailing(std::vector<std::string> args, const std::string& configJson) {
  TempDir dir;
  if (!configJson.empty()) args.insert(args.begin(), {"--config", dir.Write("sim.json", configJson)});
  ChildOptions options;
  options.holdInput = false;
  options.out = ChildOptions::Null;
  Child child(SimulatorPath(), args, options);
  int rc = child.Finish(20s);
  return {rc, child.Err()};
}

}  // namespace

TEST(SimFaults, GarbageOversizedAndShortFramesGoOutAsSaid) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  EXPECT_EQ(sim.Command("fault garbage 7"), "ok");
  Bytes g = h.ReadRaw(7);
  ASSERT_EQ(g.size(), 7u);
  EXPECT_GT(ReadU16(g.data()), 4500);  // cannot be read as a frame
  EXPECT_EQ(sim.Command("fault oversized"), "ok");
  Bytes big = h.ReadRaw(4600);
  ASSERT_EQ(big.size(), 4600u);
  EXPECT_EQ(ReadU16(big.data()), 4600);
  EXPECT_EQ(sim.Command("fault short"), "ok");
  EXPECT_EQ(h.ReadRaw(2), (Bytes{0x00, 0x02}));
  // The simulator itself goes on: a request still gets its answer.
  EXPECT_EQ(h.Ask(0, Bytes{0x01})[0], 0x01);
}

TEST(SimFaults, SplitSendsTheNextReplyOneByteAtATime) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  EXPECT_EQ(sim.Command("fault split"), "ok");
  int before = h.Reads();
  Bytes first = h.Ask(0, Bytes{0x01});
  ASSERT_GT(first.size(), 5u);
  EXPECT_EQ(first[0], 0x01);
  EXPECT_GE(h.Reads() - before, 3);           // many small reads, one frame intact
  EXPECT_EQ(h.Ask(0, Bytes{0x12})[0], 0x12);  // later frames go out whole again
}

TEST(SimFaults, SilenceHoldsEverythingThenDeliversIt) {
  Simulator sim(R"({"keepalive_ms": 20})");
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  EXPECT_EQ(sim.Command("fault silence 400"), "ok");
  h.Send(0, Bytes{0x01});
  EXPECT_FALSE(h.NextAny(150ms).has_value());  // neither the reply nor keep-alives
  auto f = h.Next(5000ms);
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ((*f)[4], 0x01);
}

TEST(SimFaults, DropClosesAndTheNextConnectionIsServed) {
  Simulator sim;
  {
    RawHost h = RawHost::Tcp(sim.DataPort());
    h.Start();
    h.Sync();
    EXPECT_EQ(sim.Command("fault drop"), "ok");
    EXPECT_TRUE(h.ClosedByPeer());
  }
  EXPECT_EQ(status(sim)["connected"], false);
  EXPECT_EQ(sim.Command("fault short"), "error: not connected");
  RawHost h2 = RawHost::Tcp(sim.DataPort());
  h2.Start();
  EXPECT_EQ(h2.Ask(0, Bytes{0x01})[0], 0x01);
  json st = status(sim);
  EXPECT_EQ(st["connections"], 2);
  EXPECT_EQ(st["connected"], true);
}

TEST(SimRobustness, BadFramesAndUnknownSocketsAreSurvived) {
  Simulator sim;
  RawHost h = RawHost::Tcp(sim.DataPort());
  h.Start();
  uint16_t in = h.OpenSocket(Key("MAIN", "INSTRUCT", "IN"), kParams);
  h.Grant(in, 100);
  h.Send(0x1234, Bytes{1, 2, 3});  // no CU on that socket
  h.Send(2, Bytes{0x09, 'A'});     // malformed open: refused
  Bytes refusal = *h.Next();
  EXPECT_NE(refusal[4], 0x09);
  h.Send(2, Bytes{0x0A});  // close without a socket: refused
  EXPECT_NE((*h.Next())[4], 0x0A);
  h.Send(0, Bytes{0x77});  // unknown configuration request: no answer
  h.Sync();
  h.SendBytes(Bytes{0x00, 0x01, 0xAA, 0xBB, 0xCC});  // length below 4: stream lost until a red card
  h.Send(0, Bytes{0x01});
  EXPECT_FALSE(h.Next(200ms).has_value());
  long in_granted = h.Granted(in), cfg_granted = h.Granted(0);
  h.Start();  // resynchronised: the open CU lives on
  EXPECT_EQ(h.Ask(0, Bytes{0x01})[0], 0x01);
  EXPECT_EQ(h.Granted(in), in_granted + 4);  // credits granted anew: in-flight grants may be lost
  EXPECT_EQ(h.Granted(0), cfg_granted + 1 + 1);
  Bytes r = h.Ask(in, Text("STILL"));
  EXPECT_EQ(std::string(r.begin(), r.end()), "OK STILL");
  json st = status(sim);
  EXPECT_EQ(st["open"].size(), 1u);
  EXPECT_EQ(st["unknown_sockets"], 1);
  EXPECT_EQ(st["bad_frames"], 1);
  EXPECT_EQ(st["redcards"], 2);
  EXPECT_EQ(st["connected"], true);
}

TEST(SimRobustness, RandomTrafficNeverStopsIt) {
  Simulator sim;
  {
    RawHost h = RawHost::Tcp(sim.DataPort());
    h.Start();
    uint16_t in = h.OpenSocket(Key("MAIN", "INSTRUCT", "IN"), kParams);
    std::mt19937 rng(1234);
    const uint8_t types[] = {0x01, 0x02, 0x04, 0x05, 0x07, 0x09, 0x0A, 0x12, 0x13, 0x14, 0x15, 0x33};
    const uint16_t sockets[] = {0, 1, 2, 0xFFFF, 0xFFFE, 0xFFFD, 16, 0x100};
    for (int i = 0; i < 3000; ++i) {
      Bytes payload(1 + rng() % 80);
      for (auto& b : payload) b = static_cast<uint8_t>(rng());
      payload[0] = types[rng() % sizeof types];
      uint16_t s = i % 7 == 0 ? in : sockets[rng() % (sizeof sockets / sizeof sockets[0])];
      if (i % 500 == 499)
        h.SendBytes(Bytes{0x00, 0x01, 0x02});  // a broken length now and then
      else if (i % 300 == 0)
        h.RedCard();
      else
        h.Send(s, payload);
    }
    EXPECT_TRUE(h.Finish());
  }
  RawHost h = RawHost::Tcp(sim.DataPort());  // the next host finds a working instrument
  h.Start();
  EXPECT_EQ(h.Ask(0, Bytes{0x01})[0], 0x01);
  json st = status(sim);
  EXPECT_GT(st["frames_in"], 500);
  EXPECT_GE(st["goodbyes"], 1);
  EXPECT_GE(st["bad_frames"], 1);
}

TEST(SimConsole, GreetingSettingsRejectionAndQuit) {
  Simulator sim;
  Console c(sim.TelnetPort());
  ASSERT_TRUE(c.connected());
  EXPECT_NE(c.until_prompt().find("Zent Portlink"), std::string::npos);
  c.send("\n\n");
  EXPECT_EQ(c.until_prompt(), "> ");
  c.send("write-mode: eoi_push\n");
  EXPECT_EQ(c.until_prompt(), "> ");
  c.send("quit\n");
  EXPECT_TRUE(c.closed());
  auto lines = status(sim)["console_lines"];
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "quit");

  Simulator other(R"({"greeting": "Generic card\r\n> ", "reject_setting": "buffer-packing: off"})");
  Console d(other.TelnetPort());
  EXPECT_EQ(d.until_prompt().find("Zent Portlink"), std::string::npos);
  d.send("buffer-packing: off\n");
  std::string r = d.until_prompt();
  EXPECT_NE(r, "> ");
  EXPECT_EQ(r.substr(r.size() - 2), "> ");
}

TEST(SimConsole, NoTelnetReportsPortZero) {
  Simulator sim("", {"--no-telnet"});
  EXPECT_EQ(sim.TelnetPort(), 0);
  RawHost h = RawHost::Tcp(sim.DataPort());
  EXPECT_EQ(h.RedCard().size(), 6u);
}

TEST(SimSerial, PtyCarriesTheSameProtocol) {
  Simulator sim("", {"--serial", "--no-telnet"});
  ASSERT_EQ(sim.Pty().rfind("/dev/pts/", 0), 0u);
  EXPECT_EQ(sim.DataPort(), 0);
  {
    RawHost h = RawHost::Serial(sim.Pty());
    h.Start();
    auto l1 = WalkModules(h, 1);
    ASSERT_FALSE(l1.empty());
    EXPECT_EQ(Texts(l1[0], 1)[0], "MAIN-1");
    uint16_t in = h.OpenSocket(Key("MAIN", "INSTRUCT", "IN"), kParams);
    h.Grant(in, 10);
    Bytes r = h.Ask(in, Text("HELLO"));
    EXPECT_EQ(std::string(r.begin(), r.end()), "OK HELLO");
    h.Send(0, Bytes{0x07});
    h.Send(0, Bytes{0x01});  // after the goodbye nothing is answered until a new red card
    EXPECT_FALSE(h.Next(200ms).has_value());
  }
  RawHost again = RawHost::Serial(sim.Pty());
  again.Start();
  EXPECT_EQ(again.Ask(0, Bytes{0x01})[0], 0x01);
  json st = status(sim);
  EXPECT_EQ(st["goodbyes"], 1);
  EXPECT_EQ(st["connections"], 2);
}

TEST(SimControl, EveryLineGetsOneReplyAndErrorsAreClear) {
  Simulator sim;
  // Lines that change nothing, each with its one reply.
  const std::pair<std::string, std::string> kRefused[] = {
      {"frobnicate", "error: unknown command \"frobnicate\""},
      {"   ", "error: empty command"},
      {"grant 1 IN", "error: usage: grant MODULE CU N (N 1..1000000)"},
      {"refuse-open maybe", "error: usage: refuse-open on|off"},
      {"remove-module 99", "error: no module \"99\""},
      {"event 1 IN 5", "error: CU MAIN-1/IN is not open"},
      {"config-event 5", "error: not connected"},
      {std::string(5000, 'x'), "error: command line too long"},
  };
  for (const auto& [line, reply] : kRefused) {
    SCOPED_TRACE(line.substr(0, 40));
    EXPECT_EQ(sim.Command(line), reply);
  }
  EXPECT_EQ(sim.Command("stream 1 IN 1 5000").rfind("error: usage", 0), 0u);
  EXPECT_EQ(sim.Command("remove-module temp-s2"), "ok");  // also without a connection
  EXPECT_EQ(status(sim)["modules"].size(), 4u);
  EXPECT_EQ(sim.Command("status").rfind("ok {", 0), 0u);
}

TEST(SimControl, StandardInputTakesTheSameCommandsAndQuitEnds) {
  Simulator sim;
  EXPECT_EQ(sim.InputCommand("refuse-open on"), "ok");
  EXPECT_EQ(status(sim)["refuse_open"], true);  // one state behind both channels
  EXPECT_EQ(sim.InputCommand("bogus"), "error: unknown command \"bogus\"");
  EXPECT_EQ(sim.InputCommand("quit"), "ok");
  EXPECT_EQ(sim.WaitExit(5000ms), 0);
}

TEST(SimControl, PortsFileHoldsTheReportedPorts) {
  TempDir dir;
  std::string path = dir.File("sim.ports");
  Simulator sim("", {"--ports-file", path});
  EXPECT_EQ(ReadFile(path), "telnet-port " + std::to_string(sim.TelnetPort()) + "\ndata-port " +
                                std::to_string(sim.DataPort()) + "\ncontrol-port " + std::to_string(sim.ControlPort()) +
                                "\n");
}

// Harnesses rely on it: the simulator must not outlive the test process that feeds its standard input.
TEST(SimCommandLine, QuitOnEofEndsWithTheStandardInput) {
  auto [rc, err] = RunFailing({"--quiet", "--quit-on-eof"}, "");  // standard input is /dev/null
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(err, "");
}

TEST(SimConfigFile, BadFilesGiveAClearMessageAndExitCode2) {
  auto [rc, err] = RunFailing({}, "{ \"modules\": [ ");
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("not valid JSON"), std::string::npos);
  std::tie(rc, err) = RunFailing({}, R"({"keepalive": 5})");
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("unknown key \"keepalive\""), std::string::npos);
  std::tie(rc, err) = RunFailing({"--config", "/nonexistent/sim.json"}, "");
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("cannot read"), std::string::npos);
  std::tie(rc, err) = RunFailing({"--data-port", "70000"}, "");
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("--data-port"), std::string::npos);
}

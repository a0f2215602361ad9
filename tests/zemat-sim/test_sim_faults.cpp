// The simulator program's faults, console, serial mode, control channels, bad configurations and
// its robustness against a misbehaving host.
#include "SimHarness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <random>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace simtest;
using nlohmann::json;

namespace {

const Bytes kParams{4, 0, 128, 4, 0, 128};

json status(SimProcess& sim) { return json::parse(sim.status()); }

// A plain TCP line client for the console.
class Console {
 public:
  explicit Console(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Console() { ::close(fd_); }
  bool connected() const { return connected_; }
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
  bool connected_ = false;
};

}  // namespace

TEST(SimFaults, GarbageOversizedAndShortFramesGoOutAsSaid) {
  SimProcess sim;
  RawHost h = RawHost::tcp(sim.data_port);
  h.start();
  EXPECT_EQ(sim.command("fault garbage 7"), "ok");
  Bytes g = h.read_raw(7);
  ASSERT_EQ(g.size(), 7u);
  EXPECT_GT(u16(g.data()), 4500);  // cannot be read as a frame
  EXPECT_EQ(sim.command("fault oversized"), "ok");
  Bytes big = h.read_raw(4600);
  ASSERT_EQ(big.size(), 4600u);
  EXPECT_EQ(u16(big.data()), 4600);
  EXPECT_EQ(sim.command("fault short"), "ok");
  EXPECT_EQ(h.read_raw(2), (Bytes{0x00, 0x02}));
  // The simulator itself goes on: a request still gets its answer.
  EXPECT_EQ(h.ask(0, Bytes{0x01})[0], 0x01);
}

TEST(SimFaults, SplitSendsTheNextReplyOneByteAtATime) {
  SimProcess sim;
  RawHost h = RawHost::tcp(sim.data_port);
  h.start();
  EXPECT_EQ(sim.command("fault split"), "ok");
  int before = h.reads;
  Bytes first = h.ask(0, Bytes{0x01});
  ASSERT_GT(first.size(), 5u);
  EXPECT_EQ(first[0], 0x01);
  EXPECT_GE(h.reads - before, 3);             // many small reads, one frame intact
  EXPECT_EQ(h.ask(0, Bytes{0x12})[0], 0x12);  // later frames go out whole again
}

TEST(SimFaults, SilenceHoldsEverythingThenDeliversIt) {
  SimProcess sim({}, R"({"keepalive_ms": 20})");
  RawHost h = RawHost::tcp(sim.data_port);
  h.start();
  EXPECT_EQ(sim.command("fault silence 400"), "ok");
  h.send(0, Bytes{0x01});
  EXPECT_FALSE(h.next_any(150ms).has_value());  // neither the reply nor keep-alives
  auto f = h.next(5000ms);
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ((*f)[4], 0x01);
}

TEST(SimFaults, DropClosesAndTheNextConnectionIsServed) {
  SimProcess sim;
  {
    RawHost h = RawHost::tcp(sim.data_port);
    h.start();
    h.sync();
    EXPECT_EQ(sim.command("fault drop"), "ok");
    EXPECT_TRUE(h.closed_by_peer());
  }
  EXPECT_EQ(status(sim)["connected"], false);
  EXPECT_EQ(sim.command("fault short"), "error: not connected");
  RawHost h2 = RawHost::tcp(sim.data_port);
  h2.start();
  EXPECT_EQ(h2.ask(0, Bytes{0x01})[0], 0x01);
  json st = status(sim);
  EXPECT_EQ(st["connections"], 2);
  EXPECT_EQ(st["connected"], true);
}

TEST(SimRobustness, BadFramesAndUnknownSocketsAreSurvived) {
  SimProcess sim;
  RawHost h = RawHost::tcp(sim.data_port);
  h.start();
  uint16_t in = h.open_socket(key_of("MAIN", "INSTRUCT", "IN"), kParams);
  h.grant(in, 100);
  h.send(0x1234, Bytes{1, 2, 3});  // no CU on that socket
  h.send(2, Bytes{0x09, 'A'});     // malformed open: refused
  Bytes refusal = *h.next();
  EXPECT_NE(refusal[4], 0x09);
  h.send(2, Bytes{0x0A});  // close without a socket: refused
  EXPECT_NE((*h.next())[4], 0x0A);
  h.send(0, Bytes{0x77});  // unknown configuration request: no answer
  h.sync();
  h.send_bytes(Bytes{0x00, 0x01, 0xAA, 0xBB, 0xCC});  // length below 4: stream lost until a red card
  h.send(0, Bytes{0x01});
  EXPECT_FALSE(h.next(200ms).has_value());
  long in_granted = h.granted[in], cfg_granted = h.granted[0];
  h.start();  // resynchronised: the open CU lives on
  EXPECT_EQ(h.ask(0, Bytes{0x01})[0], 0x01);
  EXPECT_EQ(h.granted[in], in_granted + 4);  // credits granted anew: in-flight grants may be lost
  EXPECT_EQ(h.granted[0], cfg_granted + 1 + 1);
  Bytes r = h.ask(in, text("STILL"));
  EXPECT_EQ(std::string(r.begin(), r.end()), "OK STILL");
  json st = status(sim);
  EXPECT_EQ(st["open"].size(), 1u);
  EXPECT_EQ(st["unknown_sockets"], 1);
  EXPECT_EQ(st["bad_frames"], 1);
  EXPECT_EQ(st["redcards"], 2);
  EXPECT_EQ(st["connected"], true);
}

TEST(SimRobustness, RandomTrafficNeverStopsIt) {
  SimProcess sim;
  {
    RawHost h = RawHost::tcp(sim.data_port);
    h.start();
    uint16_t in = h.open_socket(key_of("MAIN", "INSTRUCT", "IN"), kParams);
    std::mt19937 rng(1234);
    const uint8_t types[] = {0x01, 0x02, 0x04, 0x05, 0x07, 0x09, 0x0A, 0x12, 0x13, 0x14, 0x15, 0x33};
    const uint16_t sockets[] = {0, 1, 2, 0xFFFF, 0xFFFE, 0xFFFD, 16, 0x100};
    for (int i = 0; i < 3000; ++i) {
      Bytes payload(1 + rng() % 80);
      for (auto& b : payload) b = static_cast<uint8_t>(rng());
      payload[0] = types[rng() % sizeof types];
      uint16_t s = i % 7 == 0 ? in : sockets[rng() % (sizeof sockets / sizeof sockets[0])];
      if (i % 500 == 499)
        h.send_bytes(Bytes{0x00, 0x01, 0x02});  // a broken length now and then
      else if (i % 300 == 0)
        h.redcard();
      else
        h.send(s, payload);
    }
    EXPECT_TRUE(h.finish());
  }
  RawHost h = RawHost::tcp(sim.data_port);  // the next host finds a working instrument
  h.start();
  EXPECT_EQ(h.ask(0, Bytes{0x01})[0], 0x01);
  json st = status(sim);
  EXPECT_GT(st["frames_in"], 500);
  EXPECT_GE(st["goodbyes"], 1);
  EXPECT_GE(st["bad_frames"], 1);
}

TEST(SimConsole, GreetingSettingsRejectionAndQuit) {
  SimProcess sim;
  Console c(sim.telnet_port);
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

  SimProcess other({}, R"({"greeting": "Generic card\r\n> ", "reject_setting": "buffer-packing: off"})");
  Console d(other.telnet_port);
  EXPECT_EQ(d.until_prompt().find("Zent Portlink"), std::string::npos);
  d.send("buffer-packing: off\n");
  std::string r = d.until_prompt();
  EXPECT_NE(r, "> ");
  EXPECT_EQ(r.substr(r.size() - 2), "> ");
}

TEST(SimConsole, NoTelnetReportsPortZero) {
  SimProcess sim({"--no-telnet"});
  EXPECT_EQ(sim.telnet_port, 0);
  RawHost h = RawHost::tcp(sim.data_port);
  EXPECT_EQ(h.redcard().size(), 6u);
}

TEST(SimSerial, PtyCarriesTheSameProtocol) {
  SimProcess sim({"--serial", "--no-telnet"});
  ASSERT_EQ(sim.pty.rfind("/dev/pts/", 0), 0u);
  EXPECT_EQ(sim.data_port, 0);
  {
    RawHost h = RawHost::serial(sim.pty);
    h.start();
    auto l1 = walk_modules(h, 1);
    ASSERT_FALSE(l1.empty());
    EXPECT_EQ(texts(l1[0], 1)[0], "MAIN-1");
    uint16_t in = h.open_socket(key_of("MAIN", "INSTRUCT", "IN"), kParams);
    h.grant(in, 10);
    Bytes r = h.ask(in, text("HELLO"));
    EXPECT_EQ(std::string(r.begin(), r.end()), "OK HELLO");
    h.send(0, Bytes{0x07});
    h.send(0, Bytes{0x01});  // after the goodbye nothing is answered until a new red card
    EXPECT_FALSE(h.next(200ms).has_value());
  }
  RawHost again = RawHost::serial(sim.pty);
  again.start();
  EXPECT_EQ(again.ask(0, Bytes{0x01})[0], 0x01);
  json st = status(sim);
  EXPECT_EQ(st["goodbyes"], 1);
  EXPECT_EQ(st["connections"], 2);
}

TEST(SimControl, EveryLineGetsOneReplyAndErrorsAreClear) {
  SimProcess sim;
  EXPECT_EQ(sim.command("frobnicate"), "error: unknown command \"frobnicate\"");
  EXPECT_EQ(sim.command("   "), "error: empty command");
  EXPECT_EQ(sim.command("grant 1 IN"), "error: usage: grant MODULE CU N (N 1..1000000)");
  EXPECT_EQ(sim.command("stream 1 IN 1 5000").rfind("error: usage", 0), 0u);
  EXPECT_EQ(sim.command("refuse-open maybe"), "error: usage: refuse-open on|off");
  EXPECT_EQ(sim.command("remove-module 99"), "error: no module \"99\"");
  EXPECT_EQ(sim.command("event 1 IN 5"), "error: CU MAIN-1/IN is not open");
  EXPECT_EQ(sim.command("config-event 5"), "error: not connected");
  EXPECT_EQ(sim.command("remove-module temp-s2"), "ok");  // also without a connection
  EXPECT_EQ(status(sim)["modules"].size(), 4u);
  EXPECT_EQ(sim.command(std::string(5000, 'x')), "error: command line too long");
  EXPECT_EQ(sim.command("status").rfind("ok {", 0), 0u);
}

TEST(SimControl, StandardInputTakesTheSameCommandsAndQuitEnds) {
  SimProcess sim;
  EXPECT_EQ(sim.stdin_command("refuse-open on"), "ok");
  EXPECT_EQ(status(sim)["refuse_open"], true);  // one state behind both channels
  EXPECT_EQ(sim.stdin_command("bogus"), "error: unknown command \"bogus\"");
  EXPECT_EQ(sim.stdin_command("quit"), "ok");
  EXPECT_EQ(sim.wait_exit(5000ms), 0);
}

TEST(SimControl, PortsFileHoldsTheReportedPorts) {
  std::string path = "/tmp/zemat-sim-ports-" + std::to_string(::getpid());
  SimProcess sim({"--ports-file", path});
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "telnet-port " + std::to_string(sim.telnet_port) + "\ndata-port " +
                            std::to_string(sim.data_port) + "\ncontrol-port " + std::to_string(sim.control_port) +
                            "\n");
  ::unlink(path.c_str());
}

// Harnesses rely on it: the simulator must not outlive the test process that feeds its standard input.
TEST(SimCommandLine, QuitOnEofEndsWithTheStandardInput) {
  auto [rc, err] = run_failing({"--quiet", "--quit-on-eof"}, "");  // standard input is /dev/null
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(err, "");
}

TEST(SimConfigFile, BadFilesGiveAClearMessageAndExitCode2) {
  auto [rc, err] = run_failing({}, "{ \"modules\": [ ");
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("not valid JSON"), std::string::npos);
  std::tie(rc, err) = run_failing({}, R"({"keepalive": 5})");
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("unknown key \"keepalive\""), std::string::npos);
  std::tie(rc, err) = run_failing({"--config", "/nonexistent/sim.json"}, "");
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("cannot read"), std::string::npos);
  std::tie(rc, err) = run_failing({"--data-port", "70000"}, "");
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("--data-port"), std::string::npos);
}

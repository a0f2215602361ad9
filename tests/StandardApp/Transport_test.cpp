// Transport_test.cpp: the LAN start-up through a fake network-card console and data port on
// loopback, the telnet client on its own, and the serial transport on a pseudo-terminal.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "SessionModel.h"
#include "StandardApp/Comm.h"
#include "StandardApp/Telnetsocket.h"

namespace {
int Listen(int& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 4);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

bool Pending(int listener) {
  pollfd p{listener, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

// The network card's console: a greeting, then one reply per batch of lines; "quit" ends it.
class FakeConsole {
 public:
  FakeConsole(std::string greeting, std::string rejected = "")
      : m_greeting(std::move(greeting)), m_rejected(std::move(rejected)) {
    m_listener = Listen(port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~FakeConsole() {
    m_thread.join();
    close(m_listener);
  }
  std::string Received() {
    m_thread.join();
    m_thread = std::thread([] {});
    return m_received;
  }
  int port = 0;

 private:
  void Serve() {
    pollfd p{m_listener, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return;
    int fd = accept(m_listener, nullptr, nullptr);
    if (!m_greeting.empty()) write(fd, m_greeting.data(), m_greeting.size());
    char buf[512];
    for (;;) {
      pollfd q{fd, POLLIN, 0};
      if (poll(&q, 1, 5000) <= 0) break;
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      std::string chunk(buf, n);
      m_received += chunk;
      if (m_received.find("quit\n") != std::string::npos) break;
      std::string reply =
          !m_rejected.empty() && chunk.find(m_rejected) != std::string::npos ? "error: unknown setting\r\n> " : "> ";
      write(fd, reply.data(), reply.size());
    }
    close(fd);
  }
  std::string m_greeting, m_rejected, m_received;
  int m_listener = -1;
  std::thread m_thread;
};
}  // namespace

class ThreadedLan : public ::testing::Test {
 protected:
  CLoopDispatcher loop;
  CRecordingInstr s;
  int dataPort = 0;
  int dataListener = -1;
  std::unique_ptr<FakeInstrument> fake;
  std::thread acceptor;

  void SetUp() override {
    dataListener = Listen(dataPort);
    s.SetDispatcher(&loop);
    s.SetTimeout(3000);
  }
  void TearDown() override {
    s.Disconnect();
    if (acceptor.joinable()) acceptor.join();
    fake.reset();
    close(dataListener);
  }
  // Serves the data port with the standard conversation once a connection arrives.
  void ServeData() {
    acceptor = std::thread([this] {
      pollfd p{dataListener, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) return;
      fake = std::make_unique<FakeInstrument>(accept(dataListener, nullptr, nullptr));
      ScriptEnumeration(*fake, 0, {kAux}, {});
      fake->Expect(0, {0x07});
      fake->Start();
    });
  }
};

TEST_F(ThreadedLan, CardNamedInTheGreetingGetsItsSettings) {
  FakeConsole console("Zent Portlink PL-1 console\r\n> ");
  ServeData();
  s.SetLanPorts(console.port, dataPort);
  ASSERT_TRUE(s.Connect(0, "127.0.0.1"));
  EXPECT_EQ(console.Received(), "\n\nwrite-mode: eoi_push\nbuffer-packing: off\nquit\n");
  EXPECT_EQ(s.GetModuleCount(), 1);
  s.Disconnect();
  acceptor.join();
  EXPECT_TRUE(fake->WaitConsumed(3000));
  EXPECT_TRUE(fake->Errors().empty());
}

TEST_F(ThreadedLan, OtherCardWithoutPromptIsTakenAsReady) {
  FakeConsole console("Welcome\r\n");  // never prompts: the greeting read runs into its time-out
  ServeData();
  s.SetLanPorts(console.port, dataPort);
  ASSERT_TRUE(s.Connect(0, "localhost"));
  EXPECT_EQ(console.Received(), "quit\n");
}

TEST_F(ThreadedLan, RejectedSettingFailsTheConnection) {
  FakeConsole console("Zent Portlink\r\n> ", "write-mode");
  s.SetLanPorts(console.port, dataPort);
  EXPECT_FALSE(s.Connect(0, "127.0.0.1"));
  EXPECT_EQ(console.Received(), "\n\nwrite-mode: eoi_push\nquit\n");
  EXPECT_FALSE(Pending(dataListener));  // the data port was never tried
}

TEST_F(ThreadedLan, NoConsoleFailsTheConnection) {
  int closedPort = 0;
  close(Listen(closedPort));
  s.SetLanPorts(closedPort, dataPort);
  EXPECT_FALSE(s.Connect(0, "127.0.0.1"));
  EXPECT_FALSE(Pending(dataListener));
}

TEST_F(ThreadedLan, ClosedDataPortFailsTheConnection) {
  FakeConsole console("hello> ");
  int closedPort = 0;
  close(Listen(closedPort));
  s.SetLanPorts(console.port, closedPort);
  EXPECT_FALSE(s.Connect(0, "127.0.0.1"));
  EXPECT_EQ(console.Received(), "quit\n");
}

TEST(Telnet, SendLineLimitsAndUnconnectedUse) {
  CTelnetSocket t(1);
  EXPECT_EQ(t.SendLine("quit"), 0);  // not connected
  std::string out = "unchanged";
  EXPECT_EQ(t.ReadUntilPrompt(out, 10), 0);
  EXPECT_EQ(out, "unchanged");
  EXPECT_EQ(t.ConnectTo("no-such-host.invalid", 1), CTelnetSocket::HOST_NOT_FOUND);
}

TEST(ThreadedTelnet, LongLinesAreNotSent) {
  FakeConsole console("> ");
  CTelnetSocket t(console.port);
  ASSERT_EQ(t.ConnectTo("127.0.0.1", 3), CTelnetSocket::CONNECTED);
  std::string greeting;
  EXPECT_EQ(t.ReadUntilPrompt(greeting, 1000), 2);
  EXPECT_EQ(t.SendLine(std::string(128, 'x')), 0);
  EXPECT_EQ(t.SendLine(""), 0);
  EXPECT_EQ(t.SendLine(std::string(127, 'y')), 127);
  std::string reply;
  t.ReadUntilPrompt(reply, 1000);
  EXPECT_EQ(t.SendLine("quit"), 4);
  t.Disconnect();
  EXPECT_FALSE(t.IsConnected());
  EXPECT_EQ(console.Received(), std::string(127, 'y') + "\nquit\n");
}

namespace {
struct Pty {
  int master = -1, slave = -1;
  char name[128] = {};
  Pty() { EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0); }
  ~Pty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
};
}  // namespace

TEST(Serial, PortIsConfiguredAndCarriesBytes) {
  Pty pty;
  CComm comm;
  ASSERT_TRUE(comm.Open(pty.name, 5000, 5000));
  EXPECT_TRUE(comm.Configure("19200,n,8,1"));
  EXPECT_FALSE(comm.Configure("19200,x,8,1"));
  EXPECT_FALSE(comm.Configure("nonsense"));
  uint8_t buffer[16];
  EXPECT_EQ(comm.Read(buffer, sizeof buffer), 0);  // nothing there: returns after its short wait
  ASSERT_EQ(write(pty.master, "abc", 3), 3);
  int got = 0;
  for (int i = 0; i < 100 && got < 3; ++i) got += comm.Read(buffer + got, sizeof buffer - got);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "abc");
  EXPECT_EQ(comm.Write("xyz", 3), 3);
  char back[4] = {};
  EXPECT_EQ(read(pty.master, back, 3), 3);
  EXPECT_STREQ(back, "xyz");
  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_FALSE(comm.Open("/nonexistent/tty", 5000, 5000));
}

TEST(ThreadedSerial, SessionOverASerialLine) {
  Pty pty;
  CLoopDispatcher loop;
  CRecordingInstr s;
  s.SetDispatcher(&loop);
  s.SetSerialDevice(1, pty.name);
  FakeInstrument fake(pty.master);
  pty.master = -1;  // owned by the fake
  CZematTimings t;
  t.channelWaitMs = 3000;
  s.SetTimings(t);
  ScriptEnumeration(fake, 0, {kMain}, {kSlave});
  fake.Start();
  ASSERT_TRUE(s.Connect(1, nullptr));
  EXPECT_TRUE(s.IsSerial());
  EXPECT_EQ(s.GetModuleCount(), 2);
  CCuIO in(s.GetModule(0)->GetCuDesc(0));
  fake.Expect(2, CuRec(kIN, 0x09), {MakeFrame(2, OpenReply(kIN, 40))});
  ASSERT_EQ(in.Open(), 1);
  fake.Expect(40, {'*', 'R', 'S', 'T'}, {MakeFrame(40, {'O', 'K'})});
  ASSERT_EQ(in.Write("*RST", 4), Z_OK);
  uint8_t buffer[Z_READ_BUFFER];
  int length = sizeof buffer;
  ASSERT_EQ(in.Read(buffer, &length, 3000), Z_OK);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer) + 4, "OK");
  fake.Expect(2, {0x0A, 0x00, 40}, {MakeFrame(2, {0x0A, 0x00, 40})});
  EXPECT_EQ(in.Close(), 1);
  fake.Expect(0, {0x07});
  s.Disconnect();
  EXPECT_TRUE(fake.WaitConsumed(3000));
  for (auto& e : fake.Errors()) ADD_FAILURE() << e;
}

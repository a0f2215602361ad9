// CliHarness.cpp: spawning and reading the simulator and the client, the control connection, temp files.
#include "CliHarness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace clitest {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

void MakePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

}  // namespace

// ---- Child ----

Child::Child(const std::string& program, const std::vector<std::string>& args) {
  int in[2], out[2], err[2];
  MakePipe(in);
  MakePipe(out);
  MakePipe(err);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  m_inFd = in[1];  // held open: the simulator reads commands from standard input too
  m_outFd = out[0];
  m_errFd = err[0];
  if (rc != 0) {
    m_pid = -1;
    throw std::runtime_error("cannot start " + program);
  }
}

Child::~Child() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    Reap();
  }
  for (int fd : {m_inFd, m_outFd, m_errFd})
    if (fd >= 0) close(fd);
}

void Child::Signal(int sig) {
  if (m_pid > 0) kill(m_pid, sig);
}

bool Child::ReadSome(int waitMs) {
  pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
  int open = (m_outFd >= 0) + (m_errFd >= 0);
  if (open == 0) return false;
  if (poll(fds, 2, waitMs) <= 0) return true;
  std::string* sinks[2] = {&m_out, &m_err};
  int* fdRefs[2] = {&m_outFd, &m_errFd};
  for (int i = 0; i < 2; ++i) {
    if (*fdRefs[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buffer[4096];
    ssize_t n = read(*fdRefs[i], buffer, sizeof buffer);
    if (n > 0) {
      sinks[i]->append(buffer, static_cast<size_t>(n));
    } else {
      close(*fdRefs[i]);
      *fdRefs[i] = -1;
    }
  }
  return true;
}

bool Child::WaitFor(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (!pred(m_out)) {
    if (Clock::now() >= end || m_outFd < 0) return pred(m_out);
    ReadSome(std::min(MsLeft(end), 100));
  }
  return true;
}

bool Child::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
  return WaitFor([&text](const std::string& out) { return out.find(text) != std::string::npos; }, limit);
}

void Child::Reap() {
  int status = 0;
  if (waitpid(m_pid, &status, 0) == m_pid) m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  m_pid = -1;
}

int Child::Finish(std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while ((m_outFd >= 0 || m_errFd >= 0) && Clock::now() < end) ReadSome(std::min(MsLeft(end), 100));
  if (m_pid <= 0) return m_exit;
  if (m_outFd >= 0 || m_errFd >= 0) {  // still running at the limit
    kill(m_pid, SIGKILL);
    Reap();
    return -1;
  }
  Reap();
  return m_exit;
}

// ---- TempDir ----

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morvent-cli-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
  std::string path = m_path + "/" + name;
  std::ofstream(path) << text;
  return path;
}

// ---- Simulator ----

namespace {
int PortAfter(const std::string& text, const std::string& key) {
  auto at = text.find(key + " ");
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + key.size() + 1);
}

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot reach the simulator's control port");
  return fd;
}
}  // namespace

Simulator::Simulator(const std::string& configJson, bool serial) {
  // --quit-on-eof: a test that dies takes its simulator along instead of leaving ctest waiting on it.
  std::vector<std::string> args = {"--quiet", "--quit-on-eof"};
  if (!configJson.empty()) args = Concat(args, {"--config", m_dir.Write("sim.json", configJson)});
  if (serial) args.push_back("--serial");
  m_child = std::make_unique<Child>(ZEMAT_SIM_PATH, args);
  // The port lines are complete once the line after "control-port" has ended.
  bool ready = m_child->WaitFor(
      [](const std::string& out) {
        auto at = out.find("control-port ");
        return at != std::string::npos && out.find('\n', at) != std::string::npos;
      },
      10s);
  if (!ready) throw std::runtime_error("simulator did not start: " + m_child->Err());
  const std::string& out = m_child->Out();
  telnetPort = PortAfter(out, "telnet-port");
  dataPort = PortAfter(out, "data-port");
  controlPort = PortAfter(out, "control-port");
  if (auto at = out.find("pty "); at != std::string::npos) pty = out.substr(at + 4, out.find('\n', at) - at - 4);
  m_control = ConnectLoopback(controlPort);
}

Simulator::~Simulator() {
  if (m_control >= 0) {
    Command("quit");
    close(m_control);
  }
  m_child->Finish(5s);  // kills it should it not quit
}

std::string Simulator::Command(const std::string& line) {
  std::string text = line + "\n";
  if (send(m_control, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) return "";
  std::string reply;
  char c = 0;
  pollfd fd{m_control, POLLIN, 0};
  while (poll(&fd, 1, 5000) > 0 && recv(m_control, &c, 1, 0) == 1 && c != '\n') reply.push_back(c);
  return reply;
}

bool Simulator::WaitForStatus(const std::string& text, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (Command("status").find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

std::vector<std::string> Simulator::LinkArgs() const {
  if (!pty.empty()) return {"--link", "COM1", "--serial-device", pty};
  return {
      "--address", "127.0.0.1", "--telnet-port", std::to_string(telnetPort), "--data-port", std::to_string(dataPort)};
}

// ---- helpers ----

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::unique_ptr<Child> StartCli(const std::vector<std::string>& args) {
  return std::make_unique<Child>(MORVENT_CLI_PATH, args);
}

CliResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
  auto child = StartCli(args);
  CliResult r;
  r.exitCode = child->Finish(limit);
  r.out = child->Out();
  r.err = child->Err();
  return r;
}

int UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace clitest

// The simulator child: its command line, the port lines it prints, the control connection and the quit.
#include "support/Simulator.h"

#include "support/Net.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace support {

const char* SimulatorPath() { return ZEMAT_SIM_PATH; }

Simulator::Simulator(const std::string& configJson, const std::vector<std::string>& args) {
  std::vector<std::string> line = args;
  if (!configJson.empty()) line.insert(line.begin(), {"--config", m_dir.Write("sim.json", configJson)});
  const bool showLog = std::getenv("ZEMAT_SIM_TEST_LOG") != nullptr;
  if (!showLog) line.push_back("--quiet");
  line.push_back("--quit-on-eof");  // a test that dies takes its simulator along
  ChildOptions options;
  options.err = ChildOptions::Inherit;  // sanitizer reports show in the test's output
  m_child = std::make_unique<Child>(SimulatorPath(), line, options);
  ReadPorts();
  m_control = ConnectLoopback(m_controlPort);
  if (showLog) {
    std::string early = m_child->Out();
    m_log = std::thread([fd = m_child->TakeOutput(), early] {
      std::fputs(early.c_str(), stderr);
      char buf[4096];
      for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) std::fwrite(buf, 1, static_cast<size_t>(n), stderr);
      ::close(fd);
    });
  }
}

void Simulator::ReadPorts() {
  // The port lines come first, the control port last; a slow (sanitized) start gets a generous limit.
  std::string line;
  while (m_controlPort == 0 && m_child->ReadLine(line, 20s)) {
    auto space = line.find(' ');
    std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "telnet-port") m_telnetPort = std::atoi(value.c_str());
    if (key == "data-port") m_dataPort = std::atoi(value.c_str());
    if (key == "pty") m_pty = value;
    if (key == "control-port") m_controlPort = std::atoi(value.c_str());
  }
  if (m_controlPort == 0) throw std::runtime_error("the simulator did not report its ports");
}

Simulator::~Simulator() {
  if (m_control >= 0) {
    if (!m_ended) Command("quit");
    ::close(m_control);
  }
  int rc = m_ended ? m_exit : m_child->Finish(5s);
  if (m_log.joinable()) m_log.join();  // ends with the simulator's standard output
  if (!m_ended && rc != 0) {
    if (::testing::UnitTest::GetInstance()->current_test_info() != nullptr)
      ADD_FAILURE() << "zemat-sim did not end cleanly after quit (" << rc << ")";
    else
      std::fprintf(stderr, "zemat-sim did not end cleanly after quit (%d)\n", rc);
  }
}

std::string Simulator::Command(const std::string& line) {
  std::lock_guard<std::mutex> g(m_commandLock);
  std::string text = line + "\n";
  if (::send(m_control, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) return "";
  for (;;) {
    if (auto feed = m_pending.find('\n'); feed != std::string::npos) {
      std::string reply = m_pending.substr(0, feed);
      m_pending.erase(0, feed + 1);
      return reply;
    }
    pollfd p{m_control, POLLIN, 0};
    char buf[4096];
    ssize_t n = ::poll(&p, 1, 10000) > 0 ? ::recv(m_control, buf, sizeof buf, 0) : 0;
    if (n <= 0) return "";
    m_pending.append(buf, static_cast<size_t>(n));
  }
}

std::string Simulator::InputCommand(const std::string& line) {
  std::string reply;
  return m_child->Write(line + "\n") && m_child->ReadLine(reply, 5s) ? reply : "";
}

std::string Simulator::Status() {
  std::string r = Command("status");
  return r.rfind("ok ", 0) == 0 ? r.substr(3) : "{}";
}

bool Simulator::WaitForStatus(const std::string& text, std::chrono::milliseconds limit) {
  return WaitForStatus([&text](const std::string& status) { return status.find(text) != std::string::npos; }, limit);
}

bool Simulator::WaitForStatus(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    if (pred(Status())) return true;
    std::this_thread::sleep_for(20ms);  // the status has no change notice to wait on
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

int Simulator::WaitExit(std::chrono::milliseconds limit) {
  m_exit = m_child->Finish(limit);
  m_ended = true;
  return m_exit;
}

}  // namespace support

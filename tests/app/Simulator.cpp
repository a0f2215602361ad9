// TSimulator: the simulator as a child process: posix_spawn, the ports from its ports file, commands on
// its control port, "quit" (then a kill) at the end.
#include "Simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

TSimulator::TSimulator(const std::filesystem::path& folder, const std::string& configJson, const std::string& program) {
  const std::string ports = (folder / "sim.ports").string();
  const std::string output = (folder / "sim.out").string();
  const std::string config = (folder / "sim.json").string();
  std::vector<std::string> args{
      program,         "--telnet-port", "0",  "--data-port", "0", "--control-port", "0", "--quiet",
      "--quit-on-eof", "--ports-file",  ports};
  if (!configJson.empty()) {
    std::ofstream(config) << configJson;
    args.insert(args.end(), {"--config", config});
  }
  std::error_code ignored;
  std::filesystem::remove(ports, ignored);  // a file left by an earlier run would name dead ports
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int rc = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  m_stdin = in[1];  // kept open while we live: if this process dies, the simulator goes with it
  if (rc != 0) {
    m_pid = -1;
    return;
  }
  ReadPorts(ports);
}

bool TSimulator::ReadPorts(const std::filesystem::path& portsFile) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {  // it gave up (bad configuration, no port)
      m_pid = -1;
      return false;
    }
    std::ifstream file(portsFile);  // written whole, then renamed: present means complete
    if (file) {
      std::string key;
      int port = 0, control = 0;
      while (file >> key >> port) {
        if (key == "telnet-port")
          m_telnetPort = port;
        else if (key == "data-port")
          m_dataPort = port;
        else if (key == "control-port")
          control = port;
      }
      if (control > 0) {
        ConnectControl(control);
        return Started();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void TSimulator::ConnectControl(int port) {
  m_control = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (m_control >= 0 && ::connect(m_control, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(m_control);
    m_control = -1;
  }
}

TSimulator::~TSimulator() {
  if (m_control >= 0) Command("quit");
  if (m_pid > 0) {
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 250 && !ended; ++i) {
      ended = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ended) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
    }
  }
  if (m_control >= 0) ::close(m_control);
  if (m_stdin >= 0) ::close(m_stdin);
}

std::string TSimulator::Command(const std::string& line) {
  if (m_control < 0) return std::string();
  const std::string text = line + "\n";
  if (::send(m_control, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) return {};
  std::string reply;
  char c = 0;
  pollfd p{m_control, POLLIN, 0};
  while (::poll(&p, 1, 10000) > 0 && ::recv(m_control, &c, 1, 0) == 1 && c != '\n') reply.push_back(c);
  return reply;
}

// BenchSupport.cpp: starting the simulator, its control connection, the engine client, RSS.
#include "BenchSupport.h"

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
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace zbench {

const char* const kBenchConfig = R"({
  "keepalive_ms": 2000,
  "modules": [ { "type": "BENCH-1", "serial": "000001", "list": 1, "cus": [
    { "name": "DA", "owner": "BENCH", "description": "DATA", "out_count": 16, "out_size": 4496,
      "in_count": 4, "behaviour": "silent" },
    { "name": "EC", "owner": "BENCH", "description": "ECHO", "out_count": 4, "out_size": 4496,
      "in_count": 4, "in_size": 4496, "behaviour": "echo" } ] } ]
})";

namespace {
int PortAfter(const std::string& text, const std::string& key) {
  auto at = text.find(key + " ");
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + key.size() + 1);
}
}  // namespace

SimChild::SimChild() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zbench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_dir = pattern;
  std::string config = m_dir + "/bench.json";
  std::ofstream(config) << kBenchConfig;
  // The simulator logs into a file beside its configuration; the port lines come first.
  std::string log = m_dir + "/sim.log";
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const char* argv[] = {ZEMAT_SIM_PATH, "--config", config.c_str(), nullptr};
  int rc = posix_spawn(&m_pid, ZEMAT_SIM_PATH, &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  m_in = in[1];
  if (rc != 0) throw std::runtime_error("cannot start zemat-sim");
  std::string text;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream file(log);
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    auto at = text.find("control-port ");
    if (at != std::string::npos && text.find('\n', at) != std::string::npos) break;
    usleep(20000);
  }
  telnetPort = PortAfter(text, "telnet-port");
  dataPort = PortAfter(text, "data-port");
  controlPort = PortAfter(text, "control-port");
  if (controlPort == 0) throw std::runtime_error("zemat-sim did not report its ports");
  m_control = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(controlPort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(m_control, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot reach the control port");
}

SimChild::~SimChild() {
  Command("quit");
  int status = 0;
  for (int i = 0; i < 50 && waitpid(m_pid, &status, WNOHANG) == 0; ++i) usleep(20000);
  if (waitpid(m_pid, &status, WNOHANG) == 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
  }
  for (int fd : {m_control, m_in}) close(fd);
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

std::string SimChild::LogTail() const {
  std::ifstream file(m_dir + "/sim.log");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

std::string SimChild::Command(const std::string& line) {
  std::string text = line + "\n";
  if (send(m_control, text.data(), text.size(), MSG_NOSIGNAL) < 0) return "";
  std::string reply;
  char c = 0;
  pollfd p{m_control, POLLIN, 0};
  while (poll(&p, 1, 10000) > 0 && recv(m_control, &c, 1, 0) == 1 && c != '\n') reply.push_back(c);
  return reply;
}

EngineClient::EngineClient(SimChild& sim, const char* cuName) {
  m_instr.SetLanPorts(sim.telnetPort, sim.dataPort);
  if (!m_instr.Connect(0, "127.0.0.1")) throw std::runtime_error("engine: connection failed");
  OpenCu(cuName);
}

EngineClient::EngineClient(int fd, const char* cuName) {
  if (!m_instr.ConnectStream(fd)) throw std::runtime_error("engine: session start failed");
  OpenCu(cuName);
}

void EngineClient::OpenCu(const char* cuName) {
  std::shared_ptr<CModule> module = m_instr.GetModule(0);
  std::shared_ptr<CCuDesc> desc;
  for (int c = 0; module && c < module->GetCuDescCount(); ++c)
    if (std::string(module->GetCuDesc(c)->GetCuName()) == cuName) desc = module->GetCuDesc(c);
  m_channel = std::make_unique<CBaseCuIO>();
  if (!desc || m_channel->OpenOn(desc) != 1) throw std::runtime_error("engine: cannot open the CU");
}

EngineClient::~EngineClient() {
  m_channel->Close();
  m_channel.reset();
  m_instr.Disconnect();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long ResidentKiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

}  // namespace zbench

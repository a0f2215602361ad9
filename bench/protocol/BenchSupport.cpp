// BenchSupport.cpp: the benchmark instrument, the in-process instrument's conversation, the engine client,
// RSS.
#include "BenchSupport.h"

#include "support/Net.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <tuple>

namespace zbench {

const char* const kBenchConfig = R"({
  "keepalive_ms": 2000,
  "modules": [ { "type": "BENCH-1", "serial": "000001", "list": 1, "cus": [
    { "name": "DA", "owner": "BENCH", "description": "DATA", "out_count": 16, "out_size": 4496,
      "in_count": 4, "behaviour": "silent" },
    { "name": "EC", "owner": "BENCH", "description": "ECHO", "out_count": 4, "out_size": 4496,
      "in_count": 4, "in_size": 4496, "behaviour": "echo" } ] } ]
})";

const support::CuModel kDataCu{"BENCH", "DATA", "DA", 16, 4496, 4, 128};
const support::CuModel kEchoCu{"BENCH", "ECHO", "EC", 4, 4496, 4, 4496};

namespace {
constexpr long kCfg = 0, kOpen = 2, kDataSocket = 16;
}  // namespace

LocalInstrument::LocalInstrument(Host host, const support::CuModel& cu) {
  int farEnd = -1;
  std::tie(m_hostFd, farEnd) = support::LoopbackPair();
  m_fake = std::make_unique<support::FakeInstrument>(farEnd);
  const support::Bytes close = support::Join({{0x0A}, support::U16(kDataSocket)});
  if (host == Host::Engine) support::ScriptEnumeration(*m_fake, kCfg, {support::ModModel{kModule, "000001", {cu}}}, {});
  m_fake->Expect(kOpen, support::CuRec(cu, 0x09), {support::MakeFrame(kOpen, support::OpenReply(cu, kDataSocket))});
  if (cu.name == kEchoCu.name) m_fake->Echo(kDataSocket);
  if (host == Host::Engine) {
    m_fake->Expect(kOpen, close, {support::MakeFrame(kOpen, close)});
    m_fake->Expect(kCfg, {0x07});
  }
  m_fake->Start();
}

void LocalInstrument::Arm(long count, int size) { m_fake->Stream(kDataSocket, count, size); }

EngineClient::EngineClient(support::Simulator& sim, const char* cuName) {
  m_instr.SetLanPorts(sim.TelnetPort(), sim.DataPort());
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

// BenchSupport.h: what the protocol benchmarks share: the benchmark instrument (as the simulator plays it
// and in-process), an engine session connected to it, timing and the resident-memory reading.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "StandardApp/Cu.h"
#include "StandardApp/Zematcore.h"
#include "support/FakeInstrument.h"
#include "support/InstrumentModel.h"
#include "support/Simulator.h"

namespace zbench {

// The benchmark instrument: "BENCH-1" with a stream CU "DA" and an echo CU "EC".
extern const char* const kBenchConfig;
inline constexpr const char* kModule = "BENCH-1";
extern const support::CuModel kDataCu, kEchoCu;

// One CU of the benchmark instrument in this process, on one end of a loopback TCP connection: it answers
// the conversation of an engine session (enumeration, open, close, goodbye) or of the plain client (the
// open alone). On "DA" it then streams frames as fast as the host's read credits allow (stream throughput
// above the simulator's own sending rate); on "EC" it echoes every frame (round trips without the
// simulator's own latency).
class LocalInstrument {
 public:
  enum class Host { Engine, Plain };
  explicit LocalInstrument(Host host, const support::CuModel& cu = kDataCu);
  // The host's end of the connection; its user takes it over.
  int HostFd() const { return m_hostFd; }
  // The next count messages of size payload bytes go out on the CU as credits come.
  void Arm(long count, int size);

 private:
  int m_hostFd = -1;
  std::unique_ptr<support::FakeInstrument> m_fake;
};

// An engine session on the instrument with one CU opened through a CBaseCuIO.
class EngineClient {
 public:
  EngineClient(support::Simulator& sim, const char* cuName);
  // Runs the session over an already connected stream (the in-process instrument); owns fd.
  EngineClient(int fd, const char* cuName);
  ~EngineClient();
  CBaseCuIO& Channel() { return *m_channel; }

 private:
  void OpenCu(const char* cuName);
  CZematInstr m_instr;
  std::unique_ptr<CBaseCuIO> m_channel;
};

double SecondsSince(std::chrono::steady_clock::time_point start);
// VmRSS of this process in KiB.
long ResidentKiB();

}  // namespace zbench

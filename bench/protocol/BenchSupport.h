// BenchSupport.h: what the protocol benchmarks share: a zemat-sim child on free ports with its control
// connection, an engine session connected to it, timing and the resident-memory reading.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "StandardApp/Cu.h"
#include "StandardApp/Zematcore.h"

namespace zbench {

// The benchmark instrument: "BENCH-1" with a stream CU "DA" and an echo CU "EC".
extern const char* const kBenchConfig;
inline constexpr const char* kModule = "BENCH-1";

class SimChild {
 public:
  SimChild();
  ~SimChild();
  SimChild(const SimChild&) = delete;
  SimChild& operator=(const SimChild&) = delete;
  std::string Command(const std::string& line);
  // The end of the simulator's log, for a failure report.
  std::string LogTail() const;
  int telnetPort = 0, dataPort = 0, controlPort = 0;

 private:
  std::string m_dir;
  int m_pid = -1;
  int m_in = -1;
  int m_control = -1;
};

// An engine session on the simulator with one CU opened through a CBaseCuIO.
class EngineClient {
 public:
  EngineClient(SimChild& sim, const char* cuName);
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

// bench_simstream: how fast the simulator streams one CU to a plain socket reader that only cuts frames
// (and grants read credits as the engine does). The baseline is the same reader fed by a sender thread in
// this process writing pre-built frames to a loopback socket: the ratio says how close the simulator
// comes to what the socket itself carries.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "BenchSupport.h"
#include "RawZemat.h"

using namespace zbench;

namespace {

double MegabytesPerSecond(long payloadBytes, std::chrono::steady_clock::time_point start) {
  return payloadBytes / SecondsSince(start) / 1e6;
}

double SimulatorRound(support::Simulator& sim, long count, int size) {
  RawZemat reader(sim.DataPort(), kDataCu);
  auto start = std::chrono::steady_clock::now();
  const std::string command =
      "stream " + std::string(kModule) + " DA " + std::to_string(count) + " " + std::to_string(size);
  if (sim.Command(command).rfind("ok", 0) != 0) throw std::runtime_error("stream refused");
  return MegabytesPerSecond(reader.ReadFrames(count), start);
}

double InProcessRound(long count, int size) {
  LocalInstrument sender(LocalInstrument::Host::Plain);
  RawZemat reader(RawZemat::Adopt{sender.HostFd()}, kDataCu);
  auto start = std::chrono::steady_clock::now();
  sender.Arm(count, size);
  return MegabytesPerSecond(reader.ReadFrames(count), start);
}

// Best of three rounds each, alternating, so that both see the same load on a shared machine.
void Compare(support::Simulator& sim, const char* label, long count, int size, double& simulator) {
  double baseline = 0;
  simulator = 0;
  for (int round = 0; round < 3; ++round) {
    simulator = std::max(simulator, SimulatorRound(sim, count, size));
    baseline = std::max(baseline, InProcessRound(count, size));
  }
  std::printf("%-18s simulator %8.1f MB/s | baseline in-process sender %8.1f MB/s | ratio %.2f\n", label, simulator,
              baseline, simulator / baseline);
}

}  // namespace

int main(int argc, char** argv) {
  // An optional factor scales the frame counts (quick runs: 0.1).
  double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  if (scale <= 0) scale = 1.0;
  try {
    support::Simulator sim(kBenchConfig);
    std::printf("simulator stream throughput vs an in-process sender, same plain reader (best of 3 rounds each)\n");
    double big = 0, small = 0;
    Compare(sim, "4500-byte frames", static_cast<long>(100000 * scale), 4496, big);
    Compare(sim, "64-byte payloads", static_cast<long>(1000000 * scale), 64, small);
    std::printf("target: 4500-byte frames >= 1000 MB/s from the simulator: %s\n", big >= 1000 ? "met" : "NOT met");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_simstream: %s\n", e.what());
    return 1;
  }
  return 0;
}

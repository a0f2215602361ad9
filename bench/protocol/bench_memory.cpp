// bench_memory: resident memory of the engine while it reads a long stream (millions of frames of 64
// bytes from the simulator, or with "local" 4500-byte frames from the in-process instrument as fast as
// they come) on one channel: RSS after a warm-up and at the end, and the growth per frame.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"

using namespace zbench;

namespace {
// Reads total frames, noting RSS once warmUp frames are in; returns that RSS.
long ReadStream(EngineClient& client, long total, long warmUp) {
  std::vector<uint8_t> buffer(Z_READ_BUFFER);
  long warmRss = 0;
  for (long got = 0; got < total; ++got) {
    int length = Z_READ_BUFFER;
    if (client.Channel().Read(buffer.data(), &length, 5000) != Z_OK) throw std::runtime_error("stream stalled");
    if (got + 1 == warmUp) warmRss = ResidentKiB();
  }
  return warmRss;
}

int Local(long total) {
  const long warmUp = total / 10;
  LocalInstrument instrument(LocalInstrument::Host::Engine);
  EngineClient client(instrument.HostFd(), "DA");
  instrument.Arm(total, 4496);
  auto start = std::chrono::steady_clock::now();
  const long warmRss = ReadStream(client, total, warmUp);
  const double seconds = SecondsSince(start);
  const long endRss = ResidentKiB();
  std::printf("memory over a stream of %ld frames (4500-byte frames, in-process instrument, %.1f s)\n", total, seconds);
  std::printf("RSS after %ld frames (warm-up): %ld KiB | at the end: %ld KiB | growth %+ld KiB, %.4f bytes/frame\n",
              warmUp, warmRss, endRss, endRss - warmRss,
              (endRss - warmRss) * 1024.0 / static_cast<double>(total - warmUp));
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  const bool local = argc > 1 && std::string(argv[1]) == "local";
  if (local) --argc, ++argv;
  long total = argc > 1 ? std::atol(argv[1]) : 3000000;
  if (total < 20000) total = 20000;
  long warmUp = total / 10;
  try {
    if (local) return Local(total);
    support::Simulator sim(kBenchConfig);
    EngineClient client(sim, "DA");
    std::string command = "stream " + std::string(kModule) + " DA " + std::to_string(total) + " 64";
    if (sim.Command(command).rfind("ok", 0) != 0) throw std::runtime_error("stream refused");
    auto start = std::chrono::steady_clock::now();
    const long warmRss = ReadStream(client, total, warmUp);
    double seconds = SecondsSince(start);
    long endRss = ResidentKiB();
    double perFrame = (endRss - warmRss) * 1024.0 / static_cast<double>(total - warmUp);
    std::printf("memory over a stream of %ld frames (64-byte payloads, %.1f s)\n", total, seconds);
    std::printf("RSS after %ld frames (warm-up): %ld KiB | at the end: %ld KiB | growth %+ld KiB, %.4f bytes/frame\n",
                warmUp, warmRss, endRss, endRss - warmRss, perFrame);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_memory: %s\n", e.what());
    return 1;
  }
  return 0;
}

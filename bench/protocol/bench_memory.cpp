// bench_memory: resident memory of the engine while it reads a long stream (millions of frames of 64
// bytes) on one channel: RSS after a warm-up and at the end, and the growth per frame.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchSupport.h"

using namespace zbench;

int main(int argc, char** argv) {
  long total = argc > 1 ? std::atol(argv[1]) : 3000000;
  if (total < 20000) total = 20000;
  long warmUp = total / 10;
  try {
    support::Simulator sim(kBenchConfig);
    EngineClient client(sim, "DA");
    std::vector<uint8_t> buffer(Z_READ_BUFFER);
    std::string command = "stream " + std::string(kModule) + " DA " + std::to_string(total) + " 64";
    if (sim.Command(command).rfind("ok", 0) != 0) throw std::runtime_error("stream refused");
    long warmRss = 0;
    auto start = std::chrono::steady_clock::now();
    for (long got = 0; got < total; ++got) {
      int length = Z_READ_BUFFER;
      if (client.Channel().Read(buffer.data(), &length, 5000) != Z_OK) throw std::runtime_error("stream stalled");
      if (got + 1 == warmUp) warmRss = ResidentKiB();
    }
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

// bench_stream: frames streamed by the simulator on one CU, read by the engine's channel (a loop on
// Read) and, as the baseline, by a plain socket reader that only cuts frames; best of three rounds each.
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "RawZemat.h"

using namespace zbench;

namespace {

struct Rate {
  double framesPerSecond = 0, megabytesPerSecond = 0;
};

Rate Measure(long frames, long payloadBytes, double seconds) {
  return {frames / seconds, payloadBytes / seconds / 1e6};
}

std::string StreamCommand(long count, int size) {
  return "stream " + std::string(kModule) + " DA " + std::to_string(count) + " " + std::to_string(size);
}

Rate EngineRound(support::Simulator& sim, long count, int size) {
  EngineClient client(sim, "DA");
  std::vector<uint8_t> buffer(Z_READ_BUFFER);
  long bytes = 0;
  auto start = std::chrono::steady_clock::now();
  if (sim.Command(StreamCommand(count, size)).rfind("ok", 0) != 0) throw std::runtime_error("stream refused");
  for (long got = 0; got < count; ++got) {
    int length = Z_READ_BUFFER;
    if (client.Channel().Read(buffer.data(), &length, 5000) != Z_OK) throw std::runtime_error("engine: stream stalled");
    bytes += length - 1 - Z_HEADER_LEN;
  }
  return Measure(count, bytes, SecondsSince(start));
}

Rate RawRound(support::Simulator& sim, long count, int size) {
  RawZemat raw(sim.DataPort(), kDataCu);
  auto start = std::chrono::steady_clock::now();
  if (sim.Command(StreamCommand(count, size)).rfind("ok", 0) != 0) throw std::runtime_error("stream refused");
  long bytes = raw.ReadFrames(count);
  return Measure(count, bytes, SecondsSince(start));
}

Rate EngineLocalRound(long count, int size) {
  LocalInstrument instrument(LocalInstrument::Host::Engine);
  EngineClient client(instrument.HostFd(), "DA");
  std::vector<uint8_t> buffer(Z_READ_BUFFER);
  long bytes = 0;
  auto start = std::chrono::steady_clock::now();
  instrument.Arm(count, size);
  for (long got = 0; got < count; ++got) {
    int length = Z_READ_BUFFER;
    if (client.Channel().Read(buffer.data(), &length, 5000) != Z_OK) throw std::runtime_error("engine: stream stalled");
    bytes += length - 1 - Z_HEADER_LEN;
  }
  return Measure(count, bytes, SecondsSince(start));
}

Rate RawLocalRound(long count, int size) {
  LocalInstrument instrument(LocalInstrument::Host::Plain);
  RawZemat raw(RawZemat::Adopt{instrument.HostFd()}, kDataCu);
  auto start = std::chrono::steady_clock::now();
  instrument.Arm(count, size);
  long bytes = raw.ReadFrames(count);
  return Measure(count, bytes, SecondsSince(start));
}

template <class EngineFn, class RawFn>
void Compare(const char* label, EngineFn engineRound, RawFn rawRound) {
  Rate engine, raw;
  for (int round = 0; round < 3; ++round) {
    Rate e = engineRound();
    Rate r = rawRound();
    if (e.framesPerSecond > engine.framesPerSecond) engine = e;
    if (r.framesPerSecond > raw.framesPerSecond) raw = r;
  }
  std::printf("%-26s engine %10.0f frames/s %8.1f MB/s | baseline %10.0f frames/s %8.1f MB/s | ratio %.2f\n", label,
              engine.framesPerSecond, engine.megabytesPerSecond, raw.framesPerSecond, raw.megabytesPerSecond,
              engine.framesPerSecond / raw.framesPerSecond);
}

}  // namespace

int main(int argc, char** argv) {
  // An optional factor scales the frame counts (quick runs: 0.1); "profile" runs only the engine
  // against the in-process instrument (4500-byte frames, or the payload size given after it), for perf;
  // "profile-plain" does the same for the plain socket reader.
  if (argc > 1 && (std::string(argv[1]) == "profile" || std::string(argv[1]) == "profile-plain")) {
    const bool plain = std::string(argv[1]) == "profile-plain";
    const int payload = argc > 2 ? std::atoi(argv[2]) : 4496;
    const long count = payload > 1000 ? 200000 : 4000000;
    Rate e = plain ? RawLocalRound(count, payload) : EngineLocalRound(count, payload);
    std::printf("%s, in-process instrument: %.0f frames/s %.1f MB/s\n", plain ? "plain reader" : "engine",
                e.framesPerSecond, e.megabytesPerSecond);
    return 0;
  }
  double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  if (scale <= 0) scale = 1.0;
  try {
    support::Simulator sim(kBenchConfig);
    long big = static_cast<long>(40000 * scale), small = static_cast<long>(400000 * scale);
    std::printf("stream throughput, engine channel vs plain socket reader (best of 3 rounds each)\n");
    std::printf("sender: zemat-sim\n");
    Compare(
        "4500-byte frames", [&] { return EngineRound(sim, big, 4496); }, [&] { return RawRound(sim, big, 4496); });
    Compare(
        "64-byte payloads", [&] { return EngineRound(sim, small, 64); }, [&] { return RawRound(sim, small, 64); });
    std::printf("sender: in-process instrument (pre-built frames, not limited by the simulator)\n");
    Compare(
        "4500-byte frames", [&] { return EngineLocalRound(4 * big, 4496); },
        [&] { return RawLocalRound(4 * big, 4496); });
    Compare(
        "64-byte payloads", [&] { return EngineLocalRound(small, 64); }, [&] { return RawLocalRound(small, 64); });
    std::printf("target (in-process sender): 4500-byte frames ratio >= 0.30, 64-byte payloads ratio >= 0.60\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_stream: %s\n", e.what());
    return 1;
  }
  return 0;
}

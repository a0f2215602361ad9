// bench_firmware: a 20 MB firmware image to the simulator's module loader through the firmware protocol
// (handshake, file read, 1000-byte chunks, progress posts, status polling beside it) against a bare channel
// writing the same 1000-byte frames on the same "LD" CU; rounds alternate, the best of each counts. Also
// the resident memory before, halfway through and after the transfer.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "StandardApp/Firmware.h"
#include "StandardApp/Mainthread.h"
#include "support/TempDir.h"

using namespace zbench;

namespace {

const char* const kLoaderConfig = R"({"keepalive_ms": 2000, "modules": [
  {"type": "FW-1", "serial": "1", "cus": [ {"name": "IN"},
     {"name": "LD", "in_count": 4, "in_size": 1000, "loader": {"erase_ms": 0, "end_idle_ms": 50, "verify_ms": 0}} ]}
]})";

std::shared_ptr<CCuDesc> FindCu(CZematInstr& z, const char* name) {
  std::shared_ptr<CModule> module = z.GetModule(0);
  for (int c = 0; module && c < module->GetCuDescCount(); ++c)
    if (std::string(module->GetCuDesc(c)->GetCuName()) == name) return module->GetCuDesc(c);
  return nullptr;
}

long SimLoaderBytes(support::Simulator& sim) {
  std::string reply = sim.Command("loader FW-1");
  size_t at = reply.find("\"bytes\":");
  return at == std::string::npos ? -1 : std::atol(reply.c_str() + at + 8);
}

// The bare channel: the image's frames written one after the other.
double BareRun(CZematInstr& z, const std::string& image) {
  CBaseCuIO channel;
  if (channel.OpenOn(FindCu(z, "LD")) != 1) throw std::runtime_error("cannot open LD");
  auto start = std::chrono::steady_clock::now();
  for (size_t at = 0; at < image.size(); at += kFirmwareChunk) {
    int n = static_cast<int>(std::min<size_t>(kFirmwareChunk, image.size() - at));
    if (channel.Write(image.data() + at, n) != Z_OK) throw std::runtime_error("bare write failed");
  }
  double seconds = SecondsSince(start);
  channel.Close();
  return seconds;
}

struct TFirmwareRun {
  double seconds = 0;
  long rssBefore = 0, rssHalf = 0, rssAfter = 0;
};

TFirmwareRun FirmwareRun(CZematInstr& z, CLoopDispatcher& loop, const std::string& path, uint32_t size) {
  auto ld = std::make_shared<CFirmwareCuIO>(), in = std::make_shared<CFirmwareCuIO>();
  if (OpenFirmwareChannels(FindCu(z, "LD"), *ld, *in) != 0) throw std::runtime_error("cannot open LD and IN");
  auto lock = std::make_shared<std::mutex>();
  TFirmwareRun run;
  int result = -1;
  {
    TFirmwareStatusThread status(in, lock, loop, [](int, int) {});
    run.rssBefore = ResidentKiB();
    auto start = std::chrono::steady_clock::now();
    TFirmwareCuThread download(
        in, ld, lock, CFirmwareFile::Open(path), loop,
        [&](uint32_t sent) {
          if (run.rssHalf == 0 && sent >= size / 2) run.rssHalf = ResidentKiB();
        },
        [&](int r) { result = r; });
    loop.RunUntil([&] { return result >= 0; }, 600000);
    run.seconds = SecondsSince(start);
    run.rssAfter = ResidentKiB();
  }
  ld->Close();
  in->Close();
  if (result != kFirmwareFinished) throw std::runtime_error("firmware download ended with " + std::to_string(result));
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::max(1L, std::atol(argv[1])) : 20;
  const int rounds = 3;
  try {
    support::TempDir dir("bench-firmware");
    std::string image(static_cast<size_t>(megabytes) * 1000 * 1000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 2654435761u) >> 24);
    const std::string path = dir.File("image.dlb");
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));

    support::Simulator sim(kLoaderConfig);
    CLoopDispatcher loop;
    CZematInstr z;
    z.SetDispatcher(&loop);
    z.SetLanPorts(sim.TelnetPort(), sim.DataPort());
    if (!z.Connect(0, "127.0.0.1")) throw std::runtime_error("connection failed");

    double bestBare = 1e30, bestFirmware = 1e30;
    TFirmwareRun last;
    for (int r = 0; r < rounds; ++r) {
      bestBare = std::min(bestBare, BareRun(z, image));
      last = FirmwareRun(z, loop, path, static_cast<uint32_t>(image.size()));
      bestFirmware = std::min(bestFirmware, last.seconds);
      if (SimLoaderBytes(sim) != static_cast<long>(image.size())) throw std::runtime_error("image incomplete");
    }
    z.Disconnect();

    const double mb = static_cast<double>(image.size()) / 1e6;
    std::printf("firmware download of %.0f MB in 1000-byte frames to the simulator's LD CU (best of %d)\n", mb, rounds);
    std::printf("bare channel writes : %7.3f s  %7.2f MB/s  (baseline)\n", bestBare, mb / bestBare);
    std::printf("firmware protocol   : %7.3f s  %7.2f MB/s\n", bestFirmware, mb / bestFirmware);
    std::printf("ratio firmware/bare throughput: %.3f (target >= 0.8)\n", bestBare / bestFirmware);
    std::printf("RSS last firmware round: before %ld KiB | halfway %ld KiB | after %ld KiB | growth %+ld KiB\n",
                last.rssBefore, last.rssHalf, last.rssAfter, last.rssAfter - last.rssBefore);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_firmware: %s\n", e.what());
    return 1;
  }
  return 0;
}

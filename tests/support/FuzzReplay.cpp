// The replay main of the fuzz targets in builds without libFuzzer: runs LLVMFuzzerTestOneInput once on
// every file of the folders (or files) named on the command line, so that the test run checks every
// seed and every past crash input without fuzzing. Names starting with "." are skipped.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {
bool Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of its own, so that a read past the input stands out under the sanitizers.
  std::vector<uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    fs::path arg(argv[i]);
    if (!fs::is_directory(arg, ec)) {
      ok = Replay(arg) && ok;
      ++replayed;
      continue;
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(arg, ec))
      if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path());
    if (ec) {
      std::fprintf(stderr, "cannot list %s: %s\n", argv[i], ec.message().c_str());
      ok = false;
    }
    std::sort(files.begin(), files.end());  // the same order on every run
    for (const auto& f : files) {
      std::printf("%s\n", f.c_str());
      std::fflush(stdout);  // names the input should it crash
      ok = Replay(f) && ok;
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  if (replayed == 0) std::fprintf(stderr, "no inputs: check the folders named\n");
  return ok && replayed > 0 ? 0 : 1;
}

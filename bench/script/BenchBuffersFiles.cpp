// bench_buffers_files: TMemory access from a script next to the interpreter's own list access, and a
// 100 MB file read and copied through TFile (by lines, in 64 KB TMemory blocks) next to cat.
#include "scriptlib/Bytearray.h"
#include "scriptlib/Cmdfile.h"
#include "scriptlib/LibObjects.h"
#include "scriptlib/ScriptLibrary.h"

#include "script/DynaVars.h"
#include "script/HalComp.h"
#include "script/Halinit.h"

#include "support/Child.h"
#include "support/TempDir.h"

#include <sys/stat.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct TTimed {
  double seconds = 1e9;
  std::string result;
};

// Compiles once, then runs `runs` times; the best run counts.
TTimed RunScript(const std::string& source, int runs, double (*clock)()) {
  THalRuner runner(source, nullptr);
  TStopFlag stop{'R'};
  runner.SetCompileOnly(true);
  runner.Run(stop, nullptr);
  runner.SetCompileOnly(false);
  TTimed t;
  for (int i = 0; i < runs; ++i) {
    TInternalVar::Spare() = TValue();
    double t0 = clock();
    runner.Run(stop, nullptr);
    t.seconds = std::min(t.seconds, clock() - t0);
    t.result = TInternalVar::Spare().AsString();
    FreeAllLibObjects();  // no script host here: what the script left goes now
  }
  return t;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// ---- TMemory against the interpreter's list access ---------------------------------------------------

struct TAccessProgram {
  const char* name;
  double accesses;
  std::string script;
};

std::vector<TAccessProgram> AccessPrograms() {
  const std::string head = "program acc;\nvar M: TMemory; L: TObjectList; i, s: Integer;\nbegin\n  s := 0;\n";
  return {
      {"plain loop (no access)", 2.0 * 1048576,
       head + "  for i := 0 to 1048575 do s := s + (i and 255);\n  for i := 0 to 1048575 do s := s + (i and 255);\n"
              "  Result := s;\nend.\n"},
      {"TObjectList.Items", 2.0 * 1048576,
       head + "  L := TObjectList.Create;\n  L.Count := 1048576;\n"
              "  for i := 0 to 1048575 do L.Items[i] := i and 255;\n"
              "  for i := 0 to 1048575 do s := s + L.Items[i];\n  L.Free;\n  Result := s;\nend.\n"},
      {"TMemory.Bytes", 2.0 * 1048576,
       head + "  M := TMemory.Create(1048576);\n  for i := 0 to 1048575 do M.Bytes[i] := i;\n"
              "  for i := 0 to 1048575 do s := s + M.Bytes[i];\n  M.Free;\n  Result := s;\nend.\n"},
      {"TMemory Motorola int", 2.0 * 262144,
       head + "  M := TMemory.Create(1048576);\n"
              "  for i := 0 to 262143 do M.SetMotorolaInteger(i * 4, i and 255);\n"
              "  for i := 0 to 262143 do s := s + M.GetMotorolaInteger(i * 4);\n  M.Free;\n  Result := s;\nend.\n"},
  };
}

void BenchAccess() {
  std::printf("1 MB filled and read back, CPU time per access (best of 3)\n");
  double listNs = 0;
  for (const TAccessProgram& p : AccessPrograms()) {
    TTimed t = RunScript(p.script, 3, ThreadCpuSeconds);
    double ns = t.seconds * 1e9 / p.accesses;
    if (std::string(p.name) == "TObjectList.Items") listNs = ns;
    std::printf("  %-24s %7.1f ns/access", p.name, ns);
    if (listNs > 0) std::printf("   ratio to TObjectList.Items %5.2f", ns / listNs);
    std::printf("   (result %s)\n", t.result.c_str());
  }
}

// ---- TFile against cat ---------------------------------------------------------------------------------

// A folder of its own under TMPDIR, removed with whatever is in it.
constexpr int kLines = 1048576;
constexpr int kLineBytes = 100;  // with its line feed: 100 MB in all

bool WriteSource(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::string line(kLineBytes, '.');
  line.back() = '\n';
  bool ok = true;
  for (int i = 0; i < kLines && ok; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "line %08d", i);
    std::copy(number, number + 13, line.begin());
    ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  }
  return std::fclose(f) == 0 && ok;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Wall time of `cat source` with its output on `target` (best of three).
double CatSeconds(const std::string& source, const std::string& target) {
  double best = 1e9;
  support::ChildOptions options;
  options.holdInput = false;
  options.out = support::ChildOptions::File;
  options.outFile = target;
  options.err = support::ChildOptions::Inherit;
  for (int i = 0; i < 3; ++i) {
    double t0 = WallSeconds();
    support::Child cat("cat", {source}, options);
    if (cat.Finish(std::chrono::minutes(10)) == 0) best = std::min(best, WallSeconds() - t0);
  }
  return best;
}

void Report(const char* what, const TTimed& t, double baseline, const char* baselineName) {
  std::printf("  %-26s %8.1f ms  %7.0f MB/s   ratio to %s %6.2f   (result %s)\n", what, t.seconds * 1e3,
              100.0 / t.seconds, baselineName, t.seconds / baseline, t.result.c_str());
}

void BenchFiles() {
  std::unique_ptr<support::TempDir> folder;
  try {
    folder = std::make_unique<support::TempDir>("bench-files");
  } catch (const std::exception&) {
    std::printf("no temporary folder: file benchmark skipped\n");
    return;
  }
  const support::TempDir& dir = *folder;
  const std::string source = dir.File("source.txt"), copy = dir.File("copy.txt");
  if (!WriteSource(source)) {
    std::printf("cannot write the 100 MB source file: file benchmark skipped\n");
    return;
  }
  CatSeconds(source, "/dev/null");  // warms the page cache for everyone
  const double catRead = CatSeconds(source, "/dev/null");
  const double catCopy = CatSeconds(source, copy);
  std::printf("100 MB (%d lines of %d bytes), wall time, best of 3\n", kLines, kLineBytes);
  std::printf("  %-26s %8.1f ms  %7.0f MB/s\n", "cat > /dev/null", catRead * 1e3, 100.0 / catRead);
  std::printf("  %-26s %8.1f ms  %7.0f MB/s\n", "cat > copy", catCopy * 1e3, 100.0 / catCopy);

  const std::string open = "  F := TFile.Create;\n  F.Open('SRC', fmOpenRead + fmShareDenyNone);\n";
  const std::string create = "  G := TFile.Create;\n  G.Open('DST', fmCreate);\n";
  const std::string close = "  F.Free;\n";
  const std::string head = "program io;\nvar F, G: TFile; M: TMemory; s: string; n, k: Integer;\nbegin\n  n := 0;\n";
  auto script = [&](const std::string& body) {
    return Replace(Replace(head + body + "  Result := n;\nend.\n", "SRC", source), "DST", copy);
  };
  Report("TFile.ReadLine",
         RunScript(script(open + "  while F.ReadLine(s) = 1 do n := n + 1;\n" + close), 3, WallSeconds), catRead,
         "cat > /dev/null");
  Report("TFile.Readmem 64 KB",
         RunScript(script(open +
                          "  M := TMemory.Create(65536);\n"
                          "  repeat\n    k := F.Readmem(M, 65536);\n    n := n + k;\n  until k = 0;\n" +
                          close),
                   3, WallSeconds),
         catRead, "cat > /dev/null");
  TTimed lines = RunScript(
      script(open + create +
             "  while F.ReadLine(s) = 1 do\n  begin\n    G.Writeln(s);\n    n := n + 1;\n  end;\n  G.Free;\n" + close),
      3, WallSeconds);
  Report("ReadLine + Writeln", lines, catCopy, "cat > copy");
  bool linesSame = FileSize(copy) == FileSize(source);
  TTimed blocks =
      RunScript(script(open + create +
                       "  M := TMemory.Create(65536);\n"
                       "  repeat\n    k := F.Readmem(M, 65536);\n    n := n + G.WriteMem(M, k);\n  until k = 0;\n"
                       "  G.Free;\n" +
                       close),
                3, WallSeconds);
  Report("Readmem + WriteMem 64 KB", blocks, catCopy, "cat > copy");
  bool blocksSame = FileSize(copy) == FileSize(source);
  if (!linesSame || !blocksSame) std::printf("  COPY SIZE DIFFERS\n");
}

}  // namespace

// One statement per line in these scripts: the instruction fusion of this engine version mixes up
// "k := x; n := n + k;" written on one line.
int main() {
  THalinit engine;
  RegisterGeneralLibrary();
  RegisterByteArrayLibrary();
  RegisterFileLibrary();
  BenchAccess();
  BenchFiles();
  return 0;
}

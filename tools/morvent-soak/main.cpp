// morvent-soak: the desktop application's endurance soak against the simulator (offscreen): phase 1
// keeps the main window busy and its link troubled for a given time, phase 2 tears the main window down
// many times while readers wait; a watchdog ends the run on any hang. Exit code 0 only on success.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "morvent-soak/Endurance.h"
#include "morvent-soak/Probes.h"
#include "morvent-soak/Teardown.h"
#include "morvent-soak/Watchdog.h"
#include "script/Halinit.h"
#include "scriptlib/ScriptLibrary.h"
#include "support/qt/TsanQt.h"

namespace {

// The offscreen platform's notice for every new window says nothing about the soak.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (text.contains("propagateSizeHints")) return;
  std::fprintf(stderr, "%s%s\n", type == QtDebugMsg || type == QtInfoMsg ? "" : "qt: ", text.toLocal8Bit().constData());
}

const char* const kUsage =
    "usage: morvent-soak [--minutes N | --seconds N] [--warmup SECONDS] [--rounds N]\n"
    "                    [--phase endurance|teardown|both] [--rate N] [--timeout MS] [--seed N] [--verbose]\n"
    "  --minutes/--seconds  length of the endurance phase (default 30 minutes)\n"
    "  --warmup             memory reference taken after this long (default a tenth, 10..120 s);\n"
    "                       runs shorter than 5 minutes get no memory verdict\n"
    "  --rounds             teardown rounds (default 10000)\n"
    "  --phase              which phases run (default both)\n"
    "  --rate               text-stream messages per second on the monitor CU (default 200)\n"
    "  --timeout            the connection's time-out in the settings file (default 3000 ms)\n";

bool Number(const char* text, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!end || *end != '\0' || v < 0 || v > 100000000) return false;
  out = static_cast<int>(v);
  return true;
}

bool Parse(int argc, char** argv, TSoakOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    int n = 0;
    if (a == "--verbose") {
      o.verbose = true;
      continue;
    }
    if (!v) return false;
    ++i;
    if (a == "--phase") {
      o.endurance = std::strcmp(v, "teardown") != 0;
      o.teardown = std::strcmp(v, "endurance") != 0;
      if (std::strcmp(v, "both") != 0 && o.endurance == o.teardown) return false;
      continue;
    }
    if (!Number(v, n)) return false;
    if (a == "--minutes")
      o.seconds = n * 60;
    else if (a == "--seconds")
      o.seconds = n;
    else if (a == "--warmup")
      o.warmupSeconds = n;
    else if (a == "--rounds")
      o.rounds = n;
    else if (a == "--rate")
      o.streamRate = n;
    else if (a == "--timeout" && n >= 3000)
      o.timeoutMs = n;
    else if (a == "--seed")
      o.seed = static_cast<unsigned>(n);
    else
      return false;
  }
  return true;
}

std::string Faults(const std::map<std::string, int>& faults, int& total) {
  std::string text;
  total = 0;
  for (const auto& [kind, count] : faults) {
    text += (text.empty() ? "" : ", ") + kind + " " + std::to_string(count);
    total += count;
  }
  return text.empty() ? "none" : text;
}

constexpr double kMemoryVerdictSeconds = 300;

bool ReportEndurance(const TEnduranceResult& r) {
  int faults = 0;
  const std::string kinds = Faults(r.faults, faults);
  const double growth = r.rssWarmKiB > 0 ? 100.0 * (r.rssEndKiB - r.rssWarmKiB) / r.rssWarmKiB : 0;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  // A sanitizer's allocator holds freed memory back (quarantine, shadow): the figures say nothing.
  const bool memoryChecked = false;
#else
  // Nor do they after a few seconds (the smoke run): the heap is still finding its size.
  const bool memoryChecked = r.seconds >= kMemoryVerdictSeconds;
#endif
  const bool memoryOk = !memoryChecked || (r.rssWarmKiB > 0 && r.rssEndKiB <= r.rssWarmKiB + r.rssWarmKiB / 10);
  std::printf("endurance: %.0f s\n", r.seconds);
  std::printf(
      "  round trips: %llu through the script host (%llu cut by faults, %llu script restarts), %llu of %llu "
      "typed in the instruction window\n",
      static_cast<unsigned long long>(r.scriptRoundTrips), static_cast<unsigned long long>(r.scriptInterrupted),
      static_cast<unsigned long long>(r.scriptRestarts), static_cast<unsigned long long>(r.guiRoundTrips),
      static_cast<unsigned long long>(r.guiSent));
  std::printf(
      "  stream: %llu messages read in %llu connected intervals, %llu out of sequence; %llu shown in order; "
      "%llu gaps on links a fault was breaking\n",
      static_cast<unsigned long long>(r.streamFrames), static_cast<unsigned long long>(r.streamIntervals),
      static_cast<unsigned long long>(r.streamViolations), static_cast<unsigned long long>(r.guiStreamLines),
      static_cast<unsigned long long>(r.streamGapsAfterBreak));
  std::printf("  faults injected: %d (%s)\n", faults, kinds.c_str());
  std::printf("  reconnects: %d, configuration changes: %d, CU windows opened: %d, plot updates: %d\n", r.reconnects,
              r.configChanges, r.windowsOpened, r.plotUpdates);
  std::printf("  message boxes: %s\n", r.messages.isEmpty() ? "none" : r.messages.join("; ").toLocal8Bit().constData());
  std::printf("  RSS after warm-up %ld KiB, at the end %ld KiB (%+.1f %%, limit +10 %%)%s\n", r.rssWarmKiB, r.rssEndKiB,
              growth,
              !memoryChecked ? " (no verdict)"
              : memoryOk     ? ""
                             : " TOO MUCH");
  std::printf("  heap in use after warm-up %ld KiB, at the end %ld KiB\n", r.heapWarmKiB, r.heapEndKiB);
  if (!r.failure.empty()) std::printf("  FAILED: %s\n", r.failure.c_str());
  return r.ok && memoryOk;
}

bool ReportTeardown(const TTeardownResult& r, int wanted) {
  std::printf("teardown: %d of %d rounds in %.0f s, slowest teardown %d ms, %llu stream messages\n", r.rounds, wanted,
              r.seconds, r.slowestRoundMs, static_cast<unsigned long long>(r.streamFrames));
  for (const auto& [variant, count] : r.variants) std::printf("  %5d x %s\n", count, variant.c_str());
  if (!r.failure.empty()) std::printf("  FAILED: %s\n", r.failure.c_str());
  return r.ok && r.rounds == wanted;
}

}  // namespace

int main(int argc, char** argv) {
  TSoakOptions options;
  if (!Parse(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  qInstallMessageHandler(QuietMessages);
  QApplication app(argc, argv);
  THalinit scriptEngine;  // the script engine and its library live for the whole run, as in the program
  RegisterGeneralLibrary();
  TSoakWatchdog watchdog;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("morvent-soak: endurance %s, teardown %s, seed %u\n",
              options.endurance ? (std::to_string(options.seconds) + " s").c_str() : "off",
              options.teardown ? (std::to_string(options.rounds) + " rounds").c_str() : "off", options.seed);
  bool ok = true;
  if (options.endurance) {
    std::printf("== endurance\n");
    ok = ReportEndurance(RunEndurance(options, watchdog)) && ok;
  }
  if (options.teardown && ok) {
    std::printf("== teardown\n");
    ok = ReportTeardown(RunTeardown(options, watchdog), options.rounds) && ok;
  }
  std::printf("verdict: %s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}

// bench_regex: TRegExp.Match called from a script loop against the C library's regexec on the same
// patterns and texts in the same process (CPU time, best of alternating rounds); prints each ratio
// (ours / regexec, script call overhead included) and their geometric mean.
#include "scriptlib/Cmdregexp.h"
#include "scriptlib/ScriptLibrary.h"

#include "script/DynaVars.h"
#include "script/HalComp.h"
#include "script/Halinit.h"
#include "script/Registration.h"

#include <regex.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// About 1 MB of log lines; the rare words the patterns look for stand near its end.
std::string LogText() {
  static const char* const kWords[] = {"module", "reading", "value",  "sensor", "status", "idle",   "queue",
                                       "sample", "pump",    "valve",  "heater", "cycle",  "buffer", "channel",
                                       "probe",  "motor",   "signal", "report", "normal", "stable"};
  std::string text;
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  char line[160];
  for (int i = 0; text.size() < 1000000; ++i) {
    std::snprintf(line, sizeof line, "2024-06-%02u %02u:%02u:%02u host%u %s %s user=%s value=%u\n", 1 + next(28),
                  next(24), next(60), next(60), next(9), kWords[next(20)], kWords[next(20)], kWords[next(20)],
                  next(100000));
    text += line;
    if (i == 12000) text += "2024-06-30 23:59:59 host7 fatal overheat ZQXJ-4711 user=root value=0\n";
  }
  return text;
}

struct TCase {
  const char* name;
  const char* pattern;
  std::string text;
  int reps;
};

std::vector<TCase> Cases() {
  const std::string log = LogText();
  return {
      {"literal, 1 MB", "ZQXJ-4711", log, 40},
      {"class", "[0-9]+", "temperature reading 4711 ok", 300000},
      {"alternation, 1 MB", "fatal|panic|abort", log, 20},
      {"groups", "([a-z]+)@([a-z]+)\\.com", "contact: alice@example.com now", 200000},
      {"anchored", "^[0-9]+-[0-9]+-[0-9]+ ([0-9:]+)", "2024-06-01 12:34:56 host1 pump idle", 300000},
      {"end anchor", "[a-z]+$", "some words at the end", 200000},
      {"repetition", "\"[^\"]*\"", "say \"hello world\" twice", 300000},
      {"required literal, 1 MB", ".*ZQXJ-([0-9]+)", log, 40},
      {"word edges", "\\<[A-Z][a-z]+\\>", "the Quick brown fox", 300000},
      {"group loop", "^([a-z]+\\.)+[a-z]+$", "www.example.org", 300000},
      {"dot-star groups", "^([a-z]+): (.*)$", "subject: regular expressions are fun", 300000},
  };
}

struct TTimed {
  double seconds = 1e9;
  std::string result;  // matches, then start and length of the last match
};

const char kScript[] =
    "program bench;\nvar r: TRegExp; i, n, reps: Integer; t: string;\nbegin\n  r := TRegExp.Create;\n"
    "  r.SetRegExp(BenchPattern, 0);\n  t := BenchText;\n  reps := BenchReps;\n  n := 0;\n"
    "  for i := 1 to reps do n := n + r.Match(t, 1);\n"
    "  Result := IntToStr(n) + ' ' + IntToStr(r.SubStart(0)) + ' ' + IntToStr(r.SubLength(0));\n"
    "  r.Free;\nend.\n";

// The script compiled once, then run; the best run counts.
TTimed RunOurs(THalRuner& runner, int runs) {
  TStopFlag stop{'R'};
  TTimed t;
  for (int i = 0; i < runs; ++i) {
    const double t0 = ThreadCpuSeconds();
    runner.Run(stop, nullptr);
    t.seconds = std::min(t.seconds, ThreadCpuSeconds() - t0);
    t.result = TInternalVar::Spare().AsString();
  }
  return t;
}

TTimed RunRegexec(const TCase& c, int runs) {
  regex_t re;
  TTimed t;
  if (regcomp(&re, c.pattern, REG_EXTENDED) != 0) return t;
  std::vector<regmatch_t> m(re.re_nsub + 1);
  for (int i = 0; i < runs; ++i) {
    int n = 0;
    const double t0 = ThreadCpuSeconds();
    for (int k = 0; k < c.reps; ++k) n += regexec(&re, c.text.c_str(), m.size(), m.data(), 0) == 0;
    t.seconds = std::min(t.seconds, ThreadCpuSeconds() - t0);
    const bool found = n > 0;
    t.result = std::to_string(n) + " " + std::to_string(found ? m[0].rm_so + 1 : 0) + " " +
               std::to_string(found ? m[0].rm_eo - m[0].rm_so : 0);
  }
  regfree(&re);
  return t;
}

// Three rounds, each ours then regexec (best of two each), so that both see the same machine load.
double Compare(const TCase& c) {
  SetHalParam("BenchPattern", TValue(std::string(c.pattern)));
  SetHalParam("BenchText", TValue(c.text));
  SetHalParam("BenchReps", TValue(static_cast<int32_t>(c.reps)));
  THalRuner runner(kScript, nullptr);
  TStopFlag stop{'R'};
  runner.SetCompileOnly(true);
  runner.Run(stop, nullptr);
  runner.SetCompileOnly(false);
  TTimed ours, theirs;
  for (int round = 0; round < 3; ++round) {
    TTimed o = RunOurs(runner, 2), p = RunRegexec(c, 2);
    if (o.seconds < ours.seconds) ours = o;
    if (p.seconds < theirs.seconds) theirs = p;
  }
  const double ratio = ours.seconds / theirs.seconds;
  std::printf(
      "%-24s ours %8.2f ms   regexec %8.2f ms   ratio %6.3f%s\n", c.name, ours.seconds * 1e3, theirs.seconds * 1e3,
      ratio,
      ours.result == theirs.result ? "" : ("   RESULTS DIFFER: " + ours.result + " vs " + theirs.result).c_str());
  return ratio;
}

}  // namespace

// bench_regex [NAME]: NAME limits the run to the cases whose name starts with it (for profiling).
int main(int argc, char** argv) {
  THalinit engine;
  RegisterGeneralLibrary();
  RegisterRegExpLibrary();
  const std::string only = argc > 1 ? argv[1] : "";
  std::printf(
      "CPU time, best of 6 runs in 3 alternating rounds; ratio = ours (TRegExp.Match in a script loop) / "
      "regexec (target: geometric mean at most 1)\n");
  double logSum = 0;
  int count = 0;
  for (const TCase& c : Cases()) {
    if (std::string(c.name).rfind(only, 0) != 0) continue;
    logSum += std::log(Compare(c));
    ++count;
  }
  if (count > 0) std::printf("geometric mean of %d ratios: %.2f\n", count, std::exp(logSum / count));
  return 0;
}

// The run command: parses its arguments, starts the engine and the libraries, connects when the
// global options name a link, runs the script (and those it starts) on run threads while the main
// loop serves them, turns Ctrl-C into an abort through the run-state byte and maps the outcome to an
// exit code.
#include "morvent-cli/RunCommand.h"

#include "morvent-cli/CliScriptHost.h"
#include "morvent-cli/CliSession.h"

#include "scriptlib/HeadlessSink.h"
#include "scriptlib/Instscript.h"
#include "scriptlib/ScriptConnection.h"
#include "scriptlib/ScriptLibrary.h"

#include "script/Halinit.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kExitScriptError = 5;
constexpr int kExitAborted = 6;

const char kUsage[] =
    "usage: morvent-cli run [--debug LEVEL] [--reply-wait MS] FILE [ARG...]\n"
    "  FILE    the script; \".pas\" is appended unless the name ends with it\n"
    "  ARG     up to 10 arguments, the script's Arguments\n"
    "  LEVEL   0 none, 1 routine entry and exit, 2 also every line\n"
    "  MS      how long TCu.IO waits for a reply (default 10000)\n";

std::atomic<TStopFlag*> g_runState{nullptr};
std::atomic<bool> g_runInterrupted{false};

// A second Ctrl-C ends the program the default way (SA_RESETHAND), should a host call hang. The main
// loop aborts the other scripts of the run.
extern "C" void OnInterrupt(int) {
  if (TStopFlag* s = g_runState.load()) s->store(HAL_STOP);
  g_runInterrupted.store(true);
}

class CInterruptGuard {
 public:
  explicit CInterruptGuard(TStopFlag& state) {
    g_runState.store(&state);
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &m_old);
  }
  ~CInterruptGuard() {
    sigaction(SIGINT, &m_old, nullptr);
    g_runState.store(nullptr);
  }
  CInterruptGuard(const CInterruptGuard&) = delete;
  CInterruptGuard& operator=(const CInterruptGuard&) = delete;

 private:
  struct sigaction m_old {};
};

struct TRunArgs {
  int debugLevel = 0;
  long replyWaitMs = 10000;
  std::string file;
  std::vector<std::string> args;
};

bool ParseLevel(const char* text, int& level) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 0 || v > 9) return false;
  level = static_cast<int>(v);
  return true;
}

// Returns false on a usage error.
bool ParseArgs(int argc, char** argv, TRunArgs& out) {
  int i = 0;
  for (; i < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--debug") {
      if (i + 1 >= argc || !ParseLevel(argv[i + 1], out.debugLevel)) return false;
    } else if (option == "--reply-wait") {
      auto ms = i + 1 < argc ? ParseInteger(argv[i + 1], 0, 600000) : std::nullopt;
      if (!ms) return false;
      out.replyWaitMs = *ms;
    } else {
      break;
    }
  }
  if (i >= argc || argv[i][0] == '\0' || (argv[i][0] == '-' && argv[i][1] == '-')) return false;
  out.file = argv[i++];
  for (; i < argc; ++i) out.args.emplace_back(argv[i]);
  return true;
}

int ExitCode(TScriptOutcome outcome) {
  switch (outcome) {
    case TScriptOutcome::Ok:
      return kExitOk;
    case TScriptOutcome::Aborted:
      return kExitAborted;
    default:
      return kExitScriptError;
  }
}

}  // namespace

int MorventCliRun(const CCliOptions& options, int argc, char** argv) {
  TRunArgs run;
  if (argc >= 1 && (std::string(argv[0]) == "--help" || std::string(argv[0]) == "-h")) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (!ParseArgs(argc, argv, run)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  CStreamSink sink(stdout);
  std::string file = ScriptFileName(run.file);
  if (!CanOpenScriptFile(file)) {
    sink.AddText("Cannot open script file");
    return kExitScriptError;
  }
  THalinit engine;
  RegisterGeneralLibrary();
  RegisterInstrumentLibraries();
  CScriptConnection::Instance().SetReplyWaitMs(static_cast<unsigned>(run.replyWaitMs));
  CCliSession session(options);
  if (options.linkGiven && !session.Connect()) return kExitConnect;  // the session said why
  CCliScriptHost host(session, sink);
  host.Publish();
  TInstrScriptThread& thread = host.Start(file, run.args, run.debugLevel);
  {
    CInterruptGuard interrupt(thread.RunState());
    host.Serve(g_runInterrupted);
  }
  host.Close();
  return ExitCode(thread.Outcome());
}

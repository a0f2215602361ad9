// CliCommands.cpp: the tree, io, listen and watch commands.
#include "morvent-cli/CliCommands.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "morvent-cli/CliChannel.h"
#include "morvent-cli/CliSession.h"

namespace {

constexpr unsigned kReplyWaitMs = 10000;
constexpr unsigned kReadSliceMs = 50;  // the main loop is served between reads

struct CCuArgs {
  bool viaCs = false;
  std::string module, cu;
  std::vector<std::string> rest;  // words after MODULE CU
};

CCuArgs ParseCuArgs(const char* command, int argc, char** argv) {
  CCuArgs a;
  int i = 0;
  if (i < argc && std::string(argv[i]) == "--via-cs") {
    a.viaCs = true;
    ++i;
  }
  if (argc - i < 2) throw CUsageError{std::string(command) + " needs MODULE and CU"};
  a.module = argv[i++];
  a.cu = argv[i++];
  for (; i < argc; ++i) a.rest.emplace_back(argv[i]);
  return a;
}

int LostExit() {
  std::fprintf(stderr, "Connection to instrument lost\n");
  return kExitLost;
}

int RemovedExit() {
  std::fprintf(stderr, "Module of the CU was removed by the instrument\n");
  return kExitNoCu;
}

// Finds and opens the CU; prints the reason and returns the exit code when that is not possible.
int OpenCu(CCliSession& session, const CCuArgs& a, std::unique_ptr<CCliChannel>& channel) {
  std::shared_ptr<CModule> module = session.ResolveModule(a.module);
  if (!module) {
    std::fprintf(stderr, "Module \"%s\" not found\nCannot open CU\n", a.module.c_str());
    return kExitNoCu;
  }
  std::shared_ptr<CCuDesc> desc = CCliSession::ResolveCu(module.get(), a.cu);
  if (!desc) {
    std::fprintf(stderr, "CU \"%s\" not found in module %s\nCannot open CU\n", a.cu.c_str(), module->GetModuleType());
    return kExitNoCu;
  }
  channel = std::make_unique<CCliChannel>(session, desc, a.viaCs);
  if (channel->Open()) return kExitOk;
  if (session.Instr().Lost()) return LostExit();
  // The module can leave while its CU is being opened: say so before the usual message.
  if (session.Instr().WatchedModuleRemoved()) std::fprintf(stderr, "Module of the CU was removed by the instrument\n");
  std::fprintf(stderr, "Cannot open CU\n");
  return kExitNoCu;
}

// Waits for one reply, serving the main loop; nullopt when none came in time or the link went.
std::optional<std::string> AwaitReply(CCliSession& session, CCliChannel& channel) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyWaitMs);
  while (std::chrono::steady_clock::now() < end) {
    if (auto line = channel.ReadLine(kReadSliceMs)) return line;
    session.Loop().ProcessPending();
    if (session.Instr().Lost() || session.Instr().WatchedModuleRemoved()) return std::nullopt;
  }
  return std::nullopt;
}

int EndState(CCliSession& session) {
  if (session.Instr().Lost()) return LostExit();
  if (session.Instr().WatchedModuleRemoved()) return RemovedExit();
  return kExitOk;
}

}  // namespace

int CmdTree(const CCliOptions& options, int argc, char** argv) {
  (void)argv;
  if (argc > 0) throw CUsageError{"tree takes no arguments"};
  CCliSession session(options);
  if (!session.Connect()) return kExitConnect;
  session.PrintTree(stdout);
  return kExitOk;
}

int CmdIo(const CCliOptions& options, int argc, char** argv) {
  CCuArgs a = ParseCuArgs("io", argc, argv);
  if (a.rest.empty()) throw CUsageError{"io needs at least one TEXT to send"};
  for (const auto& text : a.rest)
    if (text.empty() || text.size() > static_cast<size_t>(a.viaCs ? Z_SLAVE_PAYLOAD_MAX : Z_PAYLOAD_MAX))
      throw CUsageError{"each TEXT must hold 1 to " + std::to_string(a.viaCs ? Z_SLAVE_PAYLOAD_MAX : Z_PAYLOAD_MAX) +
                        " bytes"};
  CCliSession session(options);
  if (!session.Connect()) return kExitConnect;
  std::unique_ptr<CCliChannel> channel;
  if (int rc = OpenCu(session, a, channel)) return rc;
  for (const auto& text : a.rest) {
    std::optional<std::string> reply;
    if (channel->Write(text) == Z_OK) reply = AwaitReply(session, *channel);
    if (int rc = EndState(session)) return rc;
    std::printf("%s\n", reply ? reply->c_str() : "cmd error!");
    std::fflush(stdout);
  }
  return kExitOk;
}

int CmdListen(const CCliOptions& options, int argc, char** argv) {
  CCuArgs a = ParseCuArgs("listen", argc, argv);
  long count = -1;
  double seconds = -1;
  for (size_t i = 0; i < a.rest.size(); i += 2) {
    const std::string& name = a.rest[i];
    if (name != "--count" && name != "--seconds") throw CUsageError{"listen: unknown argument \"" + name + "\""};
    if (i + 1 >= a.rest.size()) throw CUsageError{name + " needs a value"};
    if (name == "--count") {
      auto n = ParseInteger(a.rest[i + 1], 1, 2000000000);
      if (!n) throw CUsageError{"--count needs a number of messages from 1 to 2000000000"};
      count = *n;
    } else {
      auto s = ParseSeconds(a.rest[i + 1]);
      if (!s) throw CUsageError{"--seconds needs a number of seconds"};
      seconds = *s;
    }
  }
  InstallInterruptHandlers();
  CCliSession session(options);
  if (!session.Connect()) return kExitConnect;
  std::unique_ptr<CCliChannel> channel;
  if (int rc = OpenCu(session, a, channel)) return rc;
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds < 0 ? 0 : seconds);
  for (long received = 0; count < 0 || received < count;) {
    if (seconds >= 0 && std::chrono::steady_clock::now() >= end) break;
    if (g_cliInterrupted.load()) break;
    if (auto line = channel->ReadLine(kReadSliceMs)) {
      std::printf("%s\n", line->c_str());
      ++received;
    } else {
      std::fflush(stdout);  // flushed when the stream pauses, not per line
    }
    session.Loop().ProcessPending();
    if (int rc = EndState(session)) return rc;
  }
  std::fflush(stdout);
  session.Loop().ProcessPending();
  return EndState(session);
}

int CmdWatch(const CCliOptions& options, int argc, char** argv) {
  if (argc != 2 || std::string(argv[0]) != "--seconds") throw CUsageError{"watch needs --seconds S"};
  auto seconds = ParseSeconds(argv[1]);
  if (!seconds) throw CUsageError{"--seconds needs a number of seconds"};
  InstallInterruptHandlers();
  CCliSession session(options);
  if (!session.Connect()) return kExitConnect;
  session.PrintTree(stdout);
  session.Instr().SetPrintNotifications(true);
  session.ServeFor(static_cast<unsigned>(*seconds * 1000.0));
  session.Instr().SetPrintNotifications(false);
  return session.Instr().Lost() ? LostExit() : kExitOk;
}

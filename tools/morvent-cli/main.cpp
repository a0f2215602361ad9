// morvent-cli: the command-line client. Global options, then one command from the table below;
// each command is one function returning the exit code.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "morvent-cli/CliCommands.h"
#include "morvent-cli/CliOptions.h"
#include "morvent-cli/FirmwareCommand.h"
#include "morvent-cli/RunCommand.h"

namespace {

using CommandFn = int (*)(const CCliOptions& options, int argc, char** argv);

struct CCliCommand {
  const char* name;
  CommandFn run;  // gets the words after the command name
};

int CmdRun(const CCliOptions& options, int argc, char** argv) { return MorventCliRun(options, argc, argv); }

const CCliCommand kCommands[] = {
    {"tree", CmdTree},   {"io", CmdIo},   {"listen", CmdListen},
    {"watch", CmdWatch}, {"run", CmdRun}, {"firmware", CmdFirmware},
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "morvent-cli: %s\n%s", message.c_str(), kCliUsage);
  return kExitUsage;
}

int Dispatch(int argc, char** argv) {
  int next = 0;
  CCliOptions options = ParseGlobalOptions(argc, argv, &next);
  if (next >= argc) throw CUsageError{"no command given"};
  std::string name = argv[next];
  if (name == "--help" || name == "help") {
    std::fputs(kCliUsage, stdout);
    return kExitOk;
  }
  if (name == "--version") {
    std::printf("morvent-cli %s\n", MORVENT_VERSION);
    return kExitOk;
  }
  for (const CCliCommand& command : kCommands)
    if (name == command.name) return command.run(options, argc - next - 1, argv + next + 1);
  throw CUsageError{"unknown command \"" + name + "\""};
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a closed output or instrument socket shows as a failed write
  try {
    return Dispatch(argc, argv);
  } catch (const CUsageError& e) {
    return UsageError(e.message);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morvent-cli: %s\n", e.what());
    return kExitConnect;
  }
}

// CliHarness.cpp: starting the built client, and its link options for a simulator.
#include "CliHarness.h"

namespace clitest {

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::unique_ptr<support::Child> StartCli(const std::vector<std::string>& args) {
  return std::make_unique<support::Child>(MORVENT_CLI_PATH, args);
}

CliResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
  auto child = StartCli(args);
  CliResult r;
  r.exitCode = child->Finish(limit);
  r.out = child->Out();
  r.err = child->Err();
  return r;
}

std::vector<std::string> LinkArgs(const support::Simulator& sim) {
  if (!sim.Pty().empty()) return {"--link", "COM1", "--serial-device", sim.Pty()};
  return {"--address",     "127.0.0.1",
          "--telnet-port", std::to_string(sim.TelnetPort()),
          "--data-port",   std::to_string(sim.DataPort())};
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t feed = text.find('\n', at);
    if (feed == std::string::npos) feed = text.size();
    lines.push_back(text.substr(at, feed - at));
    at = feed + 1;
  }
  return lines;
}

}  // namespace clitest

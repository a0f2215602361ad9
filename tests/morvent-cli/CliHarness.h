// CliHarness.h: morvent-cli runs for the client's end-to-end tests: output, error text and exit code
// collected, and the options that point the client at a simulator of the support library.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/Child.h"
#include "support/Simulator.h"

namespace clitest {

using namespace std::chrono_literals;

struct CliResult {
  int exitCode = -1;
  std::string out, err;
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b);
CliResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds limit = 60s);
std::unique_ptr<support::Child> StartCli(const std::vector<std::string>& args);
// Global options that reach the simulator over the LAN (or its pty as COM1).
std::vector<std::string> LinkArgs(const support::Simulator& sim);
// The lines of a text; a last line without its line feed counts too.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace clitest

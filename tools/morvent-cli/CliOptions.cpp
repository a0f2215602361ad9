// CliOptions.cpp: global option parsing and the usage text of morvent-cli.
#include "morvent-cli/CliOptions.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

const char* const kCliUsage =
    "usage: morvent-cli [--link LAN|COM1|COM2|COM3|COM4] [--address HOST] [--telnet-port N]\n"
    "                   [--data-port N] [--serial-device PATH] [--timeout MS] [--trace LEVEL]\n"
    "                   [--trace-file PATH] COMMAND ...\n"
    "       morvent-cli --help | --version\n"
    "commands:\n"
    "  tree                                   print the instrument's modules and CUs\n"
    "  io [--via-cs] MODULE CU TEXT...        send each TEXT as one instruction, print each reply\n"
    "  listen [--via-cs] MODULE CU [--count N] [--seconds S]\n"
    "                                         print each received message\n"
    "  watch --seconds S                      print the tree, then configuration changes\n"
    "  run [--debug LEVEL] [--reply-wait MS] FILE [ARG...]\n"
    "                                         run a script headless (exit 0 ok, 5 error, 6 aborted)\n"
    "  firmware MODULE FILE                   download FILE to the module's LD CU (exit 0 ready,\n"
    "                                         6 interrupted, 7 module error, 8 communication error)\n"
    "MODULE is a 1-based index or a module type, CU a 1-based index or a CU name (both\n"
    "case-insensitive). Exit codes: 0 ok, 1 connection failed, 2 usage error, 3 module or CU not\n"
    "found or not opened, 4 connection lost.\n";

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::optional<long> ParseInteger(const std::string& text, long lo, long hi) {
  long value = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || p != end || value < lo || value > hi) return std::nullopt;
  return value;
}

std::optional<double> ParseSeconds(const std::string& text) {
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) return std::nullopt;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  // About eleven days; the bound keeps the time in milliseconds within 32 bits.
  if (end != text.c_str() + text.size() || !std::isfinite(value) || value < 0 || value > 1000000.0) return std::nullopt;
  return value;
}

std::optional<int> ParseLink(const std::string& text) {
  if (EqualsNoCase(text, "LAN")) return 0;
  for (int n = 1; n <= 4; ++n)
    if (EqualsNoCase(text, "COM" + std::to_string(n))) return n;
  return std::nullopt;
}

namespace {

long IntegerOption(const std::string& name, const std::string& value, long lo, long hi) {
  auto n = ParseInteger(value, lo, hi);
  if (!n)
    throw CUsageError{name + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi) + ", not \"" +
                      value + "\""};
  return *n;
}

// Applies one option with its value; false when name is no global option.
bool ApplyOption(CCliOptions& o, const std::string& name, const std::string& value) {
  if (name == "--link") {
    auto link = ParseLink(value);
    if (!link) throw CUsageError{"--link must be LAN, COM1, COM2, COM3 or COM4, not \"" + value + "\""};
    o.comPort = *link;
    o.linkGiven = true;
  } else if (name == "--address") {
    if (value.empty()) throw CUsageError{"--address needs a host name or address"};
    o.address = value;
    o.linkGiven = true;
  } else if (name == "--telnet-port") {
    o.telnetPort = static_cast<int>(IntegerOption(name, value, 1, 65535));
  } else if (name == "--data-port") {
    o.dataPort = static_cast<int>(IntegerOption(name, value, 1, 65535));
  } else if (name == "--serial-device") {
    if (value.empty()) throw CUsageError{"--serial-device needs a device path"};
    o.serialDevice = value;
  } else if (name == "--timeout") {
    o.timeoutMs = static_cast<unsigned>(IntegerOption(name, value, 0, 2147483647));
  } else if (name == "--trace") {
    o.traceLevel = static_cast<int>(IntegerOption(name, value, 0, 4));
  } else if (name == "--trace-file") {
    if (value.empty()) throw CUsageError{"--trace-file needs a file name"};
    o.traceFile = value;
  } else {
    return false;
  }
  return true;
}

}  // namespace

CCliOptions ParseGlobalOptions(int argc, char** argv, int* next) {
  CCliOptions o;
  int i = 1;
  for (; i < argc; ++i) {
    std::string name = argv[i];
    if (name.size() < 2 || name.compare(0, 2, "--") != 0 || name == "--help" || name == "--version")
      break;  // the command word
    if (i + 1 >= argc) throw CUsageError{name + " needs a value"};
    if (!ApplyOption(o, name, argv[i + 1])) throw CUsageError{"unknown option \"" + name + "\""};
    ++i;
  }
  if (!o.serialDevice.empty() && o.comPort == 0)
    throw CUsageError{"--serial-device applies to a COM link: add --link COM1..COM4"};
  *next = i;
  return o;
}

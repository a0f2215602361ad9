// TStartOptions: parsing the desktop application's options; names and values as morvent-cli takes them.
#include "app/Startoptions.h"

#include <cctype>
#include <charconv>

const char* const kMorventUsage =
    "usage: morvent [--link LAN|COM1|COM2|COM3|COM4] [--address HOST] [--telnet-port N]\n"
    "               [--data-port N] [--serial-device PATH] [--connect] [--settings FILE]\n"
    "       morvent --help | --version\n"
    "The options hold for this run only; the settings file keeps its values unless they are\n"
    "changed in the program.\n"
    "  --link LAN|COMn        the link to connect through (COM1..COM4: a serial port)\n"
    "  --address HOST         the instrument's LAN address (without --link: the LAN link)\n"
    "  --telnet-port N        the network card's console port (default 23)\n"
    "  --data-port N          the data port (default 9100)\n"
    "  --serial-device PATH   the device of the COM link given with --link (e.g. /dev/ttyUSB0)\n"
    "  --connect              connect at start, as the tool button \"connect to the last instrument\"\n"
    "  --settings FILE        use FILE as the settings file instead of Morvent.ini in its usual places\n"
    "  --version              print the version and exit\n"
    "  --help                 print this text and exit\n"
    "Exit codes: 0 ok, 1 the program could not start, 2 usage error.\n";

namespace {

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

int Link(const std::string& value) {
  if (EqualsNoCase(value, "LAN")) return 0;
  for (int n = 1; n <= 4; ++n)
    if (EqualsNoCase(value, "COM" + std::to_string(n))) return n;
  throw TStartOptionsError{"--link must be LAN, COM1, COM2, COM3 or COM4, not \"" + value + "\""};
}

int Port(const std::string& name, const std::string& value) {
  int port = 0;
  const char* end = value.data() + value.size();
  auto [p, ec] = std::from_chars(value.data(), end, port);
  if (value.empty() || ec != std::errc() || p != end || port < 1 || port > 65535)
    throw TStartOptionsError{name + " needs a number from 1 to 65535, not \"" + value + "\""};
  return port;
}

std::string NonEmpty(const std::string& name, const std::string& value, const char* what) {
  if (value.empty()) throw TStartOptionsError{name + " needs " + what};
  return value;
}

// Applies one option that takes a value.
void ApplyValue(TStartOptions& o, const std::string& name, const std::string& value) {
  if (name == "--link")
    o.link = Link(value);
  else if (name == "--address")
    o.address = NonEmpty(name, value, "a host name or address");
  else if (name == "--telnet-port")
    o.telnetPort = Port(name, value);
  else if (name == "--data-port")
    o.dataPort = Port(name, value);
  else if (name == "--serial-device")
    o.serialDevice = NonEmpty(name, value, "a device path");
  else if (name == "--settings")
    o.settingsFile = NonEmpty(name, value, "a file name");
}

}  // namespace

TStartOptions ParseStartOptions(const std::vector<std::string>& args) {
  TStartOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") {
      o.action = TStartOptions::TAction::Help;
      return o;
    }
    if (name == "--version") {
      o.action = TStartOptions::TAction::Version;
      return o;
    }
    if (name == "--connect") {
      o.connect = true;
      continue;
    }
    const bool takesValue = name == "--link" || name == "--address" || name == "--telnet-port" ||
                            name == "--data-port" || name == "--serial-device" || name == "--settings";
    if (!takesValue) throw TStartOptionsError{"unknown argument \"" + name + "\"", true};
    if (i + 1 >= args.size()) throw TStartOptionsError{name + " needs a value"};
    ApplyValue(o, name, args[++i]);
  }
  // An address alone means the LAN, whatever link the settings file remembers.
  if (o.address && !o.link) o.link = 0;
  if (!o.serialDevice.empty() && o.link.value_or(0) == 0)
    throw TStartOptionsError{"--serial-device applies to a COM link: add --link COM1..COM4"};
  return o;
}

// TStartOptions: the desktop application's command line. The options point one run somewhere else
// (another instrument, the simulator's ports, another settings file); they never change the settings
// file by themselves. Free of Qt, so that the program can answer --help without a display.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TStartOptions {
  enum class TAction { Run, Help, Version };
  TAction action = TAction::Run;
  std::optional<int> link;  // 0 LAN, 1..4 COMn
  std::optional<std::string> address;
  std::optional<int> telnetPort;
  std::optional<int> dataPort;
  std::string serialDevice;  // the device of the COM link given with --link
  bool connect = false;      // connect at start, as the tool button "connect to the last instrument"
  std::string settingsFile;  // empty: Morvent.ini in its usual places
};

// A bad command line. unknownArgument: the word is none of ours (it may be one of Qt's own, which the
// application object takes out of the command line).
struct TStartOptionsError {
  std::string message;
  bool unknownArgument = false;
};

extern const char* const kMorventUsage;

// Parses the words after the program's name; throws TStartOptionsError.
TStartOptions ParseStartOptions(const std::vector<std::string>& args);

// CliOptions.h: the client's global options, its exit codes and the strict number parsing shared by
// every command (bad input ends in a usage error, never in an exception or a wrapped value).
#pragma once

#include <optional>
#include <string>

inline constexpr int kExitOk = 0;
inline constexpr int kExitConnect = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoCu = 3;
inline constexpr int kExitLost = 4;

struct CCliOptions {
  int comPort = 0;  // 0 LAN, 1..4 COMn
  std::string address = "127.0.0.1";
  int telnetPort = 23;
  int dataPort = 9100;
  std::string serialDevice;
  unsigned timeoutMs = 5000;
  int traceLevel = 0;
  std::string traceFile;
  bool linkGiven = false;  // --link or --address was given (run then connects before the script)
};

// Thrown for a bad command line; main prints the message and the usage text and exits 2.
struct CUsageError {
  std::string message;
};

extern const char* const kCliUsage;

// Parses the options in front of the command; *next receives the index of the command word.
CCliOptions ParseGlobalOptions(int argc, char** argv, int* next);

// Whole-string decimal numbers within [lo, hi]; nullopt for anything else.
std::optional<long> ParseInteger(const std::string& text, long lo, long hi);
std::optional<double> ParseSeconds(const std::string& text);
// "LAN" -> 0, "COM1".."COM4" -> 1..4 (case-insensitive).
std::optional<int> ParseLink(const std::string& text);
bool EqualsNoCase(const std::string& a, const std::string& b);

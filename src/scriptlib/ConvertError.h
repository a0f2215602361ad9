// The conversion error of the script library (bad number text, bad format, mismatched argument).
// It is not a run-time error of the engine, so a script that raises it ends with "fatal error: ...".
#pragma once

#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

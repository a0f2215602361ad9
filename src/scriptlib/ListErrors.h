// Errors of the library's containers and files, with the platform's wording. They are not run-time
// errors of the engine, so a script that raises one ends with "fatal error: ...".
#pragma once

#include <stdexcept>
#include <string>

class EListError : public std::runtime_error {
 public:
  explicit EListError(const std::string& message) : std::runtime_error(message) {}
  static EListError Index(long long index) {
    return EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  static EListError Count(long long count) {
    return EListError("List count out of bounds (" + std::to_string(count) + ")");
  }
};

class EFileError : public std::runtime_error {
 public:
  explicit EFileError(const std::string& message) : std::runtime_error(message) {}
};

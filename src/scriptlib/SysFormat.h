// Format: the standard formatting rules (%d %u %e %f %g %n %m %p %s %x, index, width, precision)
// over a typed argument list, so that a bad format text can never read past the arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TFormatArg {
  enum class Kind { Integer, Real, Text };
  Kind kind = Kind::Integer;
  int64_t integer = 0;
  double real = 0.0;
  std::string text;

  static TFormatArg Int(int64_t v) {
    TFormatArg a;
    a.kind = Kind::Integer;
    a.integer = v;
    return a;
  }
  static TFormatArg Real(double v) {
    TFormatArg a;
    a.kind = Kind::Real;
    a.real = v;
    return a;
  }
  static TFormatArg Text(std::string v) {
    TFormatArg a;
    a.kind = Kind::Text;
    a.text = std::move(v);
    return a;
  }
};

// Widths, precisions and digit counts above this are refused as an invalid format (bounded memory).
constexpr int kMaxFormatField = 65536;

// Upper-case hexadecimal digits of v, no leading zeros ("0" for 0).
std::string HexDigits(uint64_t v);

// Raises EConvertError "Format '%s' invalid or incompatible with argument" or "No argument for format '%s'".
std::string Format(std::string_view format, const std::vector<TFormatArg>& args);

// Text conversions and string editing behind the conversion and string functions of the library.
// All positions are 1-based as scripts see them; "." is the decimal separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Raise EConvertError "'%s' is not a valid integer value" / "... floating point value".
int32_t StrToIntText(std::string_view text);
double StrToFloatText(std::string_view text);

// Result of Val: an integer when the number has no fraction and fits 32 bits, else a real.
struct TValResult {
  bool isInteger = true;
  int32_t integer = 0;
  double real = 0.0;
  int code = 0;  // 0 on success, else the 1-based position of the first offending character
};
TValResult ValText(std::string_view text);

// Upper-case hexadecimal of the 32-bit value, zero-padded to at least `digits` digits.
std::string IntToHexText(int64_t value, int64_t digits);

std::string AnsiUpperCaseText(std::string_view text);
std::string AnsiLowerCaseText(std::string_view text);
int AnsiCompareStrText(std::string_view a, std::string_view b);
int AnsiCompareTextText(std::string_view a, std::string_view b);

std::string TrimText(std::string_view text);
std::string TrimLeftText(std::string_view text);
std::string TrimRightText(std::string_view text);

int PosText(std::string_view part, std::string_view text);
std::string CopyText(std::string_view text, int64_t index, int64_t count);
void DeleteText(std::string& text, int64_t index, int64_t count);
void InsertText(std::string_view source, std::string& text, int64_t index);
// SetLength pads with blanks; lengths above kMaxSetLength are refused by the binding.
constexpr int64_t kMaxSetLength = int64_t(1) << 26;
void SetLengthText(std::string& text, int64_t length);

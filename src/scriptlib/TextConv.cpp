// Text conversions and string editing: number scanning shared by StrToFloat and Val, locale-style case
// mapping for ASCII and the Latin-1 letters in UTF-8, and the 1-based editing rules.
#include "scriptlib/TextConv.h"

#include "scriptlib/ConvertError.h"
#include "scriptlib/SysFormat.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Scans sign, digits, fraction and exponent from pos; returns the position after the number and
// whether it held at least one mantissa digit.
size_t ScanNumber(std::string_view t, size_t pos, bool& hasDigits) {
  hasDigits = false;
  if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) ++pos;
  while (pos < t.size() && IsDigit(t[pos])) ++pos, hasDigits = true;
  if (pos < t.size() && t[pos] == '.') {
    ++pos;
    while (pos < t.size() && IsDigit(t[pos])) ++pos, hasDigits = true;
  }
  if (hasDigits && pos < t.size() && (t[pos] == 'e' || t[pos] == 'E')) {
    size_t e = pos + 1;
    if (e < t.size() && (t[e] == '+' || t[e] == '-')) ++e;
    if (e < t.size() && IsDigit(t[e])) {
      while (e < t.size() && IsDigit(t[e])) ++e;
      pos = e;
    }
  }
  return pos;
}

double ParseScanned(std::string_view t, size_t from, size_t to) {
  std::string s(t.substr(from, to - from));
  return std::strtod(s.c_str(), nullptr);
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool ParseInt(std::string_view t, int32_t& out) {
  size_t p = 0;
  while (p < t.size() && t[p] == ' ') ++p;
  bool neg = false;
  if (p < t.size() && (t[p] == '+' || t[p] == '-')) neg = t[p++] == '-';
  int base = 10;
  if (p < t.size() && t[p] == '$')
    base = 16, ++p;
  else if (p + 1 < t.size() && t[p] == '0' && (t[p + 1] == 'x' || t[p + 1] == 'X'))
    base = 16, p += 2;
  if (p >= t.size()) return false;
  int64_t v = 0;
  for (; p < t.size(); ++p) {
    int d = base == 16 ? HexValue(t[p]) : (IsDigit(t[p]) ? t[p] - '0' : -1);
    if (d < 0) return false;
    v = v * base + d;
    if (v > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return false;
  }
  if (base == 16) v = static_cast<int32_t>(static_cast<uint32_t>(v));
  if (neg) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

// Case mapping of one byte position; handles the two-byte UTF-8 forms of the Latin-1 letters.
std::string MapCase(std::string_view text, bool upper) {
  std::string s(text);
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      s[i] = static_cast<char>(upper ? std::toupper(c) : std::tolower(c));
    } else if (c == 0xC3 && i + 1 < s.size()) {
      unsigned char n = static_cast<unsigned char>(s[i + 1]);
      if (upper && n >= 0xA0 && n <= 0xBE && n != 0xB7) s[i + 1] = static_cast<char>(n - 0x20);
      if (!upper && n >= 0x80 && n <= 0x9E && n != 0x97) s[i + 1] = static_cast<char>(n + 0x20);
      ++i;
    }
  }
  return s;
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

int32_t StrToIntText(std::string_view text) {
  int32_t v = 0;
  if (!ParseInt(text, v)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

double StrToFloatText(std::string_view text) {
  size_t p = 0;
  while (p < text.size() && IsBlank(text[p])) ++p;
  bool digits = false;
  size_t end = ScanNumber(text, p, digits);
  size_t rest = end;
  while (rest < text.size() && IsBlank(text[rest])) ++rest;
  double v = digits ? ParseScanned(text, p, end) : 0.0;
  if (!digits || rest != text.size() || !std::isfinite(v))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

TValResult ValText(std::string_view text) {
  TValResult r;
  size_t p = 0;
  while (p < text.size() && text[p] == ' ') ++p;
  bool digits = false;
  size_t end = ScanNumber(text, p, digits);
  double v = digits ? ParseScanned(text, p, end) : 0.0;
  if (!digits || end != text.size()) {
    r.code = static_cast<int>(end + 1);
    return r;
  }
  if (!std::isfinite(v)) {
    r.code = static_cast<int>(p + 1);
    return r;
  }
  if (v == std::floor(v) && v >= INT32_MIN && v <= INT32_MAX) {
    r.integer = static_cast<int32_t>(v);
  } else {
    r.isInteger = false;
    r.real = v;
  }
  return r;
}

std::string IntToHexText(int64_t value, int64_t digits) {
  if (digits > kMaxFormatField) throw EConvertError("Format '%.*x' invalid or incompatible with argument");
  uint64_t v = value < 0 && value >= INT32_MIN ? static_cast<uint32_t>(static_cast<int32_t>(value))
                                               : static_cast<uint64_t>(value);
  std::string s = HexDigits(v);
  if (digits > static_cast<int64_t>(s.size())) s.insert(0, static_cast<size_t>(digits) - s.size(), '0');
  return s;
}

std::string AnsiUpperCaseText(std::string_view text) { return MapCase(text, true); }
std::string AnsiLowerCaseText(std::string_view text) { return MapCase(text, false); }

// Letters compare without regard to case first; only then does case decide, lower case first.
int AnsiCompareStrText(std::string_view a, std::string_view b) {
  int folded = AnsiCompareTextText(a, b);
  if (folded != 0) return folded;
  return -Sign(a.compare(b));
}

int AnsiCompareTextText(std::string_view a, std::string_view b) {
  return Sign(AnsiUpperCaseText(a).compare(AnsiUpperCaseText(b)));
}

std::string TrimLeftText(std::string_view t) {
  size_t p = 0;
  while (p < t.size() && IsBlank(t[p])) ++p;
  return std::string(t.substr(p));
}

std::string TrimRightText(std::string_view t) {
  size_t n = t.size();
  while (n > 0 && IsBlank(t[n - 1])) --n;
  return std::string(t.substr(0, n));
}

std::string TrimText(std::string_view t) { return TrimRightText(TrimLeftText(t)); }

int PosText(std::string_view part, std::string_view text) {
  if (part.empty()) return 0;
  size_t p = text.find(part);
  return p == std::string_view::npos ? 0 : static_cast<int>(p + 1);
}

std::string CopyText(std::string_view text, int64_t index, int64_t count) {
  if (index < 1) index = 1;
  if (count <= 0 || index > static_cast<int64_t>(text.size())) return {};
  return std::string(text.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count)));
}

void DeleteText(std::string& text, int64_t index, int64_t count) {
  if (index < 1 || count <= 0 || index > static_cast<int64_t>(text.size())) return;
  text.erase(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

void InsertText(std::string_view source, std::string& text, int64_t index) {
  if (index < 1) index = 1;
  size_t at = std::min(static_cast<size_t>(index - 1), text.size());
  text.insert(at, source);
}

void SetLengthText(std::string& text, int64_t length) {
  text.resize(static_cast<size_t>(std::max<int64_t>(length, 0)), ' ');
}

// Format: parses each "%" [index ":"] ["-"] [width] ["." precision] type directive and renders one argument.
#include "scriptlib/SysFormat.h"

#include "scriptlib/ConvertError.h"
#include "scriptlib/FloatText.h"

#include <cctype>
#include <cstdio>
#include <optional>

namespace {

struct TSpec {
  bool left = false;
  int width = -1;
  int precision = -1;
  char type = 0;
};

class CFormatter {
 public:
  CFormatter(std::string_view format, const std::vector<TFormatArg>& args) : m_fmt(format), m_args(args) {}
  std::string Run();

 private:
  [[noreturn]] void Invalid() const {
    throw EConvertError("Format '" + std::string(m_fmt) + "' invalid or incompatible with argument");
  }
  [[noreturn]] void Missing() const { throw EConvertError("No argument for format '" + std::string(m_fmt) + "'"); }
  const TFormatArg& NextArg() {
    if (m_next >= m_args.size()) Missing();
    return m_args[m_next++];
  }
  // Reads digits or "*" at the cursor; nothing when there is neither.
  std::optional<int> ReadNumber();
  void Directive();
  std::string Render(const TSpec& item, const TFormatArg& arg);
  std::string RenderInteger(const TSpec& item, const TFormatArg& arg);
  std::string RenderReal(const TSpec& item, const TFormatArg& arg);

  std::string_view m_fmt;
  const std::vector<TFormatArg>& m_args;
  size_t m_pos = 0;
  size_t m_next = 0;
  std::string m_out;
};

std::optional<int> CFormatter::ReadNumber() {
  if (m_pos < m_fmt.size() && m_fmt[m_pos] == '*') {
    ++m_pos;
    const TFormatArg& a = NextArg();
    if (a.kind != TFormatArg::Kind::Integer) Invalid();
    if (a.integer > kMaxFormatField || a.integer < -kMaxFormatField) Invalid();
    return static_cast<int>(a.integer);
  }
  if (m_pos >= m_fmt.size() || !std::isdigit(static_cast<unsigned char>(m_fmt[m_pos]))) return std::nullopt;
  int64_t n = 0;
  while (m_pos < m_fmt.size() && std::isdigit(static_cast<unsigned char>(m_fmt[m_pos]))) {
    n = n * 10 + (m_fmt[m_pos++] - '0');
    if (n > kMaxFormatField) Invalid();
  }
  return static_cast<int>(n);
}

std::string Pad(std::string s, const TSpec& item) {
  if (item.width > 0 && static_cast<int>(s.size()) < item.width) {
    std::string fill(static_cast<size_t>(item.width) - s.size(), ' ');
    s = item.left ? s + fill : fill + s;
  }
  return s;
}

// Negative 32-bit values print as their two's complement, as the 32-bit platform did.
uint64_t AsUnsigned(int64_t v) {
  if (v < 0 && v >= INT32_MIN) return static_cast<uint32_t>(static_cast<int32_t>(v));
  return static_cast<uint64_t>(v);
}

std::string CFormatter::RenderInteger(const TSpec& item, const TFormatArg& arg) {
  if (arg.kind != TFormatArg::Kind::Integer) Invalid();
  std::string digits;
  bool negative = false;
  switch (item.type) {
    case 'D':
      negative = arg.integer < 0;
      digits = std::to_string(negative ? 0 - static_cast<uint64_t>(arg.integer) : static_cast<uint64_t>(arg.integer));
      break;
    case 'U':
      digits = std::to_string(AsUnsigned(arg.integer));
      break;
    case 'X':
      digits = HexDigits(AsUnsigned(arg.integer));
      break;
    default:
      digits = HexDigits(AsUnsigned(arg.integer));
      if (digits.size() < 8) digits.insert(0, 8 - digits.size(), '0');
  }
  if (item.precision > static_cast<int>(digits.size()))
    digits.insert(0, static_cast<size_t>(item.precision) - digits.size(), '0');
  return negative ? "-" + digits : digits;
}

std::string CFormatter::RenderReal(const TSpec& item, const TFormatArg& arg) {
  if (arg.kind != TFormatArg::Kind::Real) Invalid();
  switch (item.type) {
    case 'E':
      return FloatToStrExp(arg.real, item.precision < 0 ? 15 : item.precision);
    case 'F':
      return FloatToStrFixed(arg.real, item.precision < 0 ? 2 : item.precision, false);
    case 'G':
      return FloatToStrGeneral(arg.real, item.precision < 0 ? 15 : item.precision);
    default:
      return FloatToStrFixed(arg.real, item.precision < 0 ? 2 : item.precision, true);
  }
}

std::string CFormatter::Render(const TSpec& item, const TFormatArg& arg) {
  switch (item.type) {
    case 'D':
    case 'U':
    case 'X':
    case 'P':
      return RenderInteger(item, arg);
    case 'E':
    case 'F':
    case 'G':
    case 'N':
    case 'M':
      return RenderReal(item, arg);
    case 'S':
      if (arg.kind != TFormatArg::Kind::Text) Invalid();
      if (item.precision >= 0 && static_cast<size_t>(item.precision) < arg.text.size())
        return arg.text.substr(0, static_cast<size_t>(item.precision));
      return arg.text;
    default:
      Invalid();
  }
}

bool KnownType(char t) {
  return t == 'D' || t == 'U' || t == 'X' || t == 'P' || t == 'E' || t == 'F' || t == 'G' || t == 'N' || t == 'M' ||
         t == 'S';
}

void CFormatter::Directive() {
  if (m_pos < m_fmt.size() && m_fmt[m_pos] == '%') {
    m_out += '%';
    ++m_pos;
    return;
  }
  TSpec item;
  std::optional<int> n = ReadNumber();
  if (n && m_pos < m_fmt.size() && m_fmt[m_pos] == ':') {
    if (*n < 0) Invalid();
    m_next = static_cast<size_t>(*n);
    ++m_pos;
    n.reset();
  }
  if (!n) {
    if (m_pos < m_fmt.size() && m_fmt[m_pos] == '-') {
      item.left = true;
      ++m_pos;
    }
    n = ReadNumber();
  }
  if (n && *n < 0) item.left = true;  // a negative "*" width justifies left
  item.width = n ? (*n < 0 ? -*n : *n) : -1;
  if (m_pos < m_fmt.size() && m_fmt[m_pos] == '.') {
    ++m_pos;
    std::optional<int> p = ReadNumber();
    item.precision = p && *p >= 0 ? *p : -1;
  }
  if (m_pos >= m_fmt.size()) Invalid();
  item.type = static_cast<char>(std::toupper(static_cast<unsigned char>(m_fmt[m_pos++])));
  if (!KnownType(item.type)) Invalid();
  m_out += Pad(Render(item, NextArg()), item);
}

std::string CFormatter::Run() {
  while (m_pos < m_fmt.size()) {
    char c = m_fmt[m_pos++];
    if (c == '%')
      Directive();
    else
      m_out += c;
  }
  return m_out;
}

}  // namespace

std::string Format(std::string_view format, const std::vector<TFormatArg>& args) {
  return CFormatter(format, args).Run();
}

std::string HexDigits(uint64_t v) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kHex[v & 15]);
    v >>= 4;
  } while (v != 0);
  return s;
}

// FormatFloat: picks the section for the value's sign, analyses its placeholders, rounds once, then walks
// the section again and puts digits, separators and literals in place.
#include "scriptlib/FloatText.h"

#include "scriptlib/DecimalDigits.h"

#include <cmath>
#include <vector>

namespace {

std::vector<std::string> Sections(std::string_view format) {
  std::vector<std::string> out(1);
  char quote = 0;
  for (char c : format) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      if (out.size() == 3) break;
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  return out;
}

struct TLayout {
  int intPlaces = 0;
  int minInt = 0;
  int fracPlaces = 0;
  int minFrac = 0;
  bool thousands = false;
  bool scientific = false;
};

bool IsExponent(const std::string& s, size_t i) {
  return (s[i] == 'E' || s[i] == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-');
}

TLayout Analyse(const std::string& s) {
  TLayout l;
  bool afterPoint = false;
  int firstZero = -1;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\'' || c == '"') {
      size_t close = s.find(c, i + 1);
      i = close == std::string::npos ? s.size() : close;
    } else if (IsExponent(s, i)) {
      l.scientific = true;
      break;
    } else if (c == '0' || c == '#') {
      if (afterPoint) {
        ++l.fracPlaces;
        if (c == '0') l.minFrac = l.fracPlaces;
      } else {
        if (c == '0' && firstZero < 0) firstZero = l.intPlaces;
        ++l.intPlaces;
      }
    } else if (c == '.') {
      afterPoint = true;
    } else if (c == ',') {
      l.thousands = true;
    }
  }
  if (firstZero >= 0) l.minInt = l.intPlaces - firstZero;
  return l;
}

// The rounded number: integer digits, fraction digits and, in scientific form, the exponent.
struct TNumber {
  std::string intDigits;
  std::string frac;
  int exponent = 0;
};

TNumber Round(double a, const TLayout& l) {
  TNumber n;
  TDecimal exact = ExactDecimal(a);
  if (l.scientific) {
    int intDigits = l.intPlaces > 0 ? l.intPlaces : 1;
    TDecimal d = RoundSignificant(exact, intDigits + l.fracPlaces);
    std::string digits = d.digits;
    digits.resize(static_cast<size_t>(intDigits + l.fracPlaces), '0');
    n.exponent = d.digits.empty() ? 0 : d.exponent - intDigits;
    n.intDigits = digits.substr(0, static_cast<size_t>(intDigits));
    n.frac = digits.substr(static_cast<size_t>(intDigits));
  } else {
    FixedParts(RoundFraction(exact, l.fracPlaces), l.fracPlaces, n.intDigits, n.frac);
    if (n.intDigits == "0") n.intDigits.clear();
    if (static_cast<int>(n.intDigits.size()) < l.minInt)
      n.intDigits.insert(0, static_cast<size_t>(l.minInt) - n.intDigits.size(), '0');
  }
  while (static_cast<int>(n.frac.size()) > l.minFrac && n.frac.back() == '0') n.frac.pop_back();
  return n;
}

class CFloatWriter {
 public:
  CFloatWriter(const std::string& section, const TLayout& l, const TNumber& n, bool negative)
      : m_s(section), m_l(l), m_n(n), m_negative(negative) {}
  std::string Run();

 private:
  void Digit(size_t fromRight) {
    size_t len = m_n.intDigits.size();
    m_out += m_n.intDigits[len - 1 - fromRight];
    if (m_l.thousands && !m_l.scientific && fromRight > 0 && fromRight % 3 == 0) m_out += ',';
  }
  // Sign and the integer digits that have no placeholder of their own go before the first placeholder.
  void Leading() {
    if (m_leadDone) return;
    m_leadDone = true;
    if (m_negative) m_out += '-';
    for (size_t p = m_n.intDigits.size(); p > static_cast<size_t>(m_l.intPlaces); --p) Digit(p - 1);
  }
  void IntPlaceholder() {
    Leading();
    size_t fromRight = static_cast<size_t>(m_l.intPlaces - 1 - m_intSeen++);
    if (fromRight < m_n.intDigits.size()) Digit(fromRight);
  }
  size_t Exponent(size_t i);

  const std::string& m_s;
  const TLayout& m_l;
  const TNumber& m_n;
  bool m_negative;
  bool m_leadDone = false;
  bool m_afterPoint = false;
  int m_intSeen = 0;
  size_t m_fracSeen = 0;
  std::string m_out;
};

size_t CFloatWriter::Exponent(size_t i) {
  Leading();
  m_out += m_s[i];
  bool always = m_s[i + 1] == '+';
  if (m_n.exponent < 0)
    m_out += '-';
  else if (always)
    m_out += '+';
  i += 2;
  size_t width = 0;
  while (i < m_s.size() && m_s[i] == '0') ++width, ++i;
  std::string e = std::to_string(std::abs(m_n.exponent));
  if (e.size() < width) e.insert(0, width - e.size(), '0');
  m_out += e;
  return i - 1;
}

std::string CFloatWriter::Run() {
  for (size_t i = 0; i < m_s.size(); ++i) {
    char c = m_s[i];
    if (c == '\'' || c == '"') {
      size_t close = m_s.find(c, i + 1);
      size_t end = close == std::string::npos ? m_s.size() : close;
      m_out += m_s.substr(i + 1, end - i - 1);
      i = end;
    } else if (IsExponent(m_s, i)) {
      i = Exponent(i);
    } else if ((c == '0' || c == '#') && !m_afterPoint) {
      IntPlaceholder();
    } else if (c == '0' || c == '#') {
      if (m_fracSeen < m_n.frac.size()) m_out += m_n.frac[m_fracSeen];
      ++m_fracSeen;
    } else if (c == '.' && !m_afterPoint) {
      Leading();
      m_afterPoint = true;
      if (!m_n.frac.empty()) m_out += '.';
    } else if (c != ',') {
      m_out += c;
    }
  }
  Leading();
  return m_out;
}

}  // namespace

std::string FormatFloat(std::string_view format, double value) {
  if (!std::isfinite(value) || format.empty()) return FloatToStr(value);
  std::vector<std::string> sections = Sections(format);
  size_t pick = 0;
  if (value < 0 && sections.size() >= 2 && !sections[1].empty()) pick = 1;
  if (value == 0 && sections.size() >= 3 && !sections[2].empty()) pick = 2;
  const std::string& section = sections[pick].empty() ? sections[0] : sections[pick];
  if (section.empty()) return FloatToStr(value);
  TLayout layout = Analyse(section);
  TNumber n = Round(std::fabs(value), layout);
  bool allZero =
      n.intDigits.find_first_not_of('0') == std::string::npos && n.frac.find_first_not_of('0') == std::string::npos;
  return CFloatWriter(section, layout, n, value < 0 && pick == 0 && !allZero).Run();
}

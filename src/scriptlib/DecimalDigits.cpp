// Exact digits come from printing the double with as many fraction digits as it has fraction bits,
// which the C library does exactly; rounding then works on the digit string.
#include "scriptlib/DecimalDigits.h"

#include <charconv>
#include <cmath>

namespace {

void Normalise(TDecimal& d) {
  size_t lead = d.digits.find_first_not_of('0');
  if (lead == std::string::npos) {
    d.digits.clear();
    d.exponent = 0;
    return;
  }
  d.digits.erase(0, lead);
  d.exponent -= static_cast<int>(lead);
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
}

}  // namespace

TDecimal ExactDecimal(double magnitude) {
  TDecimal d;
  if (magnitude == 0 || !std::isfinite(magnitude)) return d;
  int e = 0;
  std::frexp(magnitude, &e);
  int fracBits = e >= 53 ? 0 : 53 - e;
  // At most 309 integer digits, the point and 1126 fraction digits (the smallest subnormal).
  char buf[1500];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::fixed, fracBits);
  std::string s(buf, r.ec == std::errc() ? r.ptr : buf);
  size_t dot = s.find('.');
  d.exponent = static_cast<int>(dot == std::string::npos ? s.size() : dot);
  for (char c : s)
    if (c != '.') d.digits += c;
  Normalise(d);
  return d;
}

TDecimal RoundSignificant(TDecimal d, int n) {
  if (n < 1) n = 1;
  if (static_cast<int>(d.digits.size()) <= n) return d;
  bool up = d.digits[static_cast<size_t>(n)] >= '5';
  d.digits.resize(static_cast<size_t>(n));
  if (up) {
    int i = n - 1;
    while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9') d.digits[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++d.digits[static_cast<size_t>(i)];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
    }
  }
  Normalise(d);
  return d;
}

TDecimal RoundFraction(TDecimal d, int f) {
  if (d.digits.empty()) return d;
  int keep = d.exponent + f;
  if (keep > 0) return RoundSignificant(d, keep);
  TDecimal r;
  if (keep == 0 && d.digits[0] >= '5') {
    r.digits = "1";
    r.exponent = d.exponent + 1;
  }
  return r;
}

void FixedParts(const TDecimal& d, int f, std::string& intDigits, std::string& frac) {
  intDigits.clear();
  frac.assign(static_cast<size_t>(f), '0');
  for (size_t i = 0; i < d.digits.size(); ++i) {
    int pos = d.exponent - 1 - static_cast<int>(i);  // power of ten of this digit
    if (pos >= 0) {
      if (intDigits.empty()) intDigits.assign(static_cast<size_t>(pos) + 1, '0');
      intDigits[intDigits.size() - 1 - static_cast<size_t>(pos)] = d.digits[i];
    } else if (-pos <= f) {
      frac[static_cast<size_t>(-pos - 1)] = d.digits[i];
    }
  }
  if (intDigits.empty()) intDigits.push_back('0');
}

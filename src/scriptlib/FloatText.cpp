// Real-to-text conversions on exact decimal digits, rounded half away from zero.
#include "scriptlib/FloatText.h"

#include "scriptlib/DecimalDigits.h"

#include "script/Value.h"

#include <algorithm>
#include <cmath>

namespace {

std::string NonFinite(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// Scientific exponent of the first significant digit (d.ddd x 10^e).
int SciExponent(const TDecimal& d) { return d.exponent - 1; }

std::string GeneralText(double value, const TDecimal& d, int precision) {
  if (d.digits.empty()) return "0";
  std::string sign = value < 0 ? "-" : "";
  int e = SciExponent(d);
  if (e < -5 || e >= precision) {
    std::string s = sign + d.digits.substr(0, 1);
    if (d.digits.size() > 1) s.append(1, '.').append(d.digits, 1);
    return s.append(1, 'E').append(std::to_string(e));
  }
  int frac = std::max(0, static_cast<int>(d.digits.size()) - d.exponent);
  std::string intDigits, fracDigits;
  FixedParts(d, frac, intDigits, fracDigits);
  std::string out = sign + intDigits;
  if (!fracDigits.empty()) out.append(1, '.').append(fracDigits);
  return out;
}

std::string Group(const std::string& intDigits) {
  std::string out;
  for (size_t i = 0; i < intDigits.size(); ++i) {
    if (i > 0 && (intDigits.size() - i) % 3 == 0) out += ',';
    out += intDigits[i];
  }
  return out;
}

}  // namespace

// One rule for reals as text: the engine's, so that FloatToStr(x) and x used as text always agree.
std::string FloatToStr(double value) { return FloatToStrValue(value); }

std::string FloatToStrGeneral(double value, int precision) {
  if (!std::isfinite(value)) return NonFinite(value);
  precision = std::clamp(precision, 1, 18);
  return GeneralText(value, RoundSignificant(ExactDecimal(std::fabs(value)), precision), precision);
}

std::string FloatToStrExp(double value, int precision) {
  if (!std::isfinite(value)) return NonFinite(value);
  precision = std::clamp(precision, 1, 18);
  TDecimal d = RoundSignificant(ExactDecimal(std::fabs(value)), precision);
  std::string digits = d.digits.empty() ? "0" : d.digits;
  digits.resize(static_cast<size_t>(precision), '0');
  int e = d.digits.empty() ? 0 : SciExponent(d);
  std::string s = value < 0 && !d.digits.empty() ? "-" : "";
  s += digits.substr(0, 1);
  if (digits.size() > 1) s.append(1, '.').append(digits, 1);
  std::string exp = std::to_string(std::abs(e));
  if (exp.size() < 3) exp.insert(0, 3 - exp.size(), '0');
  return s + (e < 0 ? "E-" : "E+") + exp;
}

std::string FloatToStrFixed(double value, int decimals, bool thousands) {
  if (!std::isfinite(value)) return NonFinite(value);
  decimals = std::max(decimals, 0);
  TDecimal d = RoundFraction(ExactDecimal(std::fabs(value)), decimals);
  std::string intDigits, frac;
  FixedParts(d, decimals, intDigits, frac);
  if (thousands) intDigits = Group(intDigits);
  std::string sign = value < 0 && !d.digits.empty() ? "-" : "";
  std::string out = sign + intDigits;
  if (decimals > 0) out.append(1, '.').append(frac);
  return out;
}

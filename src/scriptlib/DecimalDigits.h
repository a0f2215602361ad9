// Exact decimal digits of a double and decimal rounding half away from zero, the rounding that
// FloatToStr, Format and FormatFloat use (the C library would round exact halves to even).
#pragma once

#include <string>

// value = 0.d1d2d3... x 10^exponent; digits has no leading or trailing zeros and is empty for zero.
struct TDecimal {
  std::string digits;
  int exponent = 0;
};

TDecimal ExactDecimal(double magnitude);
// Rounds to n significant digits (n >= 1).
TDecimal RoundSignificant(TDecimal d, int n);
// Rounds to f digits after the decimal point (f >= 0).
TDecimal RoundFraction(TDecimal d, int f);
// The integer digits ("0" when none) and exactly f fraction digits of d.
void FixedParts(const TDecimal& d, int f, std::string& intDigits, std::string& frac);

// Real numbers as text: FloatToStr's shortest form, the %e %f %g %n renderings of Format, and FormatFloat.
// "." is always the decimal separator and "," the thousands separator.
#pragma once

#include <string>
#include <string_view>

// Shortest text that reads back to the same value, with at most 15 significant digits (the
// engine's conversion of a real to text).
std::string FloatToStr(double value);
// Fixed or scientific, whichever is shorter, rounded to `precision` significant digits (1 to 18).
std::string FloatToStrGeneral(double value, int precision);
// d.ddd...E+ddd with `precision` significant digits (1 to 18) and at least three exponent digits.
std::string FloatToStrExp(double value, int precision);
// Fixed with `decimals` digits after the point, optionally with thousands separators.
std::string FloatToStrFixed(double value, int decimals, bool thousands);
// The float format string: placeholders 0 and #, ".", ",", E+ E- e+ e-, quoted literals, up to three sections.
std::string FormatFloat(std::string_view format, double value);

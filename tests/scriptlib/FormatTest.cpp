// Format, FloatToStr, FormatFloat and the decimal rounding under them, with hand-worked results.
#include "scriptlib/ConvertError.h"
#include "scriptlib/DecimalDigits.h"
#include "scriptlib/FloatText.h"
#include "scriptlib/SysFormat.h"

#include "script/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using A = TFormatArg;

std::string F(const char* fmt, std::vector<TFormatArg> args) { return Format(fmt, args); }

TEST(Format, IntegersWidthsAndPrecision) {
  EXPECT_EQ(F("%d", {A::Int(42)}), "42");
  EXPECT_EQ(F("[%5d]", {A::Int(42)}), "[   42]");
  EXPECT_EQ(F("[%-5d]", {A::Int(42)}), "[42   ]");
  EXPECT_EQ(F("%.4d", {A::Int(-42)}), "-0042");
  EXPECT_EQ(F("%d", {A::Int(-2147483648LL)}), "-2147483648");
  EXPECT_EQ(F("%u", {A::Int(-1)}), "4294967295");
  EXPECT_EQ(F("%x", {A::Int(255)}), "FF");
  EXPECT_EQ(F("%.4X", {A::Int(255)}), "00FF");
  EXPECT_EQ(F("%x", {A::Int(-1)}), "FFFFFFFF");
  EXPECT_EQ(F("%p", {A::Int(255)}), "000000FF");
}

TEST(Format, StringsPercentAndLiterals) {
  EXPECT_EQ(F("%s-%s", {A::Text("ab"), A::Text("cd")}), "ab-cd");
  EXPECT_EQ(F("%.2s", {A::Text("abcdef")}), "ab");
  EXPECT_EQ(F("[%5s]", {A::Text("abc")}), "[  abc]");
  EXPECT_EQ(F("100%%", {}), "100%");
  EXPECT_EQ(F("no directives", {}), "no directives");
}

TEST(Format, RealsRoundHalfAwayFromZero) {
  EXPECT_EQ(F("%f", {A::Real(3.14159)}), "3.14");
  EXPECT_EQ(F("%.3f", {A::Real(2.5)}), "2.500");
  EXPECT_EQ(F("%.1f", {A::Real(2.25)}), "2.3");  // exact half: away from zero
  EXPECT_EQ(F("%.2f", {A::Real(-0.125)}), "-0.13");
  EXPECT_EQ(F("%.0f", {A::Real(0.5)}), "1");
  EXPECT_EQ(F("%.2f", {A::Real(-0.001)}), "0.00");  // no minus sign on a rounded zero
  EXPECT_EQ(F("%e", {A::Real(1234.5)}), "1.23450000000000E+003");
  EXPECT_EQ(F("%.3e", {A::Real(-0.0012345)}), "-1.23E-003");
  EXPECT_EQ(F("%g", {A::Real(0.5)}), "0.5");
  EXPECT_EQ(F("%g", {A::Real(1e20)}), "1E20");
  EXPECT_EQ(F("%n", {A::Real(1234567.891)}), "1,234,567.89");
  EXPECT_EQ(F("%.0n", {A::Real(999.5)}), "1,000");
  EXPECT_EQ(F("%m", {A::Real(1234.5)}), "1,234.50");
  EXPECT_EQ(F("%f", {A::Real(INFINITY)}), "INF");
}

TEST(Format, IndexAndStarArguments) {
  EXPECT_EQ(F("%1:s %0:s", {A::Text("a"), A::Text("b")}), "b a");
  EXPECT_EQ(F("%1:s %s", {A::Text("a"), A::Text("b"), A::Text("c")}), "b c");
  EXPECT_EQ(F("[%*d]", {A::Int(5), A::Int(42)}), "[   42]");
  EXPECT_EQ(F("[%-*d]", {A::Int(4), A::Int(7)}), "[7   ]");
  EXPECT_EQ(F("[%*d]", {A::Int(-4), A::Int(7)}), "[7   ]");
  EXPECT_EQ(F("%.*f", {A::Int(1), A::Real(2.25)}), "2.3");
}

TEST(Format, TooFewArgumentsIsAnErrorNotARead) {
  EXPECT_THROW(F("%d %d", {A::Int(1)}), EConvertError);
  EXPECT_THROW(F("%s", {}), EConvertError);
  EXPECT_THROW(F("%*d", {A::Int(3)}), EConvertError);
  EXPECT_THROW(F("%5:d", {A::Int(1)}), EConvertError);
  try {
    F("%d %d", {A::Int(1)});
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "No argument for format '%d %d'");
  }
}

TEST(Format, MismatchedAndBadFormatTexts) {
  EXPECT_THROW(F("%d", {A::Real(1.5)}), EConvertError);
  EXPECT_THROW(F("%f", {A::Int(1)}), EConvertError);
  EXPECT_THROW(F("%s", {A::Int(1)}), EConvertError);
  EXPECT_THROW(F("%d", {A::Text("1")}), EConvertError);
  EXPECT_THROW(F("%", {A::Int(1)}), EConvertError);
  EXPECT_THROW(F("%5", {A::Int(1)}), EConvertError);
  EXPECT_THROW(F("%z", {A::Int(1)}), EConvertError);
  EXPECT_THROW(F("%-:d", {A::Int(1)}), EConvertError);
  try {
    F("%q", {A::Int(1)});
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Format '%q' invalid or incompatible with argument");
  }
}

TEST(Format, HugeWidthsAreRefusedNotAllocated) {
  EXPECT_THROW(F("%999999999d", {A::Int(1)}), EConvertError);
  EXPECT_THROW(F("%99999999999999999999999d", {A::Int(1)}), EConvertError);
  EXPECT_THROW(F("%.999999999f", {A::Real(1)}), EConvertError);
  EXPECT_THROW(F("%*d", {A::Int(2000000000), A::Int(1)}), EConvertError);
  EXPECT_EQ(F("%1000d", {A::Int(1)}).size(), 1000u);
}

TEST(Format, RandomFormatTextsNeverCrash) {
  std::mt19937 rng(7);
  const std::string alphabet = "%-.:*0123456789dsfxXegnmpu ";
  std::vector<TFormatArg> args = {A::Int(3), A::Real(2.5), A::Text("t"), A::Int(-7)};
  for (int i = 0; i < 20000; ++i) {
    std::string fmt;
    for (int k = rng() % 12; k > 0; --k) fmt += alphabet[rng() % alphabet.size()];
    try {
      std::string out = Format(fmt, args);
      EXPECT_LE(out.size(), fmt.size() * 4 * 65536 + 100);
    } catch (const EConvertError&) {
    }
  }
}

TEST(FloatToStr, ShortestTextThatReadsBack) {
  EXPECT_EQ(FloatToStr(0), "0");
  EXPECT_EQ(FloatToStr(1.5), "1.5");
  EXPECT_EQ(FloatToStr(-2.25), "-2.25");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(FloatToStr(100), "100");
  EXPECT_EQ(FloatToStr(2147483648.0), "2147483648");
  EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
  EXPECT_EQ(FloatToStr(1e15), "1E15");
  EXPECT_EQ(FloatToStr(1.5e20), "1.5E20");
  EXPECT_EQ(FloatToStr(0.00001), "0.00001");
  EXPECT_EQ(FloatToStr(0.000001), "1E-6");
  EXPECT_EQ(FloatToStr(-1.25e-7), "-1.25E-7");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToStr(NAN), "NAN");
  EXPECT_EQ(FloatToStr(-INFINITY), "-INF");
}

TEST(FormatFloat, PlaceholdersAndSeparators) {
  EXPECT_EQ(FormatFloat("0.00", 3.14159), "3.14");
  EXPECT_EQ(FormatFloat("#.##", 3.1), "3.1");
  EXPECT_EQ(FormatFloat("0.##", 1), "1");
  EXPECT_EQ(FormatFloat("000", 7), "007");
  EXPECT_EQ(FormatFloat("#", 0), "");
  EXPECT_EQ(FormatFloat("0", 0.5), "1");
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1,234,567.89");
  EXPECT_EQ(FormatFloat("#,##0", 999), "999");
  EXPECT_EQ(FormatFloat("0.00", -1.005), "-1.00");  // -1.005 is really -1.00499999...
  EXPECT_EQ(FormatFloat("0", 12345), "12345");      // digits beyond the placeholders still appear
  EXPECT_EQ(FormatFloat(".00", 0.5), ".50");
  EXPECT_EQ(FormatFloat("", 2.5), "2.5");
}

TEST(FormatFloat, ExponentsLiteralsAndSections) {
  EXPECT_EQ(FormatFloat("0.00E+00", 12345), "1.23E+04");
  EXPECT_EQ(FormatFloat("0.00E-00", 12345), "1.23E04");
  EXPECT_EQ(FormatFloat("0.0e+0", 0.00012), "1.2e-4");
  EXPECT_EQ(FormatFloat("00.0E+0", 12345), "12.3E+3");
  EXPECT_EQ(FormatFloat("0.0 'kg'", 2.5), "2.5 kg");
  EXPECT_EQ(FormatFloat("\"<\"0\">\"", 3), "<3>");
  EXPECT_EQ(FormatFloat("0.0;(0.0);zero", 1.5), "1.5");
  EXPECT_EQ(FormatFloat("0.0;(0.0);zero", -1.5), "(1.5)");
  EXPECT_EQ(FormatFloat("0.0;(0.0);zero", 0), "zero");
  EXPECT_EQ(FormatFloat("0.0;;zero", -2), "-2.0");
  EXPECT_EQ(FormatFloat("0.0", -0.01), "0.0");
  EXPECT_EQ(FormatFloat("0.00", INFINITY), "INF");
}

TEST(FormatFloat, RandomFormatsAndValuesNeverCrash) {
  std::mt19937 rng(5);
  const std::string alphabet = "0#.,;Ee+-'\"x ";
  const double values[] = {0, -0.0, 1, -1, 0.5, 123456.789, -9.99e-7, 1e300, -1e-300, 5e-324, 2147483648.0};
  for (int i = 0; i < 20000; ++i) {
    std::string fmt;
    for (int k = rng() % 10; k > 0; --k) fmt += alphabet[rng() % alphabet.size()];
    double v = values[rng() % (sizeof(values) / sizeof(values[0]))];
    std::string out = FormatFloat(fmt, v);
    EXPECT_LE(out.size(), fmt.size() + 700) << fmt;  // digits of the largest double plus the literals
  }
}

TEST(DecimalDigits, ExactDigitsAndCarry) {
  TDecimal d = ExactDecimal(0.125);
  EXPECT_EQ(d.digits, "125");
  EXPECT_EQ(d.exponent, 0);
  d = RoundSignificant(ExactDecimal(9.995), 3);  // 9.9949999... stays below the half
  EXPECT_EQ(d.digits, "999");
  d = RoundSignificant(ExactDecimal(9.9996), 3);
  EXPECT_EQ(d.digits, "1");
  EXPECT_EQ(d.exponent, 2);
  d = RoundFraction(ExactDecimal(0.0004), 3);
  EXPECT_TRUE(d.digits.empty());
}

}  // namespace

// Format, FloatToStr, FormatFloat and the decimal rounding under them, with hand-worked results: tables of
// format text, arguments and the expected text, one test per row.
#include "scriptlib/ConvertError.h"
#include "scriptlib/DecimalDigits.h"
#include "scriptlib/FloatText.h"
#include "scriptlib/SysFormat.h"

#include "script/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>

namespace {

using A = TFormatArg;

std::string F(const char* fmt, std::vector<TFormatArg> args) { return Format(fmt, args); }

// The message of the error Format raises; "" when it raises none.
std::string FormatError(const char* fmt, std::vector<TFormatArg> args) {
  try {
    Format(fmt, args);
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "";
}

struct TFormatCase {
  const char* fmt;
  std::vector<TFormatArg> args;
  const char* expected = "";
};
void PrintTo(const TFormatCase& c, std::ostream* os) { *os << "Format('" << c.fmt << "') -> \"" << c.expected << '"'; }

class FormatRenders : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(FormatRenders, TheExpectedText) { EXPECT_EQ(F(GetParam().fmt, GetParam().args), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(IntegersWidthsAndPrecision, FormatRenders,
                         ::testing::ValuesIn(std::vector<TFormatCase>{
                             {"%d", {A::Int(42)}, "42"},
                             {"[%5d]", {A::Int(42)}, "[   42]"},
                             {"[%-5d]", {A::Int(42)}, "[42   ]"},
                             {"%.4d", {A::Int(-42)}, "-0042"},
                             {"%d", {A::Int(-2147483648LL)}, "-2147483648"},
                             {"%u", {A::Int(-1)}, "4294967295"},
                             {"%x", {A::Int(255)}, "FF"},
                             {"%.4X", {A::Int(255)}, "00FF"},
                             {"%x", {A::Int(-1)}, "FFFFFFFF"},
                             {"%p", {A::Int(255)}, "000000FF"},
                         }));

INSTANTIATE_TEST_SUITE_P(StringsPercentAndLiterals, FormatRenders,
                         ::testing::ValuesIn(std::vector<TFormatCase>{
                             {"%s-%s", {A::Text("ab"), A::Text("cd")}, "ab-cd"},
                             {"%.2s", {A::Text("abcdef")}, "ab"},
                             {"[%5s]", {A::Text("abc")}, "[  abc]"},
                             {"100%%", {}, "100%"},
                             {"no directives", {}, "no directives"},
                         }));

INSTANTIATE_TEST_SUITE_P(RealsRoundHalfAwayFromZero, FormatRenders,
                         ::testing::ValuesIn(std::vector<TFormatCase>{
                             {"%f", {A::Real(3.14159)}, "3.14"},
                             {"%.3f", {A::Real(2.5)}, "2.500"},
                             {"%.1f", {A::Real(2.25)}, "2.3"},  // exact half: away from zero
                             {"%.2f", {A::Real(-0.125)}, "-0.13"},
                             {"%.0f", {A::Real(0.5)}, "1"},
                             {"%.2f", {A::Real(-0.001)}, "0.00"},  // no minus sign on a rounded zero
                             {"%e", {A::Real(1234.5)}, "1.23450000000000E+003"},
                             {"%.3e", {A::Real(-0.0012345)}, "-1.23E-003"},
                             {"%g", {A::Real(0.5)}, "0.5"},
                             {"%g", {A::Real(1e20)}, "1E20"},
                             {"%n", {A::Real(1234567.891)}, "1,234,567.89"},
                             {"%.0n", {A::Real(999.5)}, "1,000"},
                             {"%m", {A::Real(1234.5)}, "1,234.50"},
                             {"%f", {A::Real(INFINITY)}, "INF"},
                         }));

INSTANTIATE_TEST_SUITE_P(IndexAndStarArguments, FormatRenders,
                         ::testing::ValuesIn(std::vector<TFormatCase>{
                             {"%1:s %0:s", {A::Text("a"), A::Text("b")}, "b a"},
                             {"%1:s %s", {A::Text("a"), A::Text("b"), A::Text("c")}, "b c"},
                             {"[%*d]", {A::Int(5), A::Int(42)}, "[   42]"},
                             {"[%-*d]", {A::Int(4), A::Int(7)}, "[7   ]"},
                             {"[%*d]", {A::Int(-4), A::Int(7)}, "[7   ]"},
                             {"%.*f", {A::Int(1), A::Real(2.25)}, "2.3"},
                         }));

class FormatRefuses : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(FormatRefuses, WithAConvertError) { EXPECT_THROW(F(GetParam().fmt, GetParam().args), EConvertError); }

INSTANTIATE_TEST_SUITE_P(TooFewArgumentsIsAnErrorNotARead, FormatRefuses,
                         ::testing::ValuesIn(std::vector<TFormatCase>{
                             {"%d %d", {A::Int(1)}},
                             {"%s", {}},
                             {"%*d", {A::Int(3)}},
                             {"%5:d", {A::Int(1)}},
                         }));

INSTANTIATE_TEST_SUITE_P(MismatchedAndBadFormatTexts, FormatRefuses,
                         ::testing::ValuesIn(std::vector<TFormatCase>{
                             {"%d", {A::Real(1.5)}},
                             {"%f", {A::Int(1)}},
                             {"%s", {A::Int(1)}},
                             {"%d", {A::Text("1")}},
                             {"%", {A::Int(1)}},
                             {"%5", {A::Int(1)}},
                             {"%z", {A::Int(1)}},
                             {"%-:d", {A::Int(1)}},
                         }));

INSTANTIATE_TEST_SUITE_P(HugeWidthsAreRefusedNotAllocated, FormatRefuses,
                         ::testing::ValuesIn(std::vector<TFormatCase>{
                             {"%999999999d", {A::Int(1)}},
                             {"%99999999999999999999999d", {A::Int(1)}},
                             {"%.999999999f", {A::Real(1)}},
                             {"%*d", {A::Int(2000000000), A::Int(1)}},
                         }));

TEST(Format, TooFewArgumentsIsAnErrorNotARead) {
  EXPECT_EQ(FormatError("%d %d", {A::Int(1)}), "No argument for format '%d %d'");
}

TEST(Format, MismatchedAndBadFormatTexts) {
  EXPECT_EQ(FormatError("%q", {A::Int(1)}), "Format '%q' invalid or incompatible with argument");
}

TEST(Format, HugeWidthsAreRefusedNotAllocated) { EXPECT_EQ(F("%1000d", {A::Int(1)}).size(), 1000u); }

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

struct TFloatCase {
  double value;
  const char* expected;
};
void PrintTo(const TFloatCase& c, std::ostream* os) {
  *os << "FloatToStr(" << c.value << ") -> \"" << c.expected << '"';
}

class FloatToStrGives : public ::testing::TestWithParam<TFloatCase> {};

TEST_P(FloatToStrGives, TheExpectedText) { EXPECT_EQ(FloatToStr(GetParam().value), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(ShortestTextThatReadsBack, FloatToStrGives,
                         ::testing::ValuesIn(std::vector<TFloatCase>{
                             {0, "0"},
                             {1.5, "1.5"},
                             {-2.25, "-2.25"},
                             {0.1, "0.1"},
                             {1.0 / 3, "0.333333333333333"},
                             {2.0 / 3, "0.666666666666667"},
                             {100, "100"},
                             {2147483648.0, "2147483648"},
                             {123456789012345.0, "123456789012345"},
                             {1e15, "1E15"},
                             {1.5e20, "1.5E20"},
                             {0.00001, "0.00001"},
                             {0.000001, "1E-6"},
                             {-1.25e-7, "-1.25E-7"},
                             {0.1 + 0.2, "0.3"},
                             {NAN, "NAN"},
                             {-INFINITY, "-INF"},
                         }));

struct TFormatFloatCase {
  const char* fmt;
  double value;
  const char* expected;
};
void PrintTo(const TFormatFloatCase& c, std::ostream* os) {
  *os << "FormatFloat('" << c.fmt << "', " << c.value << ") -> \"" << c.expected << '"';
}

class FormatFloatGives : public ::testing::TestWithParam<TFormatFloatCase> {};

TEST_P(FormatFloatGives, TheExpectedText) {
  EXPECT_EQ(FormatFloat(GetParam().fmt, GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(PlaceholdersAndSeparators, FormatFloatGives,
                         ::testing::ValuesIn(std::vector<TFormatFloatCase>{
                             {"0.00", 3.14159, "3.14"},
                             {"#.##", 3.1, "3.1"},
                             {"0.##", 1, "1"},
                             {"000", 7, "007"},
                             {"#", 0, ""},
                             {"0", 0.5, "1"},
                             {"#,##0.00", 1234567.891, "1,234,567.89"},
                             {"#,##0", 999, "999"},
                             {"0.00", -1.005, "-1.00"},  // -1.005 is really -1.00499999...
                             {"0", 12345, "12345"},      // digits beyond the placeholders still appear
                             {".00", 0.5, ".50"},
                             {"", 2.5, "2.5"},
                         }));

INSTANTIATE_TEST_SUITE_P(ExponentsLiteralsAndSections, FormatFloatGives,
                         ::testing::ValuesIn(std::vector<TFormatFloatCase>{
                             {"0.00E+00", 12345, "1.23E+04"},
                             {"0.00E-00", 12345, "1.23E04"},
                             {"0.0e+0", 0.00012, "1.2e-4"},
                             {"00.0E+0", 12345, "12.3E+3"},
                             {"0.0 'kg'", 2.5, "2.5 kg"},
                             {"\"<\"0\">\"", 3, "<3>"},
                             {"0.0;(0.0);zero", 1.5, "1.5"},
                             {"0.0;(0.0);zero", -1.5, "(1.5)"},
                             {"0.0;(0.0);zero", 0, "zero"},
                             {"0.0;;zero", -2, "-2.0"},
                             {"0.0", -0.01, "0.0"},
                             {"0.00", INFINITY, "INF"},
                         }));

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

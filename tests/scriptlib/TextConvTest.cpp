// Conversion and string editing functions of the library, edge cases worked out by hand; the
// functions of one text and a result as tables, one test per row.
#include "scriptlib/ConvertError.h"
#include "scriptlib/TextConv.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

namespace {

struct TIntCase {
  const char* text;
  int64_t value;
};
void PrintTo(const TIntCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class StrToIntReads : public ::testing::TestWithParam<TIntCase> {};

TEST_P(StrToIntReads, TheValue) { EXPECT_EQ(StrToIntText(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(StrToIntAcceptsDecimalAndHexOnly, StrToIntReads,
                         ::testing::ValuesIn(std::vector<TIntCase>{
                             {"42", 42},
                             {"  -17", -17},
                             {"$FF", 255},
                             {"0x10", 16},
                             {"-2147483648", INT32_MIN},
                         }));

class StrToIntRefuses : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToIntRefuses, WithAConvertError) { EXPECT_THROW(StrToIntText(GetParam()), EConvertError); }

INSTANTIATE_TEST_SUITE_P(StrToIntAcceptsDecimalAndHexOnly, StrToIntRefuses,
                         ::testing::Values("2147483648", "12x", "1.5", "", "42 "));

TEST(TextConv, StrToIntAcceptsDecimalAndHexOnly) {
  try {
    StrToIntText("abc");
    ADD_FAILURE() << "no error for 'abc'";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
}

struct TFloatCase {
  const char* text;
  double value;
};
void PrintTo(const TFloatCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class StrToFloatReads : public ::testing::TestWithParam<TFloatCase> {};

TEST_P(StrToFloatReads, TheValue) { EXPECT_DOUBLE_EQ(StrToFloatText(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(StrToFloatUsesThePoint, StrToFloatReads,
                         ::testing::ValuesIn(std::vector<TFloatCase>{
                             {"1.5", 1.5},
                             {" -2.5e3 ", -2500},
                             {".5", 0.5},
                         }));

class StrToFloatRefuses : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToFloatRefuses, WithAConvertError) { EXPECT_THROW(StrToFloatText(GetParam()), EConvertError); }

INSTANTIATE_TEST_SUITE_P(StrToFloatUsesThePoint, StrToFloatRefuses, ::testing::Values("1,5", "x", "1e999", ""));

TEST(TextConv, ValGivesIntegerRealOrThePositionOfTheFault) {
  TValResult r = ValText("12");
  EXPECT_TRUE(r.isInteger);
  EXPECT_EQ(r.integer, 12);
  EXPECT_EQ(r.code, 0);
  r = ValText("1.5");
  EXPECT_FALSE(r.isInteger);
  EXPECT_DOUBLE_EQ(r.real, 1.5);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(ValText("12x").code, 3);
  EXPECT_EQ(ValText("  7").code, 0);
  EXPECT_EQ(ValText("7 ").code, 2);
  EXPECT_EQ(ValText("x").code, 1);
  EXPECT_EQ(ValText("").code, 1);
  EXPECT_EQ(ValText("-").code, 2);
  r = ValText("2.0");
  EXPECT_TRUE(r.isInteger);
  EXPECT_EQ(r.integer, 2);
  r = ValText("1e10");  // no fraction, but beyond 32 bits
  EXPECT_FALSE(r.isInteger);
  EXPECT_DOUBLE_EQ(r.real, 1e10);
}

struct THexCase {
  int64_t value;
  int digits;
  const char* text;
};
void PrintTo(const THexCase& c, std::ostream* os) { *os << c.value << ", " << c.digits; }

class IntToHexGives : public ::testing::TestWithParam<THexCase> {};

TEST_P(IntToHexGives, TheText) { EXPECT_EQ(IntToHexText(GetParam().value, GetParam().digits), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(IntToHexIsUpperCaseAnd32Bit, IntToHexGives,
                         ::testing::ValuesIn(std::vector<THexCase>{
                             {255, 4, "00FF"},
                             {-1, 2, "FFFFFFFF"},
                             {0, 0, "0"},
                             {0xABC, 1, "ABC"},
                         }));

TEST(TextConv, IntToHexIsUpperCaseAnd32Bit) { EXPECT_THROW(IntToHexText(1, 100000000), EConvertError); }

TEST(TextConv, CaseMappingAndComparison) {
  EXPECT_EQ(AnsiUpperCaseText("abc\xC3\xA4z"), "ABC\xC3\x84Z");  // a-umlaut in UTF-8
  EXPECT_EQ(AnsiLowerCaseText("ABC\xC3\x84Z"), "abc\xC3\xA4z");
  EXPECT_EQ(AnsiUpperCaseText("\xC3\xB7"), "\xC3\xB7");  // the division sign has no case
  EXPECT_EQ(AnsiCompareTextText("abc", "ABC"), 0);
  EXPECT_LT(AnsiCompareTextText("abc", "ABD"), 0);
  EXPECT_LT(AnsiCompareStrText("a", "B"), 0);  // letters first, then case
  EXPECT_LT(AnsiCompareStrText("a", "A"), 0);
  EXPECT_GT(AnsiCompareStrText("B", "a"), 0);
  EXPECT_EQ(AnsiCompareStrText("x", "x"), 0);
}

TEST(TextConv, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(TrimText(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeftText("  a "), "a ");
  EXPECT_EQ(TrimRightText("  a \x01"), "  a");
  EXPECT_EQ(TrimText("   "), "");
}

struct TPosCase {
  const char* sub;
  const char* text;
  int pos;
};
void PrintTo(const TPosCase& c, std::ostream* os) { *os << '"' << c.sub << "\" in \"" << c.text << '"'; }

class PosFinds : public ::testing::TestWithParam<TPosCase> {};

TEST_P(PosFinds, TheOneBasedIndex) { EXPECT_EQ(PosText(GetParam().sub, GetParam().text), GetParam().pos); }

INSTANTIATE_TEST_SUITE_P(PosCopyDeleteInsertWithOneBasedIndexes, PosFinds,
                         ::testing::ValuesIn(std::vector<TPosCase>{
                             {"lo", "hello", 4},
                             {"", "hello", 0},
                             {"x", "hello", 0},
                         }));

struct TCopyCase {
  const char* text;
  int index, count;
  const char* copy;
};
void PrintTo(const TCopyCase& c, std::ostream* os) { *os << '"' << c.text << "\", " << c.index << ", " << c.count; }

class CopyTakes : public ::testing::TestWithParam<TCopyCase> {};

TEST_P(CopyTakes, ThePiece) {
  EXPECT_EQ(CopyText(GetParam().text, GetParam().index, GetParam().count), GetParam().copy);
}

INSTANTIATE_TEST_SUITE_P(PosCopyDeleteInsertWithOneBasedIndexes, CopyTakes,
                         ::testing::ValuesIn(std::vector<TCopyCase>{
                             {"hello", 4, 10, "lo"},
                             {"hello", 0, 2, "he"},
                             {"hello", -5, 2, "he"},
                             {"hello", 6, 1, ""},
                             {"hello", 2, -1, ""},
                         }));

TEST(TextConv, PosCopyDeleteInsertWithOneBasedIndexes) {
  std::string s = "hello";
  DeleteText(s, 0, 2);
  EXPECT_EQ(s, "hello");
  DeleteText(s, 2, 2);
  EXPECT_EQ(s, "hlo");
  DeleteText(s, 3, 100);
  EXPECT_EQ(s, "hl");
  DeleteText(s, 9, 1);
  EXPECT_EQ(s, "hl");
  s = "ac";
  InsertText("b", s, 2);
  EXPECT_EQ(s, "abc");
  InsertText("<", s, -3);
  EXPECT_EQ(s, "<abc");
  InsertText(">", s, 99);
  EXPECT_EQ(s, "<abc>");
  SetLengthText(s, 2);
  EXPECT_EQ(s, "<a");
  SetLengthText(s, 4);
  EXPECT_EQ(s, "<a  ");
  SetLengthText(s, -1);
  EXPECT_EQ(s, "");
}

}  // namespace

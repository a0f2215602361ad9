// Conversion and string editing functions of the library, edge cases worked out by hand.
#include "scriptlib/ConvertError.h"
#include "scriptlib/TextConv.h"

#include <gtest/gtest.h>

namespace {

TEST(TextConv, StrToIntAcceptsDecimalAndHexOnly) {
  EXPECT_EQ(StrToIntText("42"), 42);
  EXPECT_EQ(StrToIntText("  -17"), -17);
  EXPECT_EQ(StrToIntText("$FF"), 255);
  EXPECT_EQ(StrToIntText("0x10"), 16);
  EXPECT_EQ(StrToIntText("-2147483648"), INT32_MIN);
  EXPECT_THROW(StrToIntText("2147483648"), EConvertError);
  EXPECT_THROW(StrToIntText("12x"), EConvertError);
  EXPECT_THROW(StrToIntText("1.5"), EConvertError);
  EXPECT_THROW(StrToIntText(""), EConvertError);
  EXPECT_THROW(StrToIntText("42 "), EConvertError);
  try {
    StrToIntText("abc");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
}

TEST(TextConv, StrToFloatUsesThePoint) {
  EXPECT_DOUBLE_EQ(StrToFloatText("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(StrToFloatText(" -2.5e3 "), -2500);
  EXPECT_DOUBLE_EQ(StrToFloatText(".5"), 0.5);
  EXPECT_THROW(StrToFloatText("1,5"), EConvertError);
  EXPECT_THROW(StrToFloatText("x"), EConvertError);
  EXPECT_THROW(StrToFloatText("1e999"), EConvertError);
  EXPECT_THROW(StrToFloatText(""), EConvertError);
}

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

TEST(TextConv, IntToHexIsUpperCaseAnd32Bit) {
  EXPECT_EQ(IntToHexText(255, 4), "00FF");
  EXPECT_EQ(IntToHexText(-1, 2), "FFFFFFFF");
  EXPECT_EQ(IntToHexText(0, 0), "0");
  EXPECT_EQ(IntToHexText(0xABC, 1), "ABC");
  EXPECT_THROW(IntToHexText(1, 100000000), EConvertError);
}

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

TEST(TextConv, PosCopyDeleteInsertWithOneBasedIndexes) {
  EXPECT_EQ(PosText("lo", "hello"), 4);
  EXPECT_EQ(PosText("", "hello"), 0);
  EXPECT_EQ(PosText("x", "hello"), 0);
  EXPECT_EQ(CopyText("hello", 4, 10), "lo");
  EXPECT_EQ(CopyText("hello", 0, 2), "he");
  EXPECT_EQ(CopyText("hello", -5, 2), "he");
  EXPECT_EQ(CopyText("hello", 6, 1), "");
  EXPECT_EQ(CopyText("hello", 2, -1), "");
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

// The command-line token rule, TArguments' conversions and the script name rule.
#include "scriptlib/Arguments.h"
#include "scriptlib/Instscript.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandToken, BlanksQuotesAndEmptyTokens) {
  EXPECT_EQ(SplitCommandLine("  a  bb   c "), (std::vector<std::string>{"a", "bb", "c"}));
  EXPECT_EQ(SplitCommandLine("\"my script\" 1 '2 3'"), (std::vector<std::string>{"my script", "1", "2 3"}));
  EXPECT_EQ(SplitCommandLine("\"\" ''"), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(SplitCommandLine("'it\"s' x"), (std::vector<std::string>{"it\"s", "x"}));
  EXPECT_EQ(SplitCommandLine("\"unterminated rest"), (std::vector<std::string>{"unterminated rest"}));
  EXPECT_EQ(SplitCommandLine("a\tb"), (std::vector<std::string>{"a\tb"}));  // blanks are spaces only
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(CommandToken, LongTokensKeep299CharactersAndTheRestIsConsumed) {
  std::string longToken(500, 'x');
  std::vector<std::string> t = SplitCommandLine(longToken + " next");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].size(), 299u);
  EXPECT_EQ(t[1], "next");
}

TEST(CommandToken, PositionMovesPastTheClosingQuote) {
  size_t pos = 0;
  std::string tok;
  ASSERT_TRUE(ReadCommandToken("\"a b\"c d", pos, tok));
  EXPECT_EQ(tok, "a b");
  ASSERT_TRUE(ReadCommandToken("\"a b\"c d", pos, tok));
  EXPECT_EQ(tok, "c");
  ASSERT_TRUE(ReadCommandToken("\"a b\"c d", pos, tok));
  EXPECT_EQ(tok, "d");
  EXPECT_FALSE(ReadCommandToken("\"a b\"c d", pos, tok));
}

TEST(Arguments, ConversionsAndRanges) {
  auto args = TArguments::FromText("42 2.9 -2.9 7abc abc \"two words\" 99999999999 1e300");
  EXPECT_EQ(args->Count(), 8);
  EXPECT_EQ(args->Integer(0), 42);
  EXPECT_EQ(args->Double(1), 2);
  EXPECT_EQ(args->Double(2), -2);
  EXPECT_EQ(args->Integer(1), 2);  // leading-number rule
  EXPECT_EQ(args->Integer(3), 7);
  EXPECT_EQ(args->Integer(4), 0);
  EXPECT_EQ(args->String(5), "two words");
  EXPECT_EQ(args->Integer(6), INT32_MAX);  // clamped, not overflowed
  EXPECT_EQ(args->Double(7), INT32_MAX);
  EXPECT_EQ(args->String(8), "");
  EXPECT_EQ(args->Integer(-1), 0);
}

TEST(Arguments, AtMostTenAndIndexTenIsEmpty) {
  auto args = TArguments::FromText("0 1 2 3 4 5 6 7 8 9 10 11");
  EXPECT_EQ(args->Count(), 10);
  EXPECT_EQ(args->String(9), "9");
  EXPECT_EQ(args->String(10), "");
  TArguments fromList(std::vector<std::string>(12, "x"));
  EXPECT_EQ(fromList.Count(), 10);
}

TEST(ScriptName, PasIsAppendedUnlessTheNameEndsWithIt) {
  EXPECT_EQ(ScriptFileName("test"), "test.pas");
  EXPECT_EQ(ScriptFileName("Test.PAS"), "Test.PAS");
  EXPECT_EQ(ScriptFileName("x.hal"), "x.hal.pas");
  EXPECT_EQ(ScriptFileName("pas"), "pas.pas");
  EXPECT_EQ(ScriptFileName("a.pAs"), "a.pAs");
  EXPECT_EQ(ScriptFileName("xpas"), "xpas.pas");
}

}  // namespace

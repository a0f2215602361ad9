// The reader: comments, literals, identifiers, line counting and the end of the text; tables of texts
// with the tokens read from them or the error they raise, one test per row.
#include <gtest/gtest.h>

#include "ScriptTestUtil.h"

#include <ostream>

namespace {
// Reads every token of src; each as "code:value".
std::vector<std::string> Tokens(const std::string& src) {
  std::string image;
  THalCompiler c(src, image);
  std::vector<std::string> out;
  for (int guard = 0; guard < 1000; ++guard) {
    TToken t;
    c.ReadToken(t);
    if (t.code == tkEOF) break;
    out.push_back(std::to_string(t.code) + ":" + t.value.AsString());
  }
  return out;
}

std::string LexError(const std::string& src) {
  try {
    Tokens(src);
  } catch (const ECompilerError& e) {
    return e.what();
  }
  return "";
}

using V = std::vector<std::string>;

struct TTokensCase {
  const char* src;
  V tokens;
};
void PrintTo(const TTokensCase& c, std::ostream* os) { *os << '"' << c.src << '"'; }

class LexerTokens : public ::testing::TestWithParam<TTokensCase> {};

TEST_P(LexerTokens, AreRead) { EXPECT_EQ(Tokens(GetParam().src), GetParam().tokens); }

struct TErrorCase {
  const char* src;
  const char* message;
};
void PrintTo(const TErrorCase& c, std::ostream* os) { *os << '"' << c.src << '"'; }

class LexerError : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(LexerError, IsRaised) { EXPECT_EQ(LexError(GetParam().src), GetParam().message); }

}  // namespace

INSTANTIATE_TEST_SUITE_P(LineCommentsEndAtAnyControlCharacter, LexerTokens,
                         ::testing::ValuesIn(std::vector<TTokensCase>{
                             {"a // comment\nb", {"256:A", "256:B"}},
                             // a tab ends a // comment: the rest of the line is code again
                             {"a // x\tb", {"256:A", "256:B"}},
                             {"a -- x\tc", {"256:A", "256:C"}},
                             // a--b is A followed by a comment
                             {"a--b\nc", {"256:A", "256:C"}},
                             {"a-b", {"256:A", "45:0", "256:B"}},
                             {"a/b", {"256:A", "47:0", "256:B"}},
                             {"// only a comment", {}},
                         }));

INSTANTIATE_TEST_SUITE_P(BlockComments, LexerTokens,
                         ::testing::ValuesIn(std::vector<TTokensCase>{
                             {"a { skip } b", {"256:A", "256:B"}},
                             {"a /* x * y */ b", {"256:A", "256:B"}},
                             // "(*" closes at "*)"
                             {"a (* x *) b (* *) c", {"256:A", "256:B", "256:C"}},
                             {"(a)", {"40:0", "256:A", "41:0"}},
                         }));

INSTANTIATE_TEST_SUITE_P(BlockComments, LexerError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"a { never closed", "Syntax error line 1: Unexpected EOF in comment block"},
                             {"a /* never closed *", "Syntax error line 1: Unexpected EOF in comment block"},
                             {"a (* x\n*( y", "Syntax error line 2: Unexpected EOF in comment block"},
                         }));

INSTANTIATE_TEST_SUITE_P(StringLiterals, LexerTokens,
                         ::testing::ValuesIn(std::vector<TTokensCase>{
                             {"'it''s'", {"257:it's"}},
                             {"\"say \"\"hi\"\"\"", {"257:say \"hi\""}},
                             {"'a\"b'", {"257:a\"b"}},
                             {"'two\nlines'", {"257:two\nlines"}},
                             {"''", {"257:"}},
                         }));

INSTANTIATE_TEST_SUITE_P(StringLiterals, LexerError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"x := 'open", "Syntax error line 1: Unexpected EOF in string constant declaration"},
                         }));

INSTANTIATE_TEST_SUITE_P(NumbersHexAndCharacters, LexerTokens,
                         ::testing::ValuesIn(std::vector<TTokensCase>{
                             {"12", {"258:12"}},
                             // real numbers are three tokens: number, ".", number
                             {"1.5", {"258:1", "46:0", "258:5"}},
                             // $1F: the character $ then a number token whose text is 1F
                             {"$1F", {"36:0", "258:1F"}},
                             {"$1f", {"36:0", "258:1F"}},
                             {"0x1f", {"262:1F"}},
                             {"0X1f", {"262:1F"}},
                             {"#65", {"35:0", "258:65"}},
                         }));

INSTANTIATE_TEST_SUITE_P(NumbersHexAndCharacters, LexerError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"12AB", "Syntax error line 1: Bad identifier <12AB>"},
                             // the hex flag covers only the word right after "$"
                             {"$1F + 1F", "Syntax error line 1: Bad identifier <1F>"},
                         }));

INSTANTIATE_TEST_SUITE_P(IdentifiersAndReservedWords, LexerTokens,
                         ::testing::ValuesIn(std::vector<TTokensCase>{
                             {"begin End wHiLe _x1", {"1004:BEGIN", "1005:END", "1019:WHILE", "256:_X1"}},
                             {"Program procedure StdCall Includes",
                              {"1000:PROGRAM", "1041:PROCEDURE", "1069:STDCALL", "1060:INCLUDES"}},
                         }));

INSTANTIATE_TEST_SUITE_P(IdentifiersAndReservedWords, LexerError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             // !, ?, backslash and backquote do not end a word
                             {"A!B", "Syntax error line 1: Bad identifier name <A!B>"},
                             {"x?", "Syntax error line 1: Bad identifier name <X?>"},
                             {"a\\b", "Syntax error line 1: Bad identifier name <A\\B>"},
                         }));

INSTANTIATE_TEST_SUITE_P(LinesCountOnlyLineFeeds, LexerError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"a\r\rb\r12X", "Syntax error line 1: Bad identifier <12X>"},
                             {"a\n\nb\r\n12X", "Syntax error line 4: Bad identifier <12X>"},
                         }));

TEST(Lexer, IdentifiersAndReservedWords) {
  // reserved constants
  EXPECT_EQ(Tokens("mbRight").size(), 1u);
  EXPECT_EQ(Tokens("mbRight")[0].substr(0, 4), "261:");
}

TEST(Lexer, LinesCountOnlyLineFeeds) {
  // a look-ahead does not count a line twice
  std::string image;
  THalCompiler c("a\nb\nc", image);
  TToken t;
  c.ReadToken(t);
  c.NextToken(t);  // reads "\nb\n": the word ends at the second line feed
  c.NextToken(t);
  EXPECT_EQ(c.GetLineNumber(), 3);
  c.ReadToken(t);
  c.ReadToken(t);
  EXPECT_EQ(c.GetLineNumber(), 3);
  int line = 0, col = 0;
  c.ConvertCurPos(line, col);
  EXPECT_EQ(line, 3);
  EXPECT_EQ(col, 2);
}

TEST(Lexer, EndOfTextRepeats) {
  std::string image;
  THalCompiler c("x", image);
  TToken t;
  c.ReadToken(t);
  for (int i = 0; i < 5; ++i) {
    c.ReadToken(t);
    EXPECT_EQ(t.code, tkEOF);
  }
  EXPECT_EQ(c.ReadByte(), 0);
  EXPECT_EQ(c.ReadByte(), 0);
  c.BackBytes(100);  // would go below 0: nothing happens
  EXPECT_EQ(c.ReadByte(), 0);
  EXPECT_EQ(Hex2Dec("1F"), 31);
  EXPECT_EQ(Hex2Dec("$ff"), 255);
  EXPECT_EQ(Hex2Dec("zz"), 0);
}

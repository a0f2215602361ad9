// The reader: comments, literals, identifiers, line counting and the end of the text.
#include <gtest/gtest.h>

#include "ScriptTestUtil.h"

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
}  // namespace

TEST(Lexer, LineCommentsEndAtAnyControlCharacter) {
  EXPECT_EQ(Tokens("a // comment\nb"), (V{"256:A", "256:B"}));
  // a tab ends a // comment: the rest of the line is code again
  EXPECT_EQ(Tokens("a // x\tb"), (V{"256:A", "256:B"}));
  EXPECT_EQ(Tokens("a -- x\tc"), (V{"256:A", "256:C"}));
  // a--b is A followed by a comment
  EXPECT_EQ(Tokens("a--b\nc"), (V{"256:A", "256:C"}));
  EXPECT_EQ(Tokens("a-b"), (V{"256:A", "45:0", "256:B"}));
  EXPECT_EQ(Tokens("a/b"), (V{"256:A", "47:0", "256:B"}));
  EXPECT_EQ(Tokens("// only a comment"), V{});
}

TEST(Lexer, BlockComments) {
  EXPECT_EQ(Tokens("a { skip } b"), (V{"256:A", "256:B"}));
  EXPECT_EQ(Tokens("a /* x * y */ b"), (V{"256:A", "256:B"}));
  // "(*" closes at "*)"
  EXPECT_EQ(Tokens("a (* x *) b (* *) c"), (V{"256:A", "256:B", "256:C"}));
  EXPECT_EQ(Tokens("(a)"), (V{"40:0", "256:A", "41:0"}));
  EXPECT_EQ(LexError("a { never closed"), "Syntax error line 1: Unexpected EOF in comment block");
  EXPECT_EQ(LexError("a /* never closed *"), "Syntax error line 1: Unexpected EOF in comment block");
  EXPECT_EQ(LexError("a (* x\n*( y"), "Syntax error line 2: Unexpected EOF in comment block");
}

TEST(Lexer, StringLiterals) {
  EXPECT_EQ(Tokens("'it''s'"), (V{"257:it's"}));
  EXPECT_EQ(Tokens("\"say \"\"hi\"\"\""), (V{"257:say \"hi\""}));
  EXPECT_EQ(Tokens("'a\"b'"), (V{"257:a\"b"}));
  EXPECT_EQ(Tokens("'two\nlines'"), (V{"257:two\nlines"}));
  EXPECT_EQ(Tokens("''"), (V{"257:"}));
  EXPECT_EQ(LexError("x := 'open"), "Syntax error line 1: Unexpected EOF in string constant declaration");
}

TEST(Lexer, NumbersHexAndCharacters) {
  EXPECT_EQ(Tokens("12"), (V{"258:12"}));
  // real numbers are three tokens: number, ".", number
  EXPECT_EQ(Tokens("1.5"), (V{"258:1", "46:0", "258:5"}));
  // $1F: the character $ then a number token whose text is 1F
  EXPECT_EQ(Tokens("$1F"), (V{"36:0", "258:1F"}));
  EXPECT_EQ(Tokens("$1f"), (V{"36:0", "258:1F"}));
  EXPECT_EQ(Tokens("0x1f"), (V{"262:1F"}));
  EXPECT_EQ(Tokens("0X1f"), (V{"262:1F"}));
  EXPECT_EQ(Tokens("#65"), (V{"35:0", "258:65"}));
  EXPECT_EQ(LexError("12AB"), "Syntax error line 1: Bad identifier <12AB>");
  // the hex flag covers only the word right after "$"
  EXPECT_EQ(LexError("$1F + 1F"), "Syntax error line 1: Bad identifier <1F>");
}

TEST(Lexer, IdentifiersAndReservedWords) {
  EXPECT_EQ(Tokens("begin End wHiLe _x1"), (V{"1004:BEGIN", "1005:END", "1019:WHILE", "256:_X1"}));
  EXPECT_EQ(Tokens("Program procedure StdCall Includes"),
            (V{"1000:PROGRAM", "1041:PROCEDURE", "1069:STDCALL", "1060:INCLUDES"}));
  // !, ?, backslash and backquote do not end a word
  EXPECT_EQ(LexError("A!B"), "Syntax error line 1: Bad identifier name <A!B>");
  EXPECT_EQ(LexError("x?"), "Syntax error line 1: Bad identifier name <X?>");
  EXPECT_EQ(LexError("a\\b"), "Syntax error line 1: Bad identifier name <A\\B>");
  // reserved constants
  EXPECT_EQ(Tokens("mbRight").size(), 1u);
  EXPECT_EQ(Tokens("mbRight")[0].substr(0, 4), "261:");
}

TEST(Lexer, LinesCountOnlyLineFeeds) {
  EXPECT_EQ(LexError("a\r\rb\r12X"), "Syntax error line 1: Bad identifier <12X>");
  EXPECT_EQ(LexError("a\n\nb\r\n12X"), "Syntax error line 4: Bad identifier <12X>");
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

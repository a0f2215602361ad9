// Bounded fuzzing in the suite: random token soup and mutated programs must compile or fail with a
// compile error (never crash, hang or throw anything else); random loop-free expression programs
// must give the same results with and without the fused instructions.
#include <gtest/gtest.h>

#include <random>

#include "ScriptTestUtil.h"

namespace {
const char* const kSamples[] = {
    "program T; var i, s: integer; begin s := 0; for i := 1 to 10 do s := s + i; Print(s) end.",
    "program T; label L; var x: integer; function F(a: integer; var b: integer): integer; begin b := a; "
    "Result := a * 2 end; begin x := F(3, x); if x > 2 then goto L else Print('no'); L: Print(x) end.",
    "program T; const C = 'x'; type TA = class(TObject) a: integer; procedure M; end; var s: string; "
    "begin s := C + #65'b'; repeat s := s + '1' until s <> ''; Print([1, 2.5, $1F]) end.",
    "program T; var b: boolean; begin b := not (1 < 2) or (3 >= 4) and True xor False; while b do b := False; "
    "Print(7 div 2 mod 3 shl 1 shr 1 / 2) end.",
};

const char* const kVocabulary[] = {"program",
                                   "T",
                                   ";",
                                   "var",
                                   "x",
                                   ":",
                                   "integer",
                                   "begin",
                                   "end",
                                   ".",
                                   ":=",
                                   "1",
                                   "2.5",
                                   "'s'",
                                   "#65",
                                   "$1F",
                                   "0x10",
                                   "(",
                                   ")",
                                   "[",
                                   "]",
                                   ",",
                                   "+",
                                   "-",
                                   "*",
                                   "/",
                                   "div",
                                   "mod",
                                   "and",
                                   "or",
                                   "not",
                                   "=",
                                   "<",
                                   ">",
                                   "if",
                                   "then",
                                   "else",
                                   "while",
                                   "do",
                                   "repeat",
                                   "until",
                                   "for",
                                   "to",
                                   "downto",
                                   "goto",
                                   "label",
                                   "L",
                                   "procedure",
                                   "function",
                                   "P",
                                   "Result",
                                   "const",
                                   "type",
                                   "class",
                                   "record",
                                   "uses",
                                   "'u.pas'",
                                   "unit",
                                   "interface",
                                   "initialization",
                                   "finalization",
                                   "halt",
                                   "nil",
                                   "true",
                                   "Print",
                                   "{",
                                   "}",
                                   "(*",
                                   "*)",
                                   "//",
                                   "\n",
                                   "--",
                                   "mbLeft",
                                   "forward",
                                   "private",
                                   "property",
                                   "virtual",
                                   "\"q\"",
                                   "Obj.Add",
                                   "Obj",
                                   "@",
                                   "^",
                                   "~",
                                   "|"};

// Compiles (and loads) source; anything but success or ECompilerError fails the test.
void MustCompileOrReject(const std::string& source) {
  try {
    std::string image;
    THalCompiler c(source, image);
    c.SetUnitLoader([](const std::string&, std::string& text) {
      text = "unit U; interface A; var A: integer; end.";
      return true;
    });
    c.compile();
    TBinProg prog(image);
  } catch (const ECompilerError&) {
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected " << typeid(e).name() << ": " << e.what() << "\nsource:\n" << source;
  }
}

std::string RandomExpression(std::mt19937& rng, int depth) {
  static const char* const ops[] = {" + ",  " - ",   " * ", " div ", " mod ", " / ",  " and ",
                                    " or ", " xor ", " + ", " * ",   " - ",   " and "};
  std::uniform_int_distribution<int> pick(0, 9);
  const int r = pick(rng);
  if (depth > 3 || r < 3) {
    static const char* const leaves[] = {"a", "b", "c", "3", "7", "2.5", "0", "-4", "True", "2147483647"};
    return leaves[std::uniform_int_distribution<int>(0, 9)(rng)];
  }
  if (r == 3) return "(" + RandomExpression(rng, depth + 1) + ")";
  if (r == 4) return "- " + RandomExpression(rng, depth + 1);
  if (r == 5 && depth > 0) {  // one relational operator, inside brackets
    static const char* const rel[] = {" = ", " < ", " <> ", " >= ", " > ", " <= "};
    return "(" + RandomExpression(rng, depth + 1) + rel[std::uniform_int_distribution<int>(0, 5)(rng)] +
           RandomExpression(rng, depth + 1) + ")";
  }
  return RandomExpression(rng, depth + 1) + ops[std::uniform_int_distribution<int>(0, 12)(rng)] +
         RandomExpression(rng, depth + 1);
}

std::vector<std::string> RunOnce(const std::string& source, bool fused) {
  PrintLog().clear();
  THalComp comp;
  comp.SetScriptText(source);
  comp.Compile();
  TStopFlag never{HAL_STOP};
  comp.Run(never, nullptr);
  comp.Runner()->Program()->SetFusion(fused);
  TStopFlag stop{'R'};
  try {
    comp.Run(stop, nullptr);
  } catch (const EScriptError& e) {
    PrintLog().push_back(std::string("error: ") + e.what());
  }
  return PrintLog();
}
}  // namespace

TEST(Fuzz, TokenSoupCompilesOrIsRejected) {
  std::mt19937 rng(12345);
  const int n = sizeof kVocabulary / sizeof kVocabulary[0];
  for (int round = 0; round < 3000; ++round) {
    std::string src = round % 2 ? "program T; " : "";
    const int len = std::uniform_int_distribution<int>(1, 60)(rng);
    for (int i = 0; i < len; ++i)
      src += std::string(kVocabulary[std::uniform_int_distribution<int>(0, n - 1)(rng)]) + " ";
    MustCompileOrReject(src);
  }
}

TEST(Fuzz, MutatedProgramsCompileOrAreRejected) {
  std::mt19937 rng(777);
  for (int round = 0; round < 4000; ++round) {
    std::string src = kSamples[round % 4];
    const int edits = std::uniform_int_distribution<int>(1, 4)(rng);
    for (int e = 0; e < edits && !src.empty(); ++e) {
      const size_t at = std::uniform_int_distribution<size_t>(0, src.size() - 1)(rng);
      switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
        case 0:
          src[at] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
          break;
        case 1:
          src.erase(at, std::uniform_int_distribution<size_t>(1, 8)(rng));
          break;
        case 2:
          src.insert(at, src.substr(std::uniform_int_distribution<size_t>(0, src.size() - 1)(rng), 6));
          break;
        case 3:
          src.resize(at);
          break;
        default:
          src.insert(at, 1, "'\"{}()*#$:;"[std::uniform_int_distribution<int>(0, 10)(rng)]);
          break;
      }
    }
    MustCompileOrReject(src);
  }
}

TEST(Fuzz, HugeAndDeepInputsAreBounded) {
  MustCompileOrReject("program T; begin Print('" + std::string(1 << 20, 'x') + "') end.");
  MustCompileOrReject("program T; begin " + std::string(20000, '[') + " end.");
  std::string nested = "program T; begin ";
  for (int i = 0; i < 5000; ++i) nested += "if 1 then ";
  MustCompileOrReject(nested + "Print(1) end.");
  std::string blocks = "program T; begin ";
  for (int i = 0; i < 5000; ++i) blocks += "begin ";
  MustCompileOrReject(blocks);
  std::string routines = "program T; ";
  for (int i = 0; i < 2000; ++i) routines += "procedure P" + std::to_string(i) + "; ";
  MustCompileOrReject(routines);
}

TEST(Fuzz, RandomExpressionsAgreeFusedAndPlain) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 600; ++round) {
    std::string body;
    for (int s = 0; s < 4; ++s) {
      const char* target = s % 3 == 0 ? "a" : s % 3 == 1 ? "b" : "c";
      body += std::string(target) + " := " + RandomExpression(rng, 0) + "; Print(" + target + ");\n";
    }
    // Several assignments on one line (fusion runs across statements that share a line), the second
    // often reading what the first wrote.
    for (int s = 0; s < 3 && round % 2; ++s) {
      const std::string x = std::string(1, "abc"[std::uniform_int_distribution<int>(0, 2)(rng)]);
      const std::string y = std::string(1, "abc"[std::uniform_int_distribution<int>(0, 2)(rng)]);
      const std::string second =
          std::uniform_int_distribution<int>(0, 1)(rng) ? y + " + " + x : RandomExpression(rng, 1) + " * " + x;
      body += x + " := " + RandomExpression(rng, 2) + "; " + y + " := " + second + "; Print(a); Print(b); Print(c);\n";
    }
    const std::string src = "program T; var a, b, c: integer;\nbegin\na := 1; b := 2; c := 3;\n" + body + "end.";
    EXPECT_EQ(RunOnce(src, false), RunOnce(src, true)) << src;
  }
}

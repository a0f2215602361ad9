// Statements and expressions: every statement form, the precedence table, literals, script routines; tables
// of program bodies with what they print and of programs with the error they raise, one test per row.
#include <gtest/gtest.h>

#include <map>
#include <ostream>

#include "ScriptTestUtil.h"

namespace {

struct TBodyCase {
  const char* vars;
  const char* body;
  const char* printed;  // the lines printed, joined by "|"
};
void PrintTo(const TBodyCase& c, std::ostream* os) { *os << c.body; }

// "program T; var <vars>; begin <body> end." prints what the row says.
class ScriptBody : public ::testing::TestWithParam<TBodyCase> {};

TEST_P(ScriptBody, Prints) { EXPECT_EQ(Body(GetParam().vars, GetParam().body), GetParam().printed); }

struct TErrorCase {
  const char* source;
  const char* message;
};
void PrintTo(const TErrorCase& c, std::ostream* os) { *os << c.source; }

class CompileError : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(CompileError, IsRaised) { EXPECT_EQ(ErrorOf(GetParam().source), GetParam().message); }

// A routine heading in "program T; <heading> begin end; begin end." and the error it raises.
class RoutineHeading : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(RoutineHeading, RaisesItsError) {
  EXPECT_EQ(ErrorOf(std::string("program T; ") + GetParam().source + " begin end; begin end."), GetParam().message);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(IfThenElse, ScriptBody,
                         ::testing::ValuesIn(std::vector<TBodyCase>{
                             {"x: integer;",
                              "x := 5; if x > 3 then Print('big') else Print('small'); "
                              "if x < 3 then Print('no'); Print('after')",
                              "big|after"},
                             {"", "if 0 then Print('a') else if 1 then Print('b') else Print('c')", "b"},
                         }));

INSTANTIATE_TEST_SUITE_P(Loops, ScriptBody,
                         ::testing::ValuesIn(std::vector<TBodyCase>{
                             {"i, s: integer;",
                              "s := 0; i := 0; while i < 5 do begin i := i + 1; s := s + i end; Print(s)", "15"},
                             {"i: integer;", "i := 10; repeat i := i - 3; Print(i) until i < 0", "7|4|1|-2"},
                             {"i: integer;", "for i := 1 to 3 do Print(i); Print(i)", "1|2|3|4"},
                             {"i: integer;", "for i := 3 downto 1 do Print(i); Print(i)", "3|2|1|0"},
                             {"i: integer;", "for i := 5 to 1 do Print(i); Print(i)", "5"},
                             // the limit is evaluated before every iteration
                             {"i, n: integer;", "n := 3; for i := 1 to n do begin Print(i); n := 2 end", "1|2"},
                         }));

INSTANTIATE_TEST_SUITE_P(Separators, ScriptBody,
                         ::testing::ValuesIn(std::vector<TBodyCase>{
                             {"", "Print(1); Print(2)", "1|2"},
                             {"", "begin end; begin Print(3) end", "3"},
                         }));

INSTANTIATE_TEST_SUITE_P(
    Precedence, ScriptBody,
    ::testing::ValuesIn(std::vector<TBodyCase>{
        {"", "Print(2 + 3 * 4 - 6 / 2); Print(7 div 2 * 2); Print(-2 * 3); Print(1 shl 2 + 1)", "11|6|-6|5"},
        // a = b and c compares a with (b and c)
        {"a, b, c: integer;", "a := 2; b := 3; c := 2; Print(a = b and c)", "True"},
        // not a = b compares (not a) with b
        {"a: integer;", "a := 0; Print(not a = -1)", "True"},
        {"", "Print(1 < 2); Print(2 <= 2); Print(3 <> 3); Print(4 >= 5); Print(5 > 4); Print(6 = 6)",
         "True|True|False|False|True|True"},
        {"", "Print((1 < 2) and (3 < 4)); Print(True xor True); Print(5 or 2); Print(not True)", "True|False|7|False"},
        {"", "Print(- -3); Print(+4); Print(((2)))", "3|4|2"},
    }));

INSTANTIATE_TEST_SUITE_P(
    Literals, ScriptBody,
    ::testing::ValuesIn(std::vector<TBodyCase>{
        {"", "Print(1.5); Print(1.05); Print(KindOf(10)); Print(KindOf(1.0)); Print(3000000000)",
         "1.5|1.05|Integer|Double|3000000000"},
        {"", "Print($1F); Print(0x10); Print(#65); Print('AB'#13#10'CD' = 'AB' + #13 + #10 + 'CD')", "31|16|A|True"},
        {"s: string;", "s := 'AB'#13#10'CD'; Print(KindOf(s))", "String"},
        {"", "Print(True); Print(False); Print(Nil); Print(mbMiddle); Print(ssDouble)", "True|False|0|2|6"},
    }));

INSTANTIATE_TEST_SUITE_P(OpenArrayConstructors, ScriptBody,
                         ::testing::ValuesIn(std::vector<TBodyCase>{
                             // one pair of brackets, and the two-pair form too
                             {"a: integer;", "a := [1, 2, 3]; Print(KindOf(a))", "Array"},
                             {"a: integer;", "a := [[4, 5]]; Print(KindOf(a))", "Array"},
                             {"a: integer;", "a := []; Print(KindOf(a))", "Array"},
                         }));

INSTANTIATE_TEST_SUITE_P(IfThenElse, CompileError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             // an if without else must be followed by ";" or End
                             {"program T; begin repeat if 1 then Print(1) until 1; end.",
                              "Syntax error line 1: ELSE expected"},
                             {"program T; begin if 1 Print(1); end.", "Syntax error line 1: THEN expected"},
                         }));

INSTANTIATE_TEST_SUITE_P(Loops, CompileError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"program T; var i: integer; begin for i := 1 up 3 do Print(i); end.",
                              "Syntax error line 1: TO or DOWNTO expected"},
                             {"program T; begin for q := 1 to 3 do Print(1); end.",
                              "Syntax error line 1: Variable <Q> not defined"},
                             {"program T; begin while 1 Print(1); end.", "Syntax error line 1: DO expected"},
                         }));

INSTANTIATE_TEST_SUITE_P(
    GotoLabelsAndHalt, CompileError,
    ::testing::ValuesIn(std::vector<TErrorCase>{
        {"program T; label A; label A; begin end.", "Syntax error line 1: Label <A> already defined"},
        {"program T; begin goto Nowhere; end.", "Syntax error line 1: Label <NOWHERE> not defined"},
        // a label jumped to but never placed is rejected instead of jumping to instruction 0
        {"program T; label L; begin goto L; end.", "Syntax error line 2: Label <L> is used but never placed"},
    }));

INSTANTIATE_TEST_SUITE_P(Separators, CompileError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"program T; begin Print(1) Print(2) end.",
                              "Syntax error line 1: Operator delimeter expected"},
                             {"program T; begin ; end.", "Syntax error line 1: Unknown identifier: ;"},
                             {"program T; begin Print(1); end", "Syntax error line 2: '.' expected"},
                             {"program T; begin end. x", "Syntax error line 1: Extra characters not allowed"},
                             {"begin end.", "Syntax error line 1: 'Program' expected"},
                         }));

INSTANTIATE_TEST_SUITE_P(Precedence, CompileError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"program T; begin Print(1 < 2 < 3); end.", "Syntax error line 1: ) expected"},
                         }));

INSTANTIATE_TEST_SUITE_P(
    Literals, CompileError,
    ::testing::ValuesIn(std::vector<TErrorCase>{
        {"program T; begin Print(1.x); end.", "Syntax error line 1: Real constant declaration error"},
        {"program T; begin Print($); end.", "Syntax error line 1: Hex constant declaration error"},
        {"program T; begin Print(#'a'); end.", "Syntax error line 1: String constant declaration error"},
        // a character code beyond 32 bits is refused (its conversion was undefined)
        {"program T; begin Print(#99999999999); end.", "Syntax error line 1: String constant declaration error"},
        // a factor no rule covers is an error, not undefined code
        {"program T; begin Print(/); end.", "Syntax error line 1: Expression expected but / found"},
        {"program T; begin Print(then); end.", "Syntax error line 1: Expression expected but THEN found"},
    }));

INSTANTIATE_TEST_SUITE_P(OpenArrayConstructors, CompileError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"program T; var a: integer; begin a := [1, 2; end.",
                              "Syntax error line 1: Comma expected"},
                         }));

INSTANTIATE_TEST_SUITE_P(ErrorsInsideExpressions, CompileError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             {"program T; begin Print((1 + 2); end.", "Syntax error line 1: ) expected"},
                             {"program T; begin x := 1; end.", "Syntax error line 1: Variable <X> not defined"},
                             {"program T; begin Print(Nothing); end.",
                              "Syntax error line 1: Unknown identifier: NOTHING"},
                         }));

INSTANTIATE_TEST_SUITE_P(HeadingsParameterGroupsAndDirectives, CompileError,
                         ::testing::ValuesIn(std::vector<TErrorCase>{
                             // a method declared in its class cannot be declared again with its dotted name
                             {"program T; type TFoo = class procedure M(x: integer); end;\n"
                              "procedure TFoo.M(x: integer); begin end; begin end.",
                              "Syntax error line 2: Function or Variable TFOO.M already defined"},
                         }));

INSTANTIATE_TEST_SUITE_P(
    ScopesAndNesting, CompileError,
    ::testing::ValuesIn(std::vector<TErrorCase>{
        {"program T; var a, a: integer; begin end.", "Syntax error line 1: Function or Variable <A> already defined"},
        {"program T; procedure P; begin end; procedure P; begin end; begin end.",
         "Syntax error line 1: Function or Variable P already defined"},
        {"program T; procedure P; forward; begin P end.", "Syntax error line 2: Label <T.P> is used but never placed"},
        {"program T; procedure P(x: integer); begin end; begin P() end.",
         "Syntax error line 1: Expression expected but ) found"},
    }));

INSTANTIATE_TEST_SUITE_P(
    ConstantsAndTypes, CompileError,
    ::testing::ValuesIn(std::vector<TErrorCase>{
        {"program T; const N = 1; N = 2; begin end.", "Syntax error line 1: Function or Variable <N> already defined"},
        {"program T; begin N := 1; end.", "Syntax error line 1: Variable <N> not defined"},
        {"program T; const N = 1; begin N := 2; end.", "Syntax error line 1: Variable <N> not defined"},
        {"program T; type TFoo = class x: integer; property P; end; begin end.",
         "Syntax error line 1: Properties not implemented"},
        {"program T; type TFoo = class 5 end; begin end.",
         "Syntax error line 1: Class member declaration expected but 5 found"},
        {"program T; type TFoo = array; begin end.", "Syntax error line 1: Only class declarations allowed"},
        {"program T; type TFoo: class; begin end.", "Syntax error line 1: TFOO declaration  error"},
        {"program T; initialization begin end.", "Syntax error line 1: 'Initialization' not allowed for programs"},
    }));

INSTANTIATE_TEST_SUITE_P(
    HeadingsParameterGroupsAndDirectives, RoutineHeading,
    ::testing::ValuesIn(std::vector<TErrorCase>{
        {"procedure 5;", "Syntax error line 1: Identifier expected"},
        {"procedure A.5;", "Syntax error line 1: Identifier expected"},
        {"procedure P(5: integer);", "Syntax error line 1: Method parameters declaration error"},
        {"procedure P(var 5: integer);", "Syntax error line 1: Method parameters declaration error"},
        {"procedure P(a integer);", "Syntax error line 1: Method declaration error"},
        {"procedure P(a: integer b: integer);", "Syntax error line 1: Method declaration error"},
        {"procedure P(a: integer; a: integer);", "Syntax error line 1: Function or Variable <A> already defined"},
        {"procedure P(a, b, a: integer);", "Syntax error line 1: Function or Variable <A> already defined"},
        {"procedure P(a: integer)", "Syntax error line 1: ';' expected"},
        // at most two directives are read; a third is left for the body
        {"procedure P; virtual; override; dynamic;", "Syntax error line 1: BEGIN expected"},
    }));

TEST(Statements, GotoLabelsAndHalt) {
  EXPECT_EQ(
      RunProgram("program T; label L1, L2; var i: integer;\nbegin i := 0;\nL1: i := i + 1; if i < 3 then goto L1;\n"
                 "Print(i); goto L2; Print('skipped');\nL2: Print('end'); Halt; Print('never')\nend."),
      (std::vector<std::string>{"3", "end"}));
}

TEST(Expressions, ErrorsInsideExpressions) {
  // deep nesting is an error, never a crash
  EXPECT_EQ(ErrorOf("program T; begin Print(" + std::string(5000, '(') + "1" + std::string(5000, ')') + "); end."),
            "Syntax error line 1: Nesting too deep");
  std::string minus;
  for (int i = 0; i < 3000; ++i) minus += "- ";
  EXPECT_EQ(ErrorOf("program T; begin Print(" + minus + "1); end."), "Syntax error line 1: Nesting too deep");
}

TEST(Routines, CallsParametersAndResults) {
  const char* src =
      "program T;\n"
      "var cnt: integer;\n"
      "function Twice(x: integer): integer;\n"
      "begin\n  Result := x * 2\nend;\n"
      "procedure Bump(var v: integer; by: integer);\n"
      "begin\n  v := v + by\nend;\n"
      "function G: integer;\n"
      "begin\n  cnt := cnt + 1; Result := cnt\nend;\n"
      "begin\n"
      "  Print(Twice(21)); cnt := 0; Bump(cnt, 5); Print(cnt);\n"
      "  cnt := 0; Print(G + G); cnt := 10; Print(G - G * 2);\n"
      "  Print(Twice[3])\n"
      "end.";
  // G + G calls G twice and adds the two results (1 + 2); G - G * 2 is 11 - 12 * 2
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"42", "5", "3", "-13", "6"}));
}

TEST(Routines, HeadingsParameterGroupsAndDirectives) {
  const char* src =
      "program T;\n"
      "procedure P(var a, b: integer; const c: integer; d, e: integer);\n"
      "begin a := c + d; b := e; c := 0 end;\n"
      "function F(n: integer): integer; stdcall; virtual;\n"
      "begin Result := n * 2 end;\n"
      "var x, y, z: integer;\n"
      "begin z := 3; P(x, y, z, 4, 5); Print(x); Print(y); Print(z); Print(F(x)) end.";
  // var parameters are copied back, const and value parameters are not
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"7", "5", "3", "14"}));
}

TEST(Routines, ResultIsReadBackInsideTheFunction) {
  const char* src =
      "program T;\n"
      "function R: integer;\n"
      "begin\n  Result := 5; Result := Result + 1\nend;\n"
      "function S: string;\n"
      "begin\n  Result := 'ab'; Result := Result + Result\nend;\n"
      "begin\n  Print(R); Print(S)\nend.";
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"6", "abab"}));
}

TEST(Routines, ScopesAndNesting) {
  const char* src =
      "program T;\n"
      "var x: integer;\n"
      "procedure Outer;\n"
      "var x: integer;\n"
      "  procedure Inner;\n"
      "  begin x := 7; Print(x) end;\n"
      "begin x := 5; Inner; Print(x) end;\n"
      "begin x := 1; Outer; Print(x) end.";
  // Inner sees Outer's x; the program's x is untouched
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"7", "7", "1"}));
}

TEST(Routines, NotReentrantAsDesigned) {
  // parameters have fixed slots: the recursive call overwrites n before "n *" reads it
  const char* src =
      "program T;\n"
      "function F(n: integer): integer;\n"
      "begin if n <= 1 then Result := 1 else Result := F(n - 1) * n end;\n"
      "begin Print(F(4)) end.";
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"1"}));
}

TEST(Declarations, ConstantsAndTypes) {
  EXPECT_EQ(RunProgram("program T; const N = 10; S = 'txt'; B = True; M = mbRight;\n"
                       "begin Print(KindOf(N)); Print(N * 2); Print(S); Print(B); Print(M) end."),
            (std::vector<std::string>{"Integer", "20", "txt", "True", "1"}));
  EXPECT_EQ(RunProgram("program T; type TFoo = class(TObject) private a: integer; procedure M; end;\n"
                       "begin Print('ok') end."),
            (std::vector<std::string>{"ok"}));
}

TEST(Declarations, LongVariableListsFindTheFirstDuplicate) {
  // one list of 100,000 names, ten to a line: name i is on line 2 + i / 10
  auto program = [](const std::string& before, const std::map<int, std::string>& replaced) {
    std::string src = "program T;\nvar " + before;
    for (int i = 0; i < 100000; ++i) {
      if (i > 0) src += i % 10 == 0 ? ",\n" : ", ";
      auto r = replaced.find(i);
      src += r != replaced.end() ? r->second : "v" + std::to_string(i);
    }
    return src + ": integer;\nbegin v99999 := 5; v0 := 2; Print(v99999 + v0) end.";
  };
  EXPECT_EQ(RunProgram(program("", {})), (std::vector<std::string>{"7"}));
  // names compare without regard to case; the first repeated name in reading order is reported
  EXPECT_EQ(ErrorOf(program("", {{99990, "V17"}, {99995, "v3"}})),
            "Syntax error line 10001: Function or Variable <V17> already defined");
  // a name declared by an earlier group of the same scope counts as well
  EXPECT_EQ(ErrorOf(program("keep: integer;\n", {{99993, "Keep"}, {99997, "v1"}})),
            "Syntax error line 10002: Function or Variable <KEEP> already defined");
}

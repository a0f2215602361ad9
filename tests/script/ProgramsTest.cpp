// Small programs whose results are worked out by hand, grouped by feature.
#include <gtest/gtest.h>

#include "ScriptTestUtil.h"

TEST(Programs, HelloAndArithmetic) {
  EXPECT_EQ(Body("", "Print('hello'); Print(2 + 3 * 4); Print((2 + 3) * 4)"), "hello|14|20");
}

TEST(Programs, ValueRulesInScripts) {
  EXPECT_EQ(Body("x: integer;", "x := 2147483647 + 1; Print(x); Print(KindOf(x))"), "2147483648|Double");
  EXPECT_EQ(Body("", "Print('2' + 3); Print(KindOf('2' + 3)); Print('a' + 'b')"), "5|Double|ab");
  EXPECT_EQ(Body("", "Print(5.0 mod 3); Print(KindOf(5.0 mod 3)); Print(7 / 2); Print(7 div 2)"), "2|Integer|3.5|3");
  EXPECT_EQ(Body("", "Print(-7 div 2); Print(-7 mod 2); Print(not 0); Print(True + 0)"), "-3|-1|-1|-1");
  EXPECT_EQ(Body("", "Print('abc' < 'abd'); Print('ab' < 'abc'); Print('B' < 'a'); Print('x' = 'x')"),
            "True|True|True|True");
  EXPECT_EQ(Body("", "Print(0.1 + 0.2); Print(1 / 3); Print(1.5 * 2)"), "0.3|0.333333333333333|3");
  EXPECT_EQ(ErrorOf("program T; begin Print('x' + 3) end."),
            "Could not convert variant of type (String) into type (Double)");
}

TEST(Programs, StringBuilding) {
  EXPECT_EQ(Body("s: string; i: integer;", "s := ''; for i := 1 to 4 do s := s + Str(i) + ','; Print(s)"), "1,2,3,4,");
  // string and number: + is arithmetic, so the empty text does not convert
  EXPECT_EQ(ErrorOf("program T; var s: string; begin s := ''; s := s + 1 end."),
            "Could not convert variant of type (String) into type (Double)");
  // a number first makes + arithmetic: '1' is read as a number
  EXPECT_EQ(Body("", "Print(1 + '1'); Print('1' + 1)"), "2|2");
  EXPECT_EQ(Body("s: string;", "s := 'it''s ' + \"\"\"quoted\"\"\"; Print(s)"), "it's \"quoted\"");
}

TEST(Programs, NestedLoopsAndConditions) {
  // primes below 20 by trial division
  const char* src =
      "program Primes;\n"
      "var n, d: integer; prime: boolean;\n"
      "begin\n"
      "  for n := 2 to 19 do begin\n"
      "    prime := True; d := 2;\n"
      "    while (d * d <= n) and prime do begin\n"
      "      if n mod d = 0 then prime := False;\n"
      "      d := d + 1\n"
      "    end;\n"
      "    if prime then Print(n)\n"
      "  end\n"
      "end.";
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"2", "3", "5", "7", "11", "13", "17", "19"}));
}

TEST(Programs, RoutinesWorkingTogether) {
  const char* src =
      "program Fib;\n"
      "var i: integer;\n"
      "function Fib(n: integer): integer;\n"
      "var a, b, t, k: integer;\n"
      "begin\n"
      "  a := 0; b := 1;\n"
      "  for k := 1 to n do begin t := a + b; a := b; b := t end;\n"
      "  Result := a\n"
      "end;\n"
      "procedure Show(label1: string; v: integer);\n"
      "begin Print(label1 + '=' + Str(v)) end;\n"
      "begin\n"
      "  for i := 0 to 6 do Show('F' + Str(i), Fib(i));\n"
      "  Show('F30', Fib(30))\n"
      "end.";
  EXPECT_EQ(RunProgram(src),
            (std::vector<std::string>{"F0=0", "F1=1", "F2=1", "F3=2", "F4=3", "F5=5", "F6=8", "F30=832040"}));
}

TEST(Programs, VarParametersOfScriptRoutines) {
  const char* src =
      "program Swap;\n"
      "var x, y: integer;\n"
      "procedure Exchange(var a, b: integer);\n"
      "var t: integer;\n"
      "begin t := a; a := b; b := t end;\n"
      "procedure Grow(var s: string; n: integer);\n"
      "begin while n > 0 do begin s := s + '*'; n := n - 1 end end;\n"
      "var s: string;\n"
      "begin x := 1; y := 2; Exchange(x, y); Print(x); Print(y); s := '>'; Grow(s, 3); Print(s) end.";
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"2", "1", ">***"}));
}

TEST(Programs, EarlyExitsWithGotoAndHalt) {
  const char* src =
      "program Search;\n"
      "label Found;\n"
      "var i: integer;\n"
      "begin\n"
      "  for i := 1 to 100 do\n"
      "    if i * i > 50 then goto Found;\n"
      "  Print('none'); Halt;\n"
      "Found:\n"
      "  Print(i)\n"
      "end.";
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"8"}));
}

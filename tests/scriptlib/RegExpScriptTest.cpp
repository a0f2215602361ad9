// TRegExp as scripts use it, on a run thread: the documented cases, the error texts as run-time
// errors, bad arguments, object lifetime, megabyte texts and aborting a runaway match.
#include "ScriptTestSupport.h"
#include "scriptlib/LibObjects.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(RegExpScripts, MatchesGroupsAndPositions) {
  TRunResult r = RunScript(R"(program re;
var r: TRegExp;
begin
  r := TRegExp.Create;
  Output.writeln(IntToStr(r.NumSubStrings) + ' ' + IntToStr(r.Match('abc', 1)) + ' ' + IntToStr(r.SubStart(0)) + ' ' +
    IntToStr(r.SubLength(0)) + ' [' + r.SubString(0) + ']');
  r.SetRegExp('a*b', 0);
  Output.writeln(IntToStr(r.Match('xxaaab', 1)) + ' ' + IntToStr(r.SubStart(0)) + ' ' + IntToStr(r.SubLength(0)));
  Output.writeln(IntToStr(r.Match('xxaaab', 4)) + ' ' + IntToStr(r.SubStart(0)) + ' ' + r.SubString(0));
  r.SetRegExp('(a)|(b)', 0);
  Output.writeln(IntToStr(r.Match('b', 1)) + ' ' + IntToStr(r.NumSubStrings) + ' [' + r.SubString(1) + '] ' +
    IntToStr(r.SubStart(1)) + ' ' + IntToStr(r.SubLength(1)) + ' ' + r.SubString(2) + ' ' + IntToStr(r.SubStart(2)));
  r.SetRegExp('abc', 1);
  Output.writeln(r.Match('xABC', 1));
  r.SetRegExp('[a-c]', 1);
  Output.writeln(r.Match('ABC', 1));
  r.SetRegExp('\<word\>', 0);
  Output.writeln(IntToStr(r.Match('a word', 1)) + IntToStr(r.Match('swordfish', 1)));
  r.SetRegExp('', 0);
  Output.writeln(IntToStr(r.Match('xyz', 1)) + ' ' + IntToStr(r.SubStart(0)) + ' ' + IntToStr(r.SubLength(0)));
  Output.writeln(r.Match('', 1));
  r.SetRegExp('^$', True);
  Output.writeln(r.Match('', 1));
  r.SetRegExp('([0-9]+)-([0-9]+)', 0);
  Output.writeln(IntToStr(r.Match('ref 12-345 x', 1)) + ' ' + r.SubString(1) + ' ' + r.SubString(2) + ' ' +
    IntToStr(r.SubStart(2)));
  Output.writeln(r.ClassName);
  r.Free;
end.
)");
  EXPECT_EQ(OkLines(r), (Lines{"-1 0 0 -1 []", "1 3 4", "1 1 aab", "1 2 [] 0 0 b 1", "1", "0", "10", "1 1 0", "1", "1",
                               "1 12 345 8", "TRegExp"}));
}

TEST(RegExpScripts, FortyNineGroupsAndTheFiftieth) {
  TRunResult r = RunScript(R"(program groups;
var r: TRegExp; p, s: string; i: Integer;
begin
  p := '';
  s := '';
  for i := 1 to 49 do begin
    p := p + '(.)';
    s := s + Copy('ABCDEFGHIJKLMNOPQRSTUVWXYZ[\]^_`abcdefghijklmnopq', i, 1);
  end;
  r := TRegExp.Create;
  r.SetRegExp(p, 0);
  Output.writeln(IntToStr(r.Match(s, 1)) + ' ' + IntToStr(r.NumSubStrings) + ' ' + r.SubString(28) + ' ' +
    IntToStr(r.SubStart(49)) + ' ' + r.SubString(49));
  r.SetRegExp(p + '(.)', 0);
end.
)");
  EXPECT_EQ(r.outcome, TScriptOutcome::ScriptError);
  EXPECT_EQ(r.lines, (Lines{"1 49 \\ 49 q", "Runtime error line 14: too many ()", ""}));
}

TEST(RegExpScripts, PatternErrorsAreRunTimeErrors) {
  const std::pair<const char*, const char*> kErrors[] = {
      {"x**", "nested *?+"},         {"x*?", "nested *?+"},
      {"(x", "unterminated ()"},     {"x)", "unmatched ()"},
      {"[z-a]", "invalid [] range"}, {"[ab", "unmatched []"},
      {"*x", "?+* follows nothing"}, {"(x*)*", "*+ operand could be empty"},
      {"x\\", "trailing \\\\"},
  };
  for (const auto& [pattern, text] : kErrors) {
    TRunResult r =
        RunScript(std::string("program bad;\nvar r: TRegExp;\nbegin\n  r := TRegExp.Create;\n  r.SetRegExp('") +
                  pattern + "', 0);\n  Output.writeln('not reached');\nend.\n");
    EXPECT_EQ(r.lines, (Lines{std::string("Runtime error line 5: ") + text, ""})) << pattern;
  }
  TRunResult r = RunScript(R"(program big;
var r: TRegExp; p: string; i: Integer;
begin
  p := 'x';
  for i := 1 to 15 do p := p + p;
  r := TRegExp.Create;
  r.SetRegExp(p, 0);
end.
)");
  EXPECT_EQ(r.lines, (Lines{"Runtime error line 7: regexp too big", ""}));
}

// Out-of-range arguments give the documented results, never a crash; a failed compile leaves no
// pattern, and a match that was not tried leaves no groups.
TEST(RegExpScripts, BadArguments) {
  TRunResult r = RunScript(R"(program args;
var r: TRegExp; s: string;
begin
  r := TRegExp.Create;
  r.SetRegExp('l+', 0);
  s := 'hello';
  Output.writeln(IntToStr(r.Match(s, 1)) + ' ' + r.SubString(0));
  Output.writeln(IntToStr(r.Match(s, 0)) + IntToStr(r.Match(s, -5)) + IntToStr(r.Match(s, 7)) +
    IntToStr(r.Match(s, 2147483647)) + IntToStr(r.Match(s, 2147483647.0 * 1000)) + ' ' + IntToStr(r.NumSubStrings));
  r.SetRegExp('o$', 0);
  Output.writeln(IntToStr(r.Match(s, 5)) + ' ' + IntToStr(r.SubStart(0)));
  r.SetRegExp('$', 0);
  Output.writeln(IntToStr(r.Match(s, 6)) + ' ' + IntToStr(r.SubStart(0)) + ' ' + IntToStr(r.SubLength(0)));
  r.SetRegExp('(e)(l)', 0);
  Output.writeln(r.Match(s, 1));
  s := 'changed';
  Output.writeln(r.SubString(0) + ' [' + r.SubString(3) + r.SubString(50) + r.SubString(99) + r.SubString(-1) + '] ' +
    IntToStr(r.SubStart(99)) + IntToStr(r.SubLength(-1)) + IntToStr(r.SubLength(50)));
  r.SetRegExp('3', 0);
  Output.writeln(IntToStr(r.Match(12345, 1)) + ' ' + IntToStr(r.SubStart(0)));
  r.SetRegExp('3', 0);
  r.SetRegExp('(', 0);
end.
)");
  EXPECT_EQ(r.outcome, TScriptOutcome::ScriptError);
  EXPECT_EQ(r.lines, (Lines{"1 ll", "00000 0", "1 1", "1 1 0", "1", "el [] 000", "1 3",
                            "Runtime error line 22: unterminated ()", ""}));
}

TEST(RegExpScripts, FreedObjectsAreRefusedAndLeftoversGo) {
  TRunResult r = RunScript(
      "program stale;\nvar r: TRegExp;\nbegin\n  r := TRegExp.Create;\n  r.Free;\n  r.SetRegExp('a', 0);\nend.\n");
  EXPECT_EQ(r.lines, (Lines{"Runtime error line 6: Invalid or uninitialized object used", ""}));
  r = RunScript(
      "program wrong;\nvar r: TRegExp;\nbegin\n  r := TStringList.Create;\n  Output.writeln(r.Match('a', 1));\nend.\n");
  EXPECT_EQ(r.lines, (Lines{"Runtime error line 5: Invalid or uninitialized object used", ""}));
  r = RunScript(
      "program leak;\nvar r: TRegExp;\nbegin\n  r := TRegExp.Create;\n  r.SetRegExp('(a)', 0);\n"
      "  r.Match('a', 1);\n  r := TRegExp.Create;\nend.\n");
  EXPECT_EQ(OkLines(r), Lines{});
  EXPECT_EQ(LibObjectCount(), 0);
}

// A loop over a group on a megabyte text: a recursive walk would need over a million nested calls;
// beyond the backtracking limit the match ends with a run-time error.
TEST(RegExpScripts, MegabyteTextsAndTheBacktrackingLimit) {
  TRunResult r = RunScript(R"(program big;
var r: TRegExp; s: string; i: Integer;
begin
  s := 'ab';
  for i := 1 to 19 do s := s + s;
  r := TRegExp.Create;
  r.SetRegExp('^(ab)*$', 0);
  Output.writeln(IntToStr(r.Match(s, 1)) + ' ' + IntToStr(r.SubStart(1)) + ' ' + IntToStr(r.SubLength(0)));
  s := s + s + s + s;
  Output.writeln(r.Match(s, 1));
end.
)");
  EXPECT_EQ(r.outcome, TScriptOutcome::ScriptError);
  EXPECT_EQ(r.lines, (Lines{"1 1048575 1048576",
                            "Runtime error line 10: regexp stack overflow: pattern too complex for this text", ""}));
}

// A match that would backtrack for hours ends when the script is aborted.
TEST(RegExpScripts, AbortEndsARunawayMatch) {
  CTempFile file("runaway.pas", R"(program runaway;
var r: TRegExp;
begin
  r := TRegExp.Create;
  r.SetRegExp('(a+)+b', 0);
  Output.writeln('matching');
  r.Match('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa', 1);
  Output.writeln('not reached');
end.
)");
  CRecordingSink sink;
  TScriptHost host;
  host.sink = &sink;
  TInstrScriptThread thread(host, file.Path(), {});
  thread.Start();
  ASSERT_TRUE(sink.WaitForLine("matching"));
  thread.Abort();
  thread.Wait();
  EXPECT_EQ(sink.Lines(), (Lines{"matching", "aborted.", ""}));
  EXPECT_EQ(thread.Outcome(), TScriptOutcome::Aborted);
}

}  // namespace

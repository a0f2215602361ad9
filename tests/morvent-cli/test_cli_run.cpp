// test_cli_run.cpp: the run command end to end through the built morvent-cli: script programs with their
// expected standard output and exit codes, grouped by feature; Ctrl-C aborts through the run-state byte.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "CliHarness.h"
#include "scriptlib/FileStream.h"
#include "support/TempDir.h"

using namespace clitest;
using namespace support;

namespace {

struct TRunResult {
  std::vector<std::string> lines;  // standard output
  int exitCode = -1;
};

// `morvent-cli run ARGS...`: its standard output as lines and its exit code.
TRunResult RunScriptFile(const std::vector<std::string>& args) {
  CliResult r = RunCli(Concat({"run"}, args));
  return {SplitLines(r.out), r.exitCode};
}

using Lines = std::vector<std::string>;

// Command lines the run command refuses with exit code 2.
struct TBadCommandLine {
  const char* name;
  std::vector<std::string> args;
};
void PrintTo(const TBadCommandLine& c, std::ostream* os) { *os << c.name; }

class CliRunBadCommandLine : public ::testing::TestWithParam<TBadCommandLine> {};

TEST_P(CliRunBadCommandLine, ExitsWithTwo) { EXPECT_EQ(RunScriptFile(GetParam().args).exitCode, 2); }

INSTANTIATE_TEST_SUITE_P(CliRunUsage, CliRunBadCommandLine,
                         ::testing::Values(TBadCommandLine{"NoFile", {}}, TBadCommandLine{"DebugAlone", {"--debug"}},
                                           TBadCommandLine{"DebugLevelNotANumber", {"--debug", "x", "f.pas"}},
                                           TBadCommandLine{"DebugLevelNegative", {"--debug", "-1", "f.pas"}},
                                           TBadCommandLine{"DebugLevelWithoutFile", {"--debug", "1"}},
                                           TBadCommandLine{"UnknownOption", {"--verbose", "f.pas"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliRunUsage, HelpPrintsTheUsage) {
  TRunResult help = RunScriptFile({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  ASSERT_FALSE(help.lines.empty());
  EXPECT_EQ(help.lines[0].rfind("usage: morvent-cli run", 0), 0u);
}

TEST(CliRunFiles, MissingFileAndThePasRule) {
  TempDir dir;
  TRunResult r = RunScriptFile({dir.File("does-not-exist")});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, Lines{"Cannot open script file"});
  std::string folder = dir.File("folder.pas");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  r = RunScriptFile({folder});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, Lines{"Cannot open script file"});
  std::string script = dir.Write("named.pas", "program p;\nbegin\n  Output.writeln('found');\nend.\n");
  std::string withoutExt = script.substr(0, script.size() - 4);
  r = RunScriptFile({withoutExt});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"found", "ok.", ""}));
}

TEST(CliRunOutcomes, OkCompileRuntimeAndFatalErrors) {
  TempDir dir;
  std::string ok = dir.Write("ok.pas",
                             "program p;\nvar i, f: Integer;\nbegin\n  f := 1;\n  for i := 1 to 10 do f := f * i;\n"
                             "  Output.writeln(Format('10! = %d', [f]));\nend.\n");
  TRunResult r = RunScriptFile({ok});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"10! = 3628800", "ok.", ""}));

  std::string syntax =
      dir.Write("syntax.pas", "program p;\nbegin\n  Output.writeln('x')\n  Output.writeln('y');\nend.\n");
  r = RunScriptFile({syntax});
  EXPECT_EQ(r.exitCode, 5);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0].rfind("Syntax error line ", 0), 0u) << r.lines[0];
  EXPECT_EQ(r.lines[1], "");

  std::string runtime = dir.Write(
      "runtime.pas", "program p;\nvar L: TStringList;\nbegin\n  Output.writeln('start');\n  L.Add('x');\nend.\n");
  r = RunScriptFile({runtime});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, (Lines{"start", "Runtime error line 5: Invalid or uninitialized object used", ""}));

  std::string fatal = dir.Write("fatal.pas", "program p;\nbegin\n  Output.writeln(StrToFloat('1,5'));\nend.\n");
  r = RunScriptFile({fatal});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, (Lines{"fatal error: '1,5' is not a valid floating point value", "aborted.", ""}));
}

// Headless, the plot names exist (scripts compile and build their tables) but a window cannot open.
TEST(CliRunOutcomes, PlotWindowWithoutADisplayIsARunTimeError) {
  TempDir dir;
  std::string plot = dir.Write("plot.pas",
                               "program p;\nvar w: TPlotWnd; d: TSignalData;\nbegin\n  d := TSignalData.Create;\n"
                               "  d.y[2] := 5;\n  Output.writeln(d.Count);\n  w := TPlotWnd.Create;\n"
                               "  w.OpenWindow('graph');\n  Output.writeln('opened');\nend.\n");
  TRunResult r = RunScriptFile({plot});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, (Lines{"3", "Runtime error line 8: Cannot open plot window graph: no display", ""}));
}

// Headless, forms and dialogs compile but refuse to show: a run-time error, never a hang or a crash.
TEST(CliRunOutcomes, FormsAndDialogsWithoutADisplayAreRunTimeErrors) {
  TempDir dir;
  const struct {
    const char* call;
    const char* error;
  } kCalls[] = {{"RunForm('x.dfm')", "RunForm: needs a display"},
                {"Output.writeln(RunFormModal('x.dfm'))", "RunFormModal: needs a display"},
                {"ShowMessage('hello')", "ShowMessage: needs a display"},
                {"Output.writeln(MessageDlg('?', mtConfirmation, [mbYes, mbNo], 0))", "MessageDlg: needs a display"},
                {"if d.Execute = 1 then Output.writeln('chosen')", "TOpenDialog.Execute: needs a display"},
                {"RunFormMacro('x.txt', False)", "Unknown macro type X.TXT"}};
  for (const auto& c : kCalls) {
    std::string script =
        dir.Write("form.pas", std::string("program p;\nvar d: TOpenDialog;\nbegin\n  Output.writeln('start');\n"
                                          "  d := TOpenDialog.Create(nil);\n  ") +
                                  c.call + ";\n  Output.writeln('after');\nend.\n");
    TRunResult r = RunScriptFile({script});
    EXPECT_EQ(r.exitCode, 5) << c.call;
    EXPECT_EQ(r.lines, (Lines{"start", std::string("Runtime error line 6: ") + c.error, ""})) << c.call;
  }
}

TEST(CliRunArguments, ArgsBecomeTheScriptsArguments) {
  TempDir dir;
  std::string script = dir.Write("args.pas",
                                 "program p;\nvar i: Integer;\nbegin\n  Output.writeln(Arguments.Count);\n"
                                 "  for i := 0 to Arguments.Count - 1 do Output.writeln(Arguments.String[i]);\nend.\n");
  TRunResult r = RunScriptFile({script, "one", "two words", "'quoted'", ""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"4", "one", "two words", "'quoted'", "", "ok.", ""}));
  std::vector<std::string> many = {script};
  for (int i = 0; i < 12; ++i) many.push_back(std::to_string(i));
  r = RunScriptFile(many);
  ASSERT_GE(r.lines.size(), 11u);
  EXPECT_EQ(r.lines[0], "10");
  EXPECT_EQ(r.lines[10], "9");
}

TEST(CliRunDebug, TraceLinesAreOutputLines) {
  TempDir dir;
  std::string script = dir.Write("trace.pas",
                                 "program tr;\nprocedure Hello;\nbegin\n  Output.writeln('hello');\nend;\n"
                                 "begin\n  Hello;\nend.\n");
  TRunResult r = RunScriptFile({"--debug", "1", script});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"Entry TR.HELLO", "hello", "Exit TR.HELLO", "ok.", ""}));
  r = RunScriptFile({"--debug", "2", script});
  EXPECT_EQ(r.exitCode, 0);
  // Line markers stand before the first instruction of their line: the jump over the routines is on
  // line 1, the routine's entry where its "begin" was read, the closing stop after the last line feed.
  EXPECT_EQ(r.lines, (Lines{"line 1", "line 7", "line 3", "Entry TR.HELLO", "line 4", "hello", "line 5",
                            "Exit TR.HELLO", "line 9", "ok.", ""}));
}

// Starts the script, waits for its first line "started", sends Ctrl-C: the run ends as aborted (6).
void ExpectCtrlCAborts(const std::string& source) {
  TempDir dir;
  auto child = StartCli({"run", dir.Write("abort.pas", source)});
  std::string line;
  ASSERT_TRUE(child->ReadLine(line, 60s)) << child->Err();
  EXPECT_EQ(line, "started");
  child->Signal(SIGINT);
  EXPECT_EQ(child->Finish(60s), 6);
  EXPECT_EQ(SplitLines(child->Out()), (Lines{"started", "aborted.", ""}));
}

TEST(CliRunAbort, CtrlCAbortsThroughTheRunState) {
  ExpectCtrlCAborts(
      "program p;\nvar i: Integer;\nbegin\n  Output.writeln('started');\n"
      "  while True do i := i + 1;\nend.\n");
}

TEST(CliRunAbort, CtrlCEndsARunawayRegExpMatch) {
  ExpectCtrlCAborts(
      "program p;\nvar r: TRegExp;\nbegin\n  r := TRegExp.Create;\n  r.SetRegExp('(a+)+b', 0);\n"
      "  Output.writeln('started');\n  r.Match('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa', 1);\nend.\n");
}

TEST(CliRunPrograms, StringsListsAndRoutines) {
  TempDir dir;
  std::string script = dir.Write("words.pas", R"(program words;
var L: TStringList; s, w: string; i, p: Integer;

function Reverse(t: string): string;
var k: Integer; r: string;
begin
  r := '';
  for k := Length(t) downto 1 do r := r + Copy(t, k, 1);
  Result := r;
end;

begin
  s := 'the quick brown fox jumps';
  L := TStringList.Create;
  L.Sorted := True;
  repeat
    p := Pos(' ', s);
    if p = 0 then p := Length(s) + 1;
    w := Copy(s, 1, p - 1);
    Delete(s, 1, p);
    L.Add(w);
  until s = '';
  for i := 0 to L.Count - 1 do Output.writeln(Format('%-6s%s', [L.Strings[i], Reverse(L.Strings[i])]));
  L.Free;
end.
)");
  TRunResult r = RunScriptFile({script});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"brown nworb", "fox   xof", "jumps spmuj", "quick kciuq", "the   eht", "ok.", ""}));
}

TEST(CliRunPrograms, ByteBufferFilesTimeAndPipes) {
  TempDir dir;
  std::string data = dir.File("cli-data.bin");
  std::string locked = dir.Write("cli-locked.txt", "locked\n");
  // Sharing holds between processes: this process keeps the file open exclusively.
  auto hold = CFileStream::Open(locked, fmOpenRead + fmShareExclusive);
  ASSERT_NE(hold, nullptr);
  std::string script =
      dir.Write("libs.pas",
                "program libs;\nvar M: TMemory; F, G: TFile; P: TStringListPipe; L: TStringList;\n"
                "begin\n  M := TMemory.Create(6);\n  M.SetMotorolaInteger(0, $01020304);\n"
                "  M.SetMotorolaShort(4, 65535);\n  F := TFile.Create;\n"
                "  Output.writeln(F.Open('" +
                    data +
                    "', fmCreate));\n  Output.writeln(F.WriteMem(M, 6));\n  F.Free;\n"
                    "  G := TFile.Create;\n  Output.writeln(G.Open('" +
                    locked +
                    "', fmOpenRead + fmShareDenyNone));\n"
                    "  Output.writeln(StrToTime(TimeToStr(86400)));\n"
                    "  P := TStringListPipe.Create('cli');\n  L := P.Lock;\n  L.Tokenize('a b', ' ');\n"
                    "  Output.writeln(L.Count);\n  P.Unlock;\n"
                    "  Output.writeln(Pos2('abcabc', 3, 'bc'));\nend.\n");
  TRunResult r = RunScriptFile({script});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"1", "6", "0", "86400", "2", "5", "ok.", ""}));
  EXPECT_EQ(ReadFile(data), "\x01\x02\x03\x04\xff\xff");
}

}  // namespace

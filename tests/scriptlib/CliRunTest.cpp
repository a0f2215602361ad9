// The run command end to end: script programs through the command-line runner, with their expected
// standard output and exit codes, grouped by feature; Ctrl-C aborts through the run-state byte.
#include "ScriptTestSupport.h"
#include "scriptlib/FileStream.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

extern char** environ;

namespace {

using Lines = std::vector<std::string>;

// The runner as a child process with its standard output on a pipe.
class CChild {
 public:
  explicit CChild(std::vector<std::string> args) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    args.insert(args.begin(), CLI_RUN_PROBE);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&m_pid, CLI_RUN_PROBE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    m_out = ::fdopen(fds[0], "r");
    if (rc != 0) throw std::runtime_error("spawn");
  }
  ~CChild() {
    if (m_pid > 0) Wait();
    if (m_out) std::fclose(m_out);
  }
  // One line of output without its line feed; false at the end of the output.
  bool ReadLine(std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(m_out)) != EOF && c != '\n') line += static_cast<char>(c);
    return c != EOF || !line.empty();
  }
  Lines ReadAll() {
    Lines out;
    std::string l;
    while (ReadLine(l)) out.push_back(l);
    return out;
  }
  int Wait() {
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Interrupt() { ::kill(m_pid, SIGINT); }

 private:
  pid_t m_pid = -1;
  std::FILE* m_out = nullptr;
};

struct TCliResult {
  Lines lines;
  int exitCode = -1;
};

TCliResult RunCli(const std::vector<std::string>& args) {
  CChild child(args);
  TCliResult r;
  r.lines = child.ReadAll();
  r.exitCode = child.Wait();
  return r;
}

TEST(CliRunUsage, BadCommandLinesExitWithTwo) {
  EXPECT_EQ(RunCli({}).exitCode, 2);
  EXPECT_EQ(RunCli({"--debug"}).exitCode, 2);
  EXPECT_EQ(RunCli({"--debug", "x", "f.pas"}).exitCode, 2);
  EXPECT_EQ(RunCli({"--debug", "-1", "f.pas"}).exitCode, 2);
  EXPECT_EQ(RunCli({"--debug", "1"}).exitCode, 2);
  EXPECT_EQ(RunCli({"--verbose", "f.pas"}).exitCode, 2);
  TCliResult help = RunCli({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  ASSERT_FALSE(help.lines.empty());
  EXPECT_EQ(help.lines[0].rfind("usage: morvent-cli run", 0), 0u);
}

TEST(CliRunFiles, MissingFileAndThePasRule) {
  TCliResult r = RunCli({TempPath("does-not-exist")});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, Lines{"Cannot open script file"});
  std::string folder = TempPath("folder.pas");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  r = RunCli({folder});
  ::rmdir(folder.c_str());
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, Lines{"Cannot open script file"});
  CTempFile script("named.pas", "program p;\nbegin\n  Output.writeln('found');\nend.\n");
  std::string withoutExt = script.Path().substr(0, script.Path().size() - 4);
  r = RunCli({withoutExt});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"found", "ok.", ""}));
}

TEST(CliRunOutcomes, OkCompileRuntimeAndFatalErrors) {
  CTempFile ok("ok.pas",
               "program p;\nvar i, f: Integer;\nbegin\n  f := 1;\n  for i := 1 to 10 do f := f * i;\n"
               "  Output.writeln(Format('10! = %d', [f]));\nend.\n");
  TCliResult r = RunCli({ok.Path()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"10! = 3628800", "ok.", ""}));

  CTempFile syntax("syntax.pas", "program p;\nbegin\n  Output.writeln('x')\n  Output.writeln('y');\nend.\n");
  r = RunCli({syntax.Path()});
  EXPECT_EQ(r.exitCode, 5);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0].rfind("Syntax error line ", 0), 0u) << r.lines[0];
  EXPECT_EQ(r.lines[1], "");

  CTempFile runtime("runtime.pas",
                    "program p;\nvar L: TStringList;\nbegin\n  Output.writeln('start');\n  L.Add('x');\nend.\n");
  r = RunCli({runtime.Path()});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, (Lines{"start", "Runtime error line 5: Invalid or uninitialized object used", ""}));

  CTempFile fatal("fatal.pas", "program p;\nbegin\n  Output.writeln(StrToFloat('1,5'));\nend.\n");
  r = RunCli({fatal.Path()});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.lines, (Lines{"fatal error: '1,5' is not a valid floating point value", "aborted.", ""}));
}

TEST(CliRunArguments, ArgsBecomeTheScriptsArguments) {
  CTempFile script("args.pas",
                   "program p;\nvar i: Integer;\nbegin\n  Output.writeln(Arguments.Count);\n"
                   "  for i := 0 to Arguments.Count - 1 do Output.writeln(Arguments.String[i]);\nend.\n");
  TCliResult r = RunCli({script.Path(), "one", "two words", "'quoted'", ""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"4", "one", "two words", "'quoted'", "", "ok.", ""}));
  std::vector<std::string> many = {script.Path()};
  for (int i = 0; i < 12; ++i) many.push_back(std::to_string(i));
  r = RunCli(many);
  ASSERT_GE(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], "10");
  EXPECT_EQ(r.lines[10], "9");
}

TEST(CliRunDebug, TraceLinesAreOutputLines) {
  CTempFile script("trace.pas",
                   "program tr;\nprocedure Hello;\nbegin\n  Output.writeln('hello');\nend;\n"
                   "begin\n  Hello;\nend.\n");
  TCliResult r = RunCli({"--debug", "1", script.Path()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"Entry TR.HELLO", "hello", "Exit TR.HELLO", "ok.", ""}));
  r = RunCli({"--debug", "2", script.Path()});
  EXPECT_EQ(r.exitCode, 0);
  // Line markers stand before the first instruction of their line: the jump over the routines is on
  // line 1, the routine's entry where its "begin" was read, the closing stop after the last line feed.
  EXPECT_EQ(r.lines, (Lines{"line 1", "line 7", "line 3", "Entry TR.HELLO", "line 4", "hello", "line 5",
                            "Exit TR.HELLO", "line 9", "ok.", ""}));
}

TEST(CliRunAbort, CtrlCAbortsThroughTheRunState) {
  CTempFile script("forever.pas",
                   "program p;\nvar i: Integer;\nbegin\n  Output.writeln('started');\n"
                   "  while True do i := i + 1;\nend.\n");
  CChild child({script.Path()});
  std::string line;
  ASSERT_TRUE(child.ReadLine(line));
  EXPECT_EQ(line, "started");
  child.Interrupt();
  EXPECT_EQ(child.ReadAll(), (Lines{"aborted.", ""}));
  EXPECT_EQ(child.Wait(), 6);
}

TEST(CliRunAbort, CtrlCEndsARunawayRegExpMatch) {
  CTempFile script(
      "runaway.pas",
      "program p;\nvar r: TRegExp;\nbegin\n  r := TRegExp.Create;\n  r.SetRegExp('(a+)+b', 0);\n"
      "  Output.writeln('started');\n  r.Match('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa', 1);\nend.\n");
  CChild child({script.Path()});
  std::string line;
  ASSERT_TRUE(child.ReadLine(line));
  EXPECT_EQ(line, "started");
  child.Interrupt();
  EXPECT_EQ(child.ReadAll(), (Lines{"aborted.", ""}));
  EXPECT_EQ(child.Wait(), 6);
}

TEST(CliRunPrograms, StringsListsAndRoutines) {
  CTempFile script("words.pas", R"(program words;
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
  TCliResult r = RunCli({script.Path()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"brown nworb", "fox   xof", "jumps spmuj", "quick kciuq", "the   eht", "ok.", ""}));
}

TEST(CliRunPrograms, ByteBufferFilesTimeAndPipes) {
  std::string data = TempPath("cli-data.bin");
  CTempFile locked("cli-locked.txt", "locked\n");
  // Sharing holds between processes: this process keeps the file open exclusively.
  auto hold = CFileStream::Open(locked.Path(), fmOpenRead + fmShareExclusive);
  ASSERT_NE(hold, nullptr);
  CTempFile script("libs.pas",
                   "program libs;\nvar M: TMemory; F, G: TFile; P: TStringListPipe; L: TStringList;\n"
                   "begin\n  M := TMemory.Create(6);\n  M.SetMotorolaInteger(0, $01020304);\n"
                   "  M.SetMotorolaShort(4, 65535);\n  F := TFile.Create;\n"
                   "  Output.writeln(F.Open('" +
                       data +
                       "', fmCreate));\n  Output.writeln(F.WriteMem(M, 6));\n  F.Free;\n"
                       "  G := TFile.Create;\n  Output.writeln(G.Open('" +
                       locked.Path() +
                       "', fmOpenRead + fmShareDenyNone));\n"
                       "  Output.writeln(StrToTime(TimeToStr(86400)));\n"
                       "  P := TStringListPipe.Create('cli');\n  L := P.Lock;\n  L.Tokenize('a b', ' ');\n"
                       "  Output.writeln(L.Count);\n  P.Unlock;\n"
                       "  Output.writeln(Pos2('abcabc', 3, 'bc'));\nend.\n");
  TCliResult r = RunCli({script.Path()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, (Lines{"1", "6", "0", "86400", "2", "5", "ok.", ""}));
  EXPECT_EQ(ReadFile(data), "\x01\x02\x03\x04\xff\xff");
  std::remove(data.c_str());
}

}  // namespace

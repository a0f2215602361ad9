// test_cli_scripts.cpp: instrument scripts run headless by morvent-cli against the simulator: the
// instrument, module and CU bindings with every error text, binary round trips through TMemory,
// connecting from the script, scripts started from scripts, the clean-up when the last one ends, and a
// connection lost in the middle of an instruction.
#include <gtest/gtest.h>

#include <csignal>

#include "CliHarness.h"
#include "support/Simulator.h"
#include "support/TempDir.h"

using namespace clitest;
using namespace support;

namespace {

using Lines = std::vector<std::string>;

// MAIN-1 answers instructions, complements binary messages on BIN and never answers on SIL; VALVE-S1
// sits behind the CS CU.
const char* const kConfig = R"({"modules": [
  {"type": "MAIN-1", "serial": "000123", "cus": [
    {"name": "IN", "owner": "MAIN", "replies": {"*IDN?": "MAIN-1,000123"}},
    {"name": "BIN", "owner": "MAIN", "behaviour": "complement", "in_count": 4},
    {"name": "SIL", "owner": "MAIN", "behaviour": "silent", "in_count": 4},
    {"name": "CS", "owner": "MAIN"}]},
  {"type": "PUMP-2", "serial": "000456", "cus": [{"name": "IN", "owner": "PUMP"}]},
  {"type": "PUMP-2", "serial": "000457", "cus": [{"name": "IN", "owner": "PUMP2"}]},
  {"type": "VALVE-S1", "serial": "200001", "list": 2, "cus": [{"name": "IN", "owner": "VALVE"}]}
]})";

class CliScripts : public ::testing::Test {
 protected:
  // Runs a script text with the given options in front of "run"; its lines and exit code.
  CliResult Run(const std::string& source, std::vector<std::string> options = {},
                std::vector<std::string> runArgs = {}) {
    const std::string file = dir.Write("script.pas", source);
    runArgs.push_back(file);
    return RunCli(Concat(Concat(options, {"run", "--reply-wait", "300"}), runArgs));
  }
  // Options that name the simulator without connecting before the run.
  std::vector<std::string> Ports() const {
    return {"--telnet-port", std::to_string(sim.TelnetPort()), "--data-port", std::to_string(sim.DataPort())};
  }
  Simulator sim{kConfig};
  TempDir dir;
};

TEST_F(CliScripts, ModulesAndCusByIndexAndName) {
  CliResult r = Run(R"(program p;
var i: Integer; m: TModule; c: TCu;
function Name(o: Variant): string;
begin
  if Assigned(o) then begin m.Desc := o; Result := m.Productnr + '/' + m.SerialNr end else Result := 'nil';
end;
begin
  m := TModule.Create;
  Output.writeln(IntToStr(Instrument.NumModules) + ' ' + Instrument.GetConnection);
  for i := 0 to Instrument.NumModules + 1 do Output.writeln(Name(Instrument.GetModule(i)));
  Output.writeln(Name(Instrument.GetModule('pump-2')) + ' ' + Name(Instrument.GetModule('NOPE')));
  Output.writeln(Name(Instrument.FindModule('pump-2', 2)) + ' ' + Name(Instrument.FindModule('PUMP-2', 3)) + ' ' +
                 Name(Instrument.FindModule('PUMP-2', 0)) + ' ' + Name(Instrument.FindModule(2, 1)));
  m.Desc := Instrument.GetModule(1);
  c := TCu.Create;
  c.Desc := m.GetCu('bin');
  if Assigned(m.GetCu(5)) then Output.writeln('5th CU?');
  Output.writeln(IntToStr(m.NumCus) + ' ' + c.Name);
  c.OutBufferOffset := 3;
  Output.writeln(IntToStr(c.OutBufferOffset) + ' ' + IntToStr(c.IsOpen));
end.)",
                    Concat(LinkArgs(sim), {}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(SplitLines(r.out),
            (Lines{"4 127.0.0.1", "nil", "MAIN-1/000123", "PUMP-2/000456", "PUMP-2/000457", "VALVE-S1/200001", "nil",
                   "PUMP-2/000456 nil", "PUMP-2/000457 nil nil nil", "4 BIN", "3 0", "ok.", ""}));
}

// Every error text of the bindings ends the script with its own line.
TEST_F(CliScripts, ErrorTexts) {
  const struct {
    const char* statement;
    const char* line;
  } cases[] = {
      {"m := TModule.Create; Output.writeln(IntToStr(m.NumCus));", "Runtime error line 3: TModule.Desc not assigned"},
      {"c := TCu.Create; Output.writeln(c.Name);", "Runtime error line 3: TCu.Desc not assigned"},
      {"c := TCu.Create; c.Open;", "Runtime error line 3: TCu.Desc not assigned"},
      {"Output.writeln(IntToStr(m.NumCus));", "Runtime error line 3: Invalid or uninitialized object used"},
      {"Instrument.Disconnect; Output.writeln(IntToStr(Instrument.NumModules));",
       "Runtime error line 3: Instrument not connected"},
      {"c := TCu.Create; mem := TMemory.Create(4); c.WriteBin(mem, 4);", "Runtime error line 3: CU not open"},
      {"c := TCu.Create; mem := TMemory.Create(4); c.ReadBin(mem, 10);", "Runtime error line 3: CU not open"},
      {"c := TCu.Create; c.WriteBin(c, 4);", "Runtime error line 3: Invalid or uninitialized object used"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    CliResult r = Run(std::string("program p;\nvar m: TModule; c: TCu; mem: TMemory;\nbegin ") + c.statement + "\nend.",
                      LinkArgs(sim));
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_EQ(SplitLines(r.out), (Lines{c.line, ""}));
  }
}

TEST_F(CliScripts, InstructionsAndBinaryRoundTrips) {
  CliResult r = Run(R"(program p;
var c, b, s: TCu; m: TModule; mem: TMemory; i, n: Integer; line: string;
begin
  m := TModule.Create; m.Desc := Instrument.GetModule('MAIN-1');
  c := TCu.Create; c.Desc := m.GetCu('IN');
  Output.writeln(c.IO('*IDN?'));
  Output.writeln(IntToStr(c.Open) + ' ' + IntToStr(c.IsOpen));
  Output.writeln(c.IO('*IDN?') + ' | ' + c.IO('HELLO') + ' | ' + c.Write('AGAIN') + ' | ' + c.Read(2000));
  Output.writeln('[' + c.Read(100) + ']');
  Output.writeln(IntToStr(c.Open));
  s := TCu.Create; s.Desc := m.GetCu('SIL'); s.Open;
  Output.writeln(s.IO('anything'));
  b := TCu.Create; b.Desc := m.GetCu('BIN'); b.Open;
  mem := TMemory.Create(300);
  for i := 0 to 255 do mem.Bytes[i] := i;
  b.WriteBin(mem, 256);
  n := b.ReadBin(mem, 2000);
  line := IntToStr(n);
  for i := 0 to 255 do if mem.Bytes[i] <> 255 - i then line := line + ' bad ' + IntToStr(i);
  Output.writeln(line + ' ' + IntToStr(mem.Bytes[256]));
  mem.Alloc(8);
  b.WriteBin(TMemory.Create(40), 40);  { 40 zero bytes come back as FF; only 7 of them fit }
  Output.writeln(IntToStr(b.ReadBin(mem, 2000)) + ' ' + IntToStr(mem.Bytes[6]) + ' ' + IntToStr(mem.Bytes[7]));
  Output.writeln(IntToStr(c.Close) + ' ' + c.IO('x') + ' ' + IntToStr(c.Close));
end.)",
                    LinkArgs(sim));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(SplitLines(r.out), (Lines{"CU not open!", "1 1", "MAIN-1,000123 | OK HELLO | AGAIN | OK AGAIN", "[]", "1",
                                      "cmd error!", "257 0", "8 255 0", "1 CU not open! 0", "ok.", ""}));
}

TEST_F(CliScripts, ConnectingFromTheScript) {
  CliResult r = Run(R"(program p;
begin
  Output.writeln(IntToStr(Instrument.IsConnected) + ' [' + Instrument.GetConnection + ']');
  Output.writeln(IntToStr(Instrument.Connect('no-such-host.invalid')));
  Output.writeln(IntToStr(Instrument.Connect('127.0.0.1')) + ' ' + Instrument.GetConnection);
  Output.writeln(IntToStr(Instrument.Connect('elsewhere')) + ' ' + IntToStr(Instrument.NumModules));
  Instrument.Disconnect;
  Output.writeln(IntToStr(Instrument.IsConnected));
end.)",
                    Ports());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(SplitLines(r.out), (Lines{"0 []", "0", "1 127.0.0.1", "1 4", "0", "ok.", ""}));
  EXPECT_EQ(
      RunCli(Concat({"--address", "127.0.0.2"}, Concat(Ports(), {"run", dir.Write("x.pas", "begin end.")}))).exitCode,
      1);
}

// Scripts started from a script run on threads of their own (their lines whole) or nested (an abort there
// stops the caller); what they leave open is closed when the last one ends, before the goodbye.
TEST_F(CliScripts, StartedScriptsAndTheCleanUp) {
  dir.Write("child.pas", R"(program child;
var c: TCu; m: TModule; i: Integer;
begin
  m := TModule.Create; m.Desc := Instrument.GetModule('PUMP-2');
  c := TCu.Create; c.Desc := m.GetCu(1); c.Open;
  for i := 1 to 20 do Output.writeln('child ' + Arguments.String(0) + ' ' + c.IO('N' + IntToStr(i)));
end.)");
  dir.Write("nested.pas", "program nested;\nbegin\n  Output.writeln('nested ' + Arguments.String(0));\nend.\n");
  const std::string child = dir.File("child.pas"), nested = dir.File("nested.pas");
  CliResult r = Run(R"(program p;
var c: TCu; m: TModule;
begin
  StartScript(')" + child +
                        R"( A', 0, 1);
  StartScript(')" + child +
                        R"( B', 0, 1);
  StartScript(')" + nested +
                        R"( x', 0, 0);
  StartScript('missing.pas', 0, 0);
  Instrument.GetModule(1);
  m := TModule.Create; m.Desc := Instrument.GetModule('MAIN-1');
  c := TCu.Create; c.Desc := m.GetCu('IN'); c.Open;
  m.CreateCuWindow('IN');
  LoadWindowLayout(1);
  Output.clear;
end.)",
                    LinkArgs(sim), {});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  Lines lines = SplitLines(r.out);
  int a = 0, b = 0;
  for (const std::string& l : lines) {
    if (l.rfind("child A ", 0) == 0) {
      EXPECT_EQ(l, "child A OK N" + std::to_string(++a));
    } else if (l.rfind("child B ", 0) == 0) {
      EXPECT_EQ(l, "child B OK N" + std::to_string(++b));
    }
  }
  EXPECT_EQ(a, 20);
  EXPECT_EQ(b, 20);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "nested x"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Cannot open script missing.pas"), lines.end());
  for (const char* note : {"CU windows are not opened", "window layouts are not loaded", "cannot be cleared"})
    EXPECT_NE(r.err.find(note), std::string::npos) << note;
  // Every CU was closed before the goodbye.
  ASSERT_TRUE(sim.WaitForStatus("\"goodbyes\":1", 10s)) << sim.Status();
  EXPECT_NE(sim.Status().find("\"open\":[]"), std::string::npos) << sim.Status();
}

TEST_F(CliScripts, ConnectionLostDuringInstructions) {
  const std::string file = dir.Write("loop.pas", R"(program p;
var c: TCu; m: TModule; reply: string; i: Integer;
begin
  m := TModule.Create; m.Desc := Instrument.GetModule('MAIN-1');
  c := TCu.Create; c.Desc := m.GetCu('IN'); c.Open;
  Output.writeln('ready');
  repeat reply := c.IO('*IDN?'); i := i + 1 until (reply <> 'MAIN-1,000123') or (i > 100000);
  Output.writeln(reply);
  i := 0;
  while (Instrument.IsConnected = 1) and (i < 400) do begin SleepMS(25); i := i + 1 end;
  Output.writeln(IntToStr(Instrument.IsConnected));
end.)");
  // The link counts as lost after the session's time-out of silence.
  auto cli = StartCli(Concat(LinkArgs(sim), {"--timeout", "3000", "run", "--reply-wait", "3000", file}));
  ASSERT_TRUE(cli->WaitForOutput("ready", 20s)) << cli->Err();
  EXPECT_EQ(sim.Command("fault drop"), "ok");
  EXPECT_EQ(cli->Finish(30s), 0) << cli->Err();
  const Lines lines = SplitLines(cli->Out());
  ASSERT_GE(lines.size(), 4u);
  EXPECT_TRUE(lines[1] == "cmd error!" || lines[1] == "CU not open!") << lines[1];
  EXPECT_EQ(lines[2], "0");
  EXPECT_NE(cli->Err().find("Connection to instrument lost"), std::string::npos);
}

}  // namespace

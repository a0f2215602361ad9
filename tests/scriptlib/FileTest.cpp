// TFile as scripts use it: round trips of every access kind, lines, seeks and sizes at the edges,
// modes, folders and missing files, sharing conflicts, every refusal, and files left open.
#include "ScriptTestSupport.h"
#include "scriptlib/FileStream.h"
#include "scriptlib/LibObjects.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <regex>

namespace {

using Lines = std::vector<std::string>;

// The script text with every %F% replaced by the path.
std::string WithPath(std::string text, const std::string& path) {
  for (size_t at; (at = text.find("%F%")) != std::string::npos;) text.replace(at, 3, path);
  return text;
}

TEST(ScriptFiles, RoundTripsOfEveryAccessKind) {
  std::string path = TempPath("roundtrip.bin");
  TRunResult r = RunScript(WithPath(R"(program rt;
var F: TFile; M, N: TMemory; v, i: Integer; s: string;
begin
  F := TFile.Create;
  Output.writeln(F.IsOpen);
  Output.writeln(F.Open('%F%', fmCreate));
  Output.writeln(F.IsOpen);
  Output.writeln(F.WriteInteger(-123456789));
  Output.writeln(F.WriteString('abc' + #0 + 'def'));
  Output.writeln(F.Writeln('line one'));
  M := TMemory.Create(5);
  for i := 0 to 4 do M.Bytes[i] := 65 + i;
  Output.writeln(F.WriteMem(M, 5));
  Output.writeln(F.WriteMem(M, 0));
  Output.writeln(F.Size);
  Output.writeln(F.Position);
  Output.writeln(F.Seek(0, soFromBeginning));
  Output.writeln(F.ReadInteger(v));
  Output.writeln(v);
  Output.writeln(F.ReadString(s, 7));
  Output.writeln(s + '|' + IntToStr(Length(s)));
  Output.writeln(F.ReadLine(s));
  Output.writeln(s);
  N := TMemory.Create(8);
  Output.writeln(F.Readmem(N, 8));
  Output.writeln(N.GetString(0, 8));
  Output.writeln(F.ReadInteger(v));
  Output.writeln(v);
  Output.writeln(F.ReadString(s, 1));
  Output.writeln(s);
  Output.writeln(F.ReadLine(s));
  F.Close;
  F.Close;
  Output.writeln(F.IsOpen);
  F.Free;
end.
)",
                                    path));
  EXPECT_EQ(OkLines(r), (Lines{"0",     "1", "1",          "4",          "7",        "8",     "5", "0",        "25",
                               "25",    "0", "1",          "-123456789", "1",        "abc|3", "1", "line one", "5",
                               "ABCDE", "0", "-123456789", "0",          "line one", "0",     "0"}));
  EXPECT_EQ(ReadFile(path), std::string("\xeb\x32\xa4\xf8"
                                        "abc\0def"
                                        "line one\nABCDE",
                                        25));
  std::remove(path.c_str());
}

TEST(ScriptFiles, LinesSeeksAndSizesAtTheEdges) {
  // A line ended by CR LF, one longer than what a line keeps, an empty last line.
  CTempFile text("lines.txt", "one\r\ntwo\n" + std::string(999, 'x') + "\r" + std::string(500, 'y') + "\n\n");
  const int size = 5 + 4 + 999 + 1 + 500 + 1 + 1;
  TRunResult r = RunScript(WithPath(R"(program lines;
var F: TFile; s: string; n: Integer;
begin
  F := TFile.Create;
  Output.writeln(F.Open('%F%', fmOpenReadWrite + fmShareDenyNone));
  n := 0;
  while F.ReadLine(s) = 1 do
  begin
    n := n + 1;
    Output.writeln(IntToStr(Length(s)) + ':' + Copy(s, 1, 3));
  end;
  Output.writeln(n);
  Output.writeln(F.Position);
  Output.writeln(F.Seek(0, soFromEnd));
  Output.writeln(F.Seek(5, soFromEnd));
  Output.writeln(F.ReadLine(s));
  Output.writeln(F.Seek(-F.Size - 5, soFromEnd));
  Output.writeln(F.Position);
  Output.writeln(F.Seek(-F.Size - 6, soFromCurrent));
  Output.writeln(F.Seek(-1, soFromBeginning));
  Output.writeln(F.Seek(2, soFromBeginning));
  Output.writeln(F.Seek(3, soFromCurrent));
  F.ReadLine(s);
  Output.writeln(s);
  F.Position := F.Size + 100;
  Output.writeln(F.Size);
  Output.writeln(F.Position);
  F.Position := 0;
  F.Size := 3;
  Output.writeln(F.ReadLine(s));
  Output.writeln(s);
  Output.writeln(F.ReadLine(s));
  F.Size := 10;
  Output.writeln(F.Size);
  F.Position := 3;
  Output.writeln(F.ReadLine(s));
  Output.writeln(Length(s));
  F.Free;
end.
)",
                                    text.Path()));
  const std::string n = std::to_string(size);
  EXPECT_EQ(OkLines(r), (Lines{"1",
                               "3:one",
                               "3:two",
                               "999:xxx",
                               "0:",
                               "4",
                               n,
                               n,
                               std::to_string(size + 5),
                               "0",
                               "-1",
                               std::to_string(size + 5),
                               "-1",
                               "-1",
                               "2",
                               "5",
                               "two",
                               n,
                               std::to_string(size + 100),
                               "1",
                               "one",
                               "0",
                               "10",
                               "1",
                               "7"}));
}

TEST(ScriptFiles, CreateEmptiesAndAccessFollowsTheMode) {
  CTempFile file("modes.txt", "previous contents\n");
  TRunResult r = RunScript(WithPath(R"(program modes;
var F: TFile; s: string;
begin
  F := TFile.Create;
  Output.writeln(F.Open('%F%', fmOpenRead + fmShareDenyNone));
  Output.writeln(F.Writeln('refused'));
  Output.writeln(F.ReadLine(s));
  F.Close;
  Output.writeln(F.Open('%F%', fmOpenWrite + fmShareDenyNone));
  Output.writeln(F.ReadLine(s));
  Output.writeln(F.WriteString('NEW'));
  F.Close;
  Output.writeln(F.Open('%F%', 3));
  Output.writeln(F.Open('%F%', fmOpenRead + $50));
  Output.writeln(F.Open('%F%', $10000 + fmOpenRead));
  Output.writeln(F.ReadLine(s));
  Output.writeln(s);
  F.Close;
  Output.writeln(F.Open('%F%', fmCreate));
  Output.writeln(F.Size);
  F.Free;
end.
)",
                                    file.Path()));
  EXPECT_EQ(OkLines(r), (Lines{"1", "0", "1", "1", "0", "3", "0", "0", "1", "1", "NEWvious contents", "1", "0"}));
  EXPECT_EQ(ReadFile(file.Path()), "");
}

TEST(ScriptFiles, FoldersMissingFilesAndDeletion) {
  std::string dir = TempPath("folder");
  TRunResult r = RunScript(WithPath(R"(program dirs;
var F: TFile;
begin
  F := TFile.Create;
  Output.writeln(CreateDir('%F%'));
  Output.writeln(CreateDir('%F%'));
  Output.writeln(CreateDir('%F%/a/b'));
  Output.writeln(F.Open('%F%', fmOpenRead));
  Output.writeln(F.Open('%F%', fmOpenReadWrite));
  Output.writeln(F.Open('%F%/missing', fmOpenRead));
  Output.writeln(F.Open('%F%/missing', fmOpenWrite));
  Output.writeln(F.Open('', fmCreate));
  Output.writeln(DeleteFile('%F%/missing'));
  Output.writeln(F.Open('%F%/new', fmCreate));
  F.Close;
  Output.writeln(DeleteFile('%F%'));
  Output.writeln(DeleteFile('%F%/new'));
  Output.writeln(DeleteFile('%F%/new'));
  Output.writeln(CreateDir(''));
  F.Free;
end.
)",
                                    dir));
  EXPECT_EQ(OkLines(r), (Lines{"1", "0", "0", "0", "0", "0", "0", "0", "0", "1", "0", "1", "0", "0"}));
  struct stat st {};
  EXPECT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(::rmdir(dir.c_str()), 0);  // empty again: the file went
}

TEST(ScriptFiles, SharingModesConflictAsAdvisoryLocks) {
  CTempFile file("shared.txt", "shared text\n");
  TRunResult r = RunScript(WithPath(R"(program share;
var A, B, C, D: TFile;
begin
  A := TFile.Create; B := TFile.Create; C := TFile.Create; D := TFile.Create;
  Output.writeln(A.Open('%F%', fmOpenRead + fmShareDenyWrite));
  Output.writeln(B.Open('%F%', fmOpenRead + fmShareDenyNone));
  Output.writeln(C.Open('%F%', fmOpenReadWrite + fmShareDenyNone));
  Output.writeln(C.Open('%F%', fmOpenRead + fmShareExclusive));
  Output.writeln(C.Open('%F%', fmOpenRead + fmShareDenyWrite));
  C.Close;
  A.Close;
  Output.writeln(C.Open('%F%', fmOpenReadWrite + fmShareDenyNone));
  Output.writeln(D.Open('%F%', fmOpenRead + fmShareDenyWrite));
  Output.writeln(D.Open('%F%', fmOpenWrite + fmShareDenyRead));
  Output.writeln(D.Open('%F%', fmOpenRead));
  Output.writeln(D.Open('%F%', fmCreate));
  Output.writeln(B.Size);
  B.Close;
  C.Close;
  Output.writeln(A.Open('%F%', fmOpenWrite + fmShareDenyRead));
  Output.writeln(B.Open('%F%', fmOpenRead + fmShareDenyNone));
  Output.writeln(B.Open('%F%', fmOpenWrite + fmShareDenyNone));
  B.Close;
  A.Free;
  Output.writeln(A.Open('%F%', fmOpenRead));
end.
)",
                                    file.Path()));
  // The last line is the error of using the freed A: only a script's Free closes it.
  EXPECT_EQ(r.lines, (Lines{"1", "1", "0", "0", "1", "1", "0", "0", "0", "0", "12", "1", "0", "1",
                            "Runtime error line 25: Invalid or uninitialized object used", ""}));
  EXPECT_EQ(ReadFile(file.Path()), "shared text\n");  // the refused fmCreate emptied nothing
  // All of them closed when the script ended: an exclusive open succeeds.
  EXPECT_NE(CFileStream::Open(file.Path(), fmOpenRead + fmShareExclusive), nullptr);
}

TEST(ScriptFiles, FreeAndTheEndOfTheLastScriptClose) {
  CTempFile file("closing.txt", "x");
  TRunResult r = RunScript(WithPath(R"(program closing;
var F, G: TFile;
begin
  F := TFile.Create;
  G := TFile.Create;
  Output.writeln(F.Open('%F%', fmOpenRead + fmShareExclusive));
  Output.writeln(G.Open('%F%', fmOpenRead + fmShareExclusive));
  F.Free;
  Output.writeln(G.Open('%F%', fmOpenRead + fmShareExclusive));
  Output.writeln(ObjToStr(Nil));
  Output.writeln(ObjToStr(G));
end.
)",
                                    file.Path()));
  Lines out = OkLines(r);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(Lines(out.begin(), out.begin() + 4), (Lines{"1", "0", "1", "00000000"}));
  EXPECT_TRUE(std::regex_match(out[4], std::regex("[0-9a-f]{8}"))) << out[4];
  EXPECT_NE(out[4], "00000000");
  EXPECT_EQ(LibObjectCount(), 0);
  EXPECT_NE(CFileStream::Open(file.Path(), fmOpenRead + fmShareExclusive), nullptr);
}

TEST(ScriptFiles, LongStringsAndBufferBounds) {
  CTempFile file("long.bin", std::string(1500, 'a') + std::string(1, '\0') + std::string(1499, 'b'));
  TRunResult r = RunScript(WithPath(R"(program long;
var F: TFile; M: TMemory; s: string;
begin
  F := TFile.Create;
  F.Open('%F%', fmOpenRead);
  Output.writeln(F.ReadString(s, 2500));
  Output.writeln(Length(s));
  s := 'kept';
  Output.writeln(F.ReadString(s, 1000));
  Output.writeln(s);
  Output.writeln(F.ReadString(s, -1));
  F.Position := 0;
  M := TMemory.Create(4000);
  Output.writeln(F.Readmem(M, 4000));
  Output.writeln(M.Bytes[1500] + M.Bytes[2999]);
  Output.writeln(F.Readmem(M, 10));
end.
)",
                                    file.Path()));
  EXPECT_EQ(OkLines(r), (Lines{"1", "1500", "0", "kept", "0", "3000", "98", "0"}));
}

TEST(ScriptFiles, EveryRefusalAndItsText) {
  CTempFile file("refusals.txt", "data\n");
  // Each statement runs on line 6, on a closed TFile F, a 4-byte buffer M and a string list L.
  const std::pair<const char*, const char*> kCases[] = {
      {"v := F.Size", "File not open"},
      {"F.Size := 1", "File not open"},
      {"v := F.Position", "File not open"},
      {"F.Position := 0", "File not open"},
      {"v := F.Seek(0, soFromBeginning)", "File not open"},
      {"v := F.WriteMem(M, 1)", "File not open"},
      {"v := F.Readmem(M, 1)", "File not open"},
      {"v := F.WriteInteger(1)", "File not open"},
      {"v := F.WriteString('a')", "File not open"},
      {"v := F.Writeln('a')", "File not open"},
      {"v := F.ReadInteger(v)", "File not open"},
      {"v := F.ReadString(s, 1)", "File not open"},
      {"v := F.ReadLine(s)", "File not open"},
      {"F.Open('%F%', fmOpenRead); F.Open('%F%', fmOpenRead)", "File already open"},
      {"F.Open('%F%', fmOpenRead); v := F.WriteMem(M, 5)", "Index out of boundaries"},
      {"F.Open('%F%', fmOpenRead); v := F.Readmem(M, -1)", "Index out of boundaries"},
      {"F.Open('%F%', fmOpenRead); v := F.WriteMem(L, 1)", "Invalid or uninitialized object used"},
      {"F.Open('%F%', fmOpenRead); M.Free; v := F.Readmem(M, 1)", "Invalid or uninitialized object used"},
      {"F.Open('%F%', fmOpenRead); v := F.Seek(0, 3)", "Invalid seek origin 3"},
      {"F.Open('%F%', fmOpenRead); F.Position := -1", "Invalid file position -1"},
      {"F.Open('%F%', fmOpenRead); F.Size := 0", "Cannot set the file size to 0"},
      {"F.Open('%F%', fmOpenWrite); F.Size := -2", "Cannot set the file size to -2"},
      {"F.Free; F.Close", "Invalid or uninitialized object used"},
      {"F := L; v := F.IsOpen", "Invalid or uninitialized object used"},
      {"v := F.Open('C:\\data\\x.txt', fmCreate)", "Windows file name not supported: C:\\data\\x.txt"},
      {"v := F.Open('logs\\x.txt', fmCreate)", "Windows file name not supported: logs\\x.txt"},
      {"v := CreateDir('d:')", "Windows file name not supported: d:"},
      {"v := DeleteFile('a\\b')", "Windows file name not supported: a\\b"},
  };
  for (const auto& [statement, error] : kCases) {
    TRunResult r = RunScript(WithPath(std::string("program bad;\nvar F: TFile; M: TMemory; L: TStringList; v: Integer; "
                                                  "s: string;\nbegin\n  F := TFile.Create; M := TMemory.Create(4);\n"
                                                  "  L := TStringList.Create;\n  ") +
                                          statement + ";\n  Output.writeln('not reached');\nend.\n",
                                      file.Path()));
    EXPECT_EQ(r.lines, (Lines{std::string("Runtime error line 6: ") + error, ""})) << statement;
  }
  EXPECT_EQ(ReadFile(file.Path()), "data\n");
  EXPECT_EQ(LibObjectCount(), 0);
}

}  // namespace

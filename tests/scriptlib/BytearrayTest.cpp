// TMemory as scripts use it: byte orders, the bounds at both edges of the buffer, every refusal and
// its text, byte conversion, long strings; and the storage accessor other bindings use.
#include "ScriptTestSupport.h"
#include "scriptlib/Bytearray.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(ByteBuffer, ByteOrdersAndTheEdgesOfTheBuffer) {
  TRunResult r = RunScript(R"(program mem;
var M, S: TMemory; i: Integer;
begin
  M := TMemory.Create(8);
  Output.writeln(M.Size);
  M.SetMotorolaInteger(0, $12345678);
  Output.writeln(Format('%x %x %x %x', [M.Bytes[0], M.Bytes[1], M.Bytes[2], M.Bytes[3]]));
  Output.writeln(Format('%x', [M.GetInteger(0)]));
  Output.writeln(M.GetMotorolaInteger(0));
  { an access may end on the last byte }
  Output.writeln(M.SetInteger(4, -2));
  Output.writeln(M.GetInteger(4));
  Output.writeln(M.Bytes[4] + M.Bytes[7] * 1000);
  M.SetMotorolaInteger(4, -1);
  Output.writeln(M.GetMotorolaInteger(4));
  M.SetMotorolaShort(6, 0xFFFE);
  Output.writeln(M.GetMotorolaShort(6));
  Output.writeln(M.GetMotorolaUShort(6));
  M.SetMotorolaShort(6, -32768);
  Output.writeln(Format('%d %d %d', [M.Bytes[6], M.Bytes[7], M.GetMotorolaShort(6)]));
  M.Bytes[7] := 300;
  Output.writeln(M.Bytes[7]);
  M.Bytes[7] := -1;
  Output.writeln(M.Bytes[7]);
  M.SetInteger(4, 0xFFFFFFFF);
  Output.writeln(M.GetInteger(4));

  S := TMemory.Create(6);
  S.SetString(0, 'AB');
  S.Bytes[2] := 0;
  Output.writeln(S.SetString(3, 'CDE'));
  Output.writeln(S.GetString(0, 5) + '|' + S.GetString(3, 3) + '|' + S.GetString(6, 0) + '|');
  Output.writeln(S.SetString(6, ''));
  S.Alloc(3000);
  Output.writeln(S.Size);
  for i := 0 to 2999 do S.Bytes[i] := 97;
  Output.writeln(Length(S.GetString(0, 3000)));
  Output.writeln(Length(S.GetString(10, -5)));
  S.Free;
  M.Free;
end.
)");
  EXPECT_EQ(OkLines(r), (Lines{"8",  "12 34 56 78", "78563412", "305419896",    "4",    "-2",  "255254",
                               "-1", "-2",          "65534",    "128 0 -32768", "44",   "255", "-1",
                               "3",  "AB|CDE||",    "0",        "3000",         "3000", "0"}));
}

TEST(ByteBuffer, EveryRefusalAndItsText) {
  // Each statement runs on a fresh 4-byte buffer on line 5 of its script.
  const char* const kOutOfBounds[] = {"v := M.Bytes[4]",
                                      "M.Bytes[-1] := 1",
                                      "v := M.GetInteger(1)",
                                      "M.SetInteger(1, 0)",
                                      "v := M.GetMotorolaInteger(1)",
                                      "M.SetMotorolaInteger(-1, 0)",
                                      "v := M.GetMotorolaUShort(3)",
                                      "v := M.GetMotorolaShort(3)",
                                      "M.SetMotorolaShort(3, 1)",
                                      "v := M.GetString(2, 3)",
                                      "M.SetString(2, 'abc')",
                                      "M.SetString(5, '')",
                                      "v := M.GetString(5, 0)",
                                      "v := M.Bytes[2147483647]",
                                      "v := M.GetInteger(2147483646)"};
  for (const char* statement : kOutOfBounds) {
    TRunResult r =
        RunScript(std::string("program edge;\nvar M: TMemory; v: Integer;\nbegin\n  M := TMemory.Create(4);\n  ") +
                  statement + ";\n  Output.writeln('not reached');\nend.\n");
    EXPECT_EQ(r.lines, (Lines{"Runtime error line 5: Index out of boundaries", ""})) << statement;
  }
  // The same widths that end exactly on the last byte are accepted.
  TRunResult r = RunScript(
      "program fits;\nvar M: TMemory;\nbegin\n  M := TMemory.Create(4);\n  M.SetInteger(0, 7);\n"
      "  Output.writeln(M.GetInteger(0) + M.GetMotorolaUShort(2) + M.Bytes[3]);\n"
      "  Output.writeln(M.SetString(1, 'xyz') + Length(M.GetString(0, 4)));\nend.\n");
  EXPECT_EQ(OkLines(r), (Lines{"7", "7"}));

  const std::pair<const char*, const char*> kOthers[] = {
      {"M := TMemory.Create(-1)", "Runtime error line 5: Invalid memory size -1"},
      {"M.Alloc(-7)", "Runtime error line 5: Invalid memory size -7"},
      {"M.Free; v := M.Size", "Runtime error line 5: Invalid or uninitialized object used"},
      {"M := Nil; M.Bytes[0] := 1", "Runtime error line 5: Invalid or uninitialized object used"},
      {"M := TStringList.Create; v := M.GetInteger(0)", "Runtime error line 5: Invalid or uninitialized object used"},
      {"M.Alloc(0); v := M.Bytes[0]", "Runtime error line 5: Index out of boundaries"},
  };
  for (const auto& [statement, error] : kOthers) {
    r = RunScript(std::string("program bad;\nvar M: TMemory; v: Integer;\nbegin\n  M := TMemory.Create(4);\n  ") +
                  statement + ";\n  Output.writeln('not reached');\nend.\n");
    EXPECT_EQ(r.lines, (Lines{error, ""})) << statement;
  }
  // Buffers a script never freed are gone once no script runs.
  EXPECT_EQ(LibObjectCount(), 0);
}

TEST(ByteBuffer, StorageAccessorForOtherBindings) {
  auto owned = std::make_unique<TMemory>(16);
  TMemory* raw = owned.get();
  TObjHandle h = AdoptLibObject(std::move(owned));
  TMemory& m = MemoryArg(ObjToVar(h));
  EXPECT_EQ(&m, raw);
  ASSERT_EQ(m.Size(), 16);
  ASSERT_NE(m.Data(), nullptr);
  EXPECT_EQ(m.Data()[15], 0);  // new storage reads as zeros
  EXPECT_NO_THROW(m.CheckRange(0, 16));
  EXPECT_NO_THROW(m.CheckRange(16, 0));
  EXPECT_THROW(m.CheckRange(1, 16), ERunTimeError);
  EXPECT_THROW(m.CheckRange(-1, 1), ERunTimeError);
  m.Alloc(0);
  EXPECT_EQ(m.Data(), nullptr);
  EXPECT_THROW(m.CheckRange(0, 1), ERunTimeError);
  EXPECT_TRUE(FreeLibObject(h));
  EXPECT_THROW(MemoryOf(h), ERunTimeError);
}

}  // namespace

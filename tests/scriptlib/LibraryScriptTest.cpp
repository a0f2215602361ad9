// The general library as scripts use it: small programs whose output is worked out by hand, grouped by
// feature, run on a run thread; tables of programs with their output, or with the error that ends them.
#include "ScriptTestSupport.h"
#include "scriptlib/LibObjects.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

using Lines = std::vector<std::string>;

struct TScriptCase {
  const char* name;
  std::string source;
  Lines lines;  // the output: before the closing "ok." for a program that ends well, else all of it
  TScriptOutcome outcome = TScriptOutcome::Ok;
};
void PrintTo(const TScriptCase& c, std::ostream* os) { *os << c.name; }
std::string CaseName(const ::testing::TestParamInfo<TScriptCase>& info) { return info.param.name; }

// Programs that end well, with the lines they print.
class LibraryProgram : public ::testing::TestWithParam<TScriptCase> {};

TEST_P(LibraryProgram, PrintsTheWorkedOutLines) { EXPECT_EQ(OkLines(RunScript(GetParam().source)), GetParam().lines); }

INSTANTIATE_TEST_SUITE_P(
    LibraryScripts, LibraryProgram,
    ::testing::ValuesIn(std::vector<TScriptCase>{
        {"ConversionFunctions",
         R"(program conv;
var c, v: Integer;
begin
  Output.writeln(IntToHex(255, 4));
  Output.writeln(IntToHex(-1, 2));
  Output.writeln(IntToStr(42) + '!');
  Output.writeln(StrToInt('12') + 1);
  Output.writeln(FloatToStr(StrToFloat('2.5') * 2));
  Output.writeln(FloatToStr(1 / 3));
  Output.writeln(FormatFloat('#,##0.00', 1234.5));
  Output.writeln(Format('%d-%s-%.2f|%5s|%-3d|%x', [7, 'x', 1.5, 'ab', 4, 255]));
  Output.writeln(AnsiUpperCase('abc') + AnsiLowerCase('DEF'));
  Output.writeln(AnsiCompareText('abc', 'ABC'));
  Output.writeln(Trim('  a  ') + '|' + TrimLeft('  b ') + '|' + TrimRight(' c  ') + '|');
end.
)",
         {"00FF", "FFFFFFFF", "42!", "13", "5", "0.333333333333333", "1,234.50", "7-x-1.50|   ab|4  |FF", "ABCdef", "0",
          "a|b | c|"}},
        {"ValSetsValueAndCode",
         R"(program val;
var c, v: Integer;
begin
  Val('12', v, c);
  Output.writeln(v + 1);
  Output.writeln(c);
  Val('1.5', v, c);
  Output.writeln(v * 2);
  Val('12x', v, c);
  Output.writeln(c);
end.
)",
         {"13", "0", "3", "3"}},
        {"StringEditing",
         R"(program edit;
var s: string;
begin
  s := 'hello';
  Delete(s, 2, 2);
  Output.writeln(s);
  Insert('el', s, 2);
  Output.writeln(s);
  Output.writeln(Pos('ll', s));
  Output.writeln(Pos('', s));
  Output.writeln(Copy(s, 4, 10));
  Output.writeln(Copy(s, 0, 2));
  Output.writeln(Length(s));
  Output.writeln(Length(12345));
  SetLength(s, 2);
  Output.writeln(s + '|');
  Delete(s, 0, 1);
  Output.writeln(s);
  Insert('>', s, 99);
  Output.writeln(s);
end.
)",
         {"hlo", "hello", "3", "0", "lo", "he", "5", "5", "he|", "he", "he>"}},
        {"PiAndAssigned",
         R"(program sys;
var o: TVariant; n: Integer;
begin
  Output.writeln(FormatFloat('0.0000', pi));
  Output.writeln(Assigned(o));
  Output.writeln(Assigned(Nil));
  Output.writeln(Assigned('text'));
  o := TVariant.Create;
  Output.writeln(Assigned(o));
  Output.writeln(Assigned(Output));
  o.Free;
end.
)",
         {"3.1416", "0", "0", "0", "1", "1"}},
        {"TVariantCellAndTObjectMembers",
         R"(program cell;
var v: TVariant;
begin
  v := TVariant.Create;
  if v.VarType = varEmpty then Output.writeln('empty');
  v.Item := 'abc';
  Output.writeln(v.Item);
  if v.VarType = varString then Output.writeln('string');
  v.Item := 7;
  if v.VarType = varInteger then Output.writeln(v.Item * 6);
  v.Clear;
  if v.VarType = varEmpty then Output.writeln('cleared');
  Output.writeln(v.ClassName);
  if v.ClassNameIs('TVARIANT') then Output.writeln('is');
  if not v.ClassNameIs('TStringList') then Output.writeln('is not');
  Output.writeln(Output.ClassName);
  v.Free;
end.
)",
         {"empty", "abc", "string", "42", "cleared", "TVariant", "is", "is not", "TInstrScriptOutput"}},
        {"ObjectListCopiesValues",
         R"(program olist;
var L: TObjectList; s: string;
begin
  L := TObjectList.Create;
  s := 'two';
  Output.writeln(L.Add(1));
  L.Add(s);
  L.Add(3.5);
  s := 'changed';
  Output.writeln(L.Count);
  Output.writeln(L.Items[1]);
  L.Items[1] := 'TWO';
  Output.writeln(L.Items[1]);
  Output.writeln(L.First);
  Output.writeln(L.Last);
  L.Exchange(0, 2);
  Output.writeln(L.Items[0]);
  L.Move(0, 2);
  Output.writeln(L.Items[2]);
  L.Insert(0, 'zero');
  L.Delete(1);
  Output.writeln(L.Items[0]);
  Output.writeln(L.Items[1]);
  L.Count := 4;
  Output.writeln(L.ObjType[3]);
  Output.writeln(L.ObjType[2]);
  L.Clear;
  Output.writeln(L.Count);
  L.Free;
end.
)",
         {"0", "3", "two", "TWO", "1", "3.5", "3.5", "3.5", "zero", "1", "0", "5", "0"}},
        {"StringListSortedValuesAndObjects",
         R"(program slist;
var L, M: TStringList; i: Integer;
begin
  L := TStringList.Create;
  L.Sorted := True;
  L.Add('pear');
  L.Add('apple');
  L.Add('fig');
  L.Add('APPLE');
  for i := 0 to L.Count - 1 do Output.writeln(L.Strings[i]);
  if L.Find('FIG', i) then Output.writeln(i);
  if not L.Find('grape', i) then Output.writeln(i);
  L.Values['k'] := 'v';
  Output.writeln(L.Values['K']);
  Output.writeln(L.IndexOf('PEAR'));
  Output.writeln(L.Names[2]);
  L.Objects[0] := 42;
  Output.writeln(L.Objects[0] + 1);
  Output.writeln(L.ObjType[1]);
  Output.writeln(L.ObjType[0]);
  Output.writeln(L.IndexOfObject(42));
  M := TStringList.Create;
  M.AddStrings(L);
  if M.Equals(L) then Output.writeln('equal');
  M.Delete(0);
  if not M.Equals(L) then Output.writeln('differ');
  Output.writeln(M.AddObject('zz', 'cell'));
  Output.writeln(M.Objects[M.IndexOf('zz')]);
  M.Free;
  L.Free;
end.
)",
         {"apple", "fig", "pear", "1", "2", "v", "3", "k", "43", "0", "3", "0", "equal", "differ", "3", "cell"}},
        {"UnsortedStringListEditing",
         R"(program edit;
var L: TStringList;
begin
  L := TStringList.Create;
  L.Add('b');
  L.Insert(0, 'a');
  L.Add('c');
  L.Exchange(0, 2);
  L.Move(0, 1);
  L.Strings[2] := 'A';
  Output.writeln(L.Strings[0] + L.Strings[1] + L.Strings[2]);
  L.Sort;
  Output.writeln(L.Strings[0] + L.Strings[1] + L.Strings[2]);
  L.Clear;
  Output.writeln(L.Count);
  L.Free;
end.
)",
         {"bcA", "Abc", "0"}},
        {"FormatTakesOnlyNumbersAndTextsFromItsArray",
         "program fmt;\nbegin\n  Output.writeln(Format('%s|%5.1f|%3d%%', [True, 2.25, 7]));\nend.\n",
         {"<non handled VarToConst conversion>|  2.3|  7%"}},
    }),
    CaseName);

// Programs that a run-time or fatal error ends, with everything they print.
class LibraryError : public ::testing::TestWithParam<TScriptCase> {};

TEST_P(LibraryError, EndsTheScriptWithItsMessage) {
  TRunResult r = RunScript(GetParam().source);
  EXPECT_EQ(r.lines, GetParam().lines);
  EXPECT_EQ(r.outcome, GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    LibraryScripts, LibraryError,
    ::testing::ValuesIn(std::vector<TScriptCase>{
        {"FreedObjectsAreRefusedWithTheLine",
         "program stale;\nvar L: TStringList;\nbegin\n  L := TStringList.Create;\n"
         "  L.Free;\n  L.Add('x');\nend.\n",
         {"Runtime error line 6: Invalid or uninitialized object used", ""},
         TScriptOutcome::ScriptError},
        {"AnObjectOfAnotherClassIsRefused",
         "program wrong;\nvar L: TStringList; v: TVariant;\nbegin\n  v := TVariant.Create;\n"
         "  L := v;\n  L.Add('x');\nend.\n",
         {"Runtime error line 6: Invalid or uninitialized object used", ""},
         TScriptOutcome::ScriptError},
        {"HostObjectsCannotBeFreedByScripts",
         "program hostfree;\nbegin\n  Output.Free;\nend.\n",
         {"Runtime error line 3: Object cannot be freed by a script", ""},
         TScriptOutcome::ScriptError},
        {"DispatchIsNotSupported",
         "program disp;\nvar v: TVariant; m: Integer;\nbegin\n  v := TVariant.Create;\n"
         "  v.Dispatch(m);\nend.\n",
         {"Runtime error line 5: TObject.Dispatch is not supported", ""},
         TScriptOutcome::ScriptError},
        {"ConversionErrorsAreFatal",
         "program bad;\nbegin\n  Output.writeln(StrToInt('abc'));\nend.\n",
         {"fatal error: 'abc' is not a valid integer value", "aborted.", ""},
         TScriptOutcome::FatalError},
        {"FormatArgumentErrorsAreFatal",
         "program bad;\nbegin\n  Output.writeln(Format('%d %d', [1]));\nend.\n",
         {"fatal error: No argument for format '%d %d'", "aborted.", ""},
         TScriptOutcome::FatalError},
        {"ListIndexErrorsAreFatal",
         "program bad;\nvar L: TObjectList;\nbegin\n  L := TObjectList.Create;\n  L.Items[3] := 1;\nend.\n",
         {"fatal error: List index out of bounds (3)", "aborted.", ""},
         TScriptOutcome::FatalError},
        {"ListDuplicatesErrorsAreFatal",
         "program bad;\nvar L: TStringList;\nbegin\n  L := TStringList.Create;\n  L.Sorted := True;\n"
         "  L.Duplicates := dupError;\n  L.Add('a');\n  L.Add('A');\nend.\n",
         {"fatal error: String list does not allow duplicates", "aborted.", ""},
         TScriptOutcome::FatalError},
        {"UnboundedSetLengthIsARunTimeError",
         "program big;\nvar s: string;\nbegin\n  SetLength(s, 2000000000);\nend.\n",
         {"Runtime error line 4: SetLength: length 2000000000 too large", ""},
         TScriptOutcome::ScriptError},
        {"UnknownDuplicatesValueIsARunTimeError",
         "program dup;\nvar L: TStringList;\nbegin\n  L := TStringList.Create;\n  L.Duplicates := 7;\nend.\n",
         {"Runtime error line 5: Invalid duplicates value 7", ""},
         TScriptOutcome::ScriptError},
        {"UnboundedListCountIsFatal",
         "program cnt;\nvar L: TObjectList;\nbegin\n  L := TObjectList.Create;\n  L.Count := 2000000000;\nend.\n",
         {"fatal error: List count out of bounds (2000000000)", "aborted.", ""},
         TScriptOutcome::FatalError},
        {"FormatRefusesABooleanForANumber",
         "program fmt;\nbegin\n  Output.writeln(Format('%d', [True]));\nend.\n",
         {"fatal error: Format '%d' invalid or incompatible with argument", "aborted.", ""},
         TScriptOutcome::FatalError},
    }),
    CaseName);

TEST(LibraryScripts, StringListFiles) {
  std::string path = TempPath("list.txt");
  TRunResult r = RunScript(
      "program files;\nvar L: TStringList;\nbegin\n  L := TStringList.Create;\n"
      "  L.Add('one');\n  L.Add('two');\n  L.SaveToFile('" +
      path +
      "');\n"
      "  L.Clear;\n  L.LoadFromFile('" +
      path +
      "');\n"
      "  Output.writeln(L.Count);\n  Output.writeln(L.Strings[1]);\n  L.Free;\nend.\n");
  EXPECT_EQ(OkLines(r), (Lines{"2", "two"}));
  EXPECT_EQ(ReadFile(path), "one\r\ntwo\r\n");
  std::remove(path.c_str());
}

TEST(LibraryScripts, MissingListFileIsAFileError) {
  std::string missing = TempPath("missing.txt");
  TRunResult r =
      RunScript("program nofile;\nvar L: TStringList;\nbegin\n  L := TStringList.Create;\n  L.LoadFromFile('" +
                missing + "');\nend.\n");
  EXPECT_EQ(r.lines, (Lines{"fatal error: Cannot open file \"" + missing + "\"", "aborted.", ""}));
}

TEST(LibraryScripts, LeftoverObjectsGoWhenTheLastScriptEnds) {
  TRunResult r = RunScript(
      "program leak;\nvar L: TStringList;\nbegin\n  L := TStringList.Create;\n"
      "  L := TObjectList.Create;\nend.\n");
  EXPECT_EQ(OkLines(r), Lines{});
  EXPECT_EQ(LibObjectCount(), 0);
  EXPECT_EQ(TScriptObjectRegistry::Instance().Running(), 0);
}

TEST(LibraryScripts, RunMacroReturnsTheMacrosResult) {
  CTempFile macro("macro.pas", "program m;\nbegin\n  Result := 6 * 7;\nend.\n");
  TRunResult r = RunScript("program caller;\nbegin\n  Output.writeln(RunMacro('" + macro.Path() + "') + 1);\nend.\n");
  EXPECT_EQ(OkLines(r), Lines{"43"});
}

}  // namespace

// Program structure: units, name keys and the search order, slots, the jump over routine bodies,
// line-marker coalescing and named objects in declarations.
#include <gtest/gtest.h>

#include <map>

#include "ScriptTestUtil.h"

namespace {
// Compiles and runs source with units taken from the given map.
std::vector<std::string> RunWithUnits(const std::string& source, const std::map<std::string, std::string>& units) {
  PrintLog().clear();
  THalComp comp;
  comp.SetScriptText(source);
  comp.SetUnitLoader([&units](const std::string& path, std::string& text) {
    auto it = units.find(path);
    if (it == units.end()) return false;
    text = it->second;
    return true;
  });
  comp.Compile();
  TStopFlag stop{'R'};
  comp.Run(stop, nullptr);
  return PrintLog();
}

std::string UnitError(const std::string& source, const std::map<std::string, std::string>& units) {
  try {
    RunWithUnits(source, units);
  } catch (const ECompilerError& e) {
    return e.what();
  }
  return "";
}

const std::map<std::string, std::string> kUnits = {
    {"a.pas",
     "unit UA;\ninterface Shared, Hello;\nvar Shared: integer; Hidden: integer;\n"
     "procedure Hello;\nbegin Print('hello from A') end;\n"
     "initialization\nShared := 5; Print('init A');\nfinalization\nPrint('fin A');\nend."},
    {"b.pas",
     "unit UB;\nuses 'a.pas';\ninterface Twice;\nfunction Twice(x: integer): integer;\nbegin Result := 2 * x end;\n"
     "initialization\nPrint('init B');\nend"},
    {"c.pas", "unit UC;\nvar Only: integer;\nfinalization\nPrint('fin C');\nend."},
    {"again.pas", "unit UA;\nvar Other: integer;\nend."},
    {"bad.pas", "unit UBad;\nvar x: integer;\nprocedure P;\nbegin\n  x := \nend;\nend."},
    {"self.pas", "unit USelf;\nuses 'self.pas';\nend."},
    {"plain.pas", "unit UPlain;\ninterface Answer;\nconst Answer = 42;\nend."},
};
}  // namespace

TEST(Units, InterfaceNamesAreVisibleAndInitsRunInOrderOfFirstUse) {
  const char* src =
      "program P;\nuses 'b.pas', 'a.pas', 'c.pas';\n"
      "begin\n  Hello; Print(Shared); Print(Twice(Shared))\nend.";
  // units are listed when first met (b.pas before the a.pas it uses); a.pas, used twice, is compiled
  // and initialised once; finalizations run last unit first
  EXPECT_EQ(RunWithUnits(src, kUnits),
            (std::vector<std::string>{"init B", "init A", "hello from A", "5", "10", "fin C", "fin A"}));
}

TEST(Units, PrivateNamesStayInTheUnit) {
  EXPECT_EQ(UnitError("program P;\nuses 'a.pas';\nbegin Print(Hidden) end.", kUnits),
            "Syntax error line 3: Unknown identifier: HIDDEN");
  EXPECT_EQ(UnitError("program P;\nuses 'c.pas';\nbegin Print(Only) end.", kUnits),
            "Syntax error line 3: Unknown identifier: ONLY");
  EXPECT_EQ(RunWithUnits("program P;\nuses 'plain.pas';\nbegin Print(Answer) end.", kUnits),
            (std::vector<std::string>{"42"}));
}

TEST(Units, ProgramNamesShadowAndUnitErrorsAreWrapped) {
  // the program's own X is found before nothing else of that name
  EXPECT_EQ(RunWithUnits("program P;\nuses 'a.pas';\nvar Local: integer;\nbegin Local := Shared + 1; Print(Local) end.",
                         kUnits),
            (std::vector<std::string>{"init A", "6", "fin A"}));
  EXPECT_EQ(UnitError("program P;\nuses 'missing.pas';\nbegin end.", kUnits),
            "Syntax error line 2: File 'missing.pas' not found");
  EXPECT_EQ(UnitError("program P;\nuses 'bad.pas';\nbegin end.", kUnits),
            "Unit 'bad.pas': Syntax error line 6: Expression expected but END found");
  EXPECT_EQ(UnitError("program P;\nuses x;\nbegin end.", kUnits), "Syntax error line 2: Quoted unit path expected");
  // a unit that uses itself is compiled once
  EXPECT_EQ(RunWithUnits("program P;\nuses 'self.pas';\nbegin Print('ok') end.", kUnits),
            (std::vector<std::string>{"ok"}));
  // a unit name already compiled is skipped even from another file
  EXPECT_EQ(RunWithUnits("program P;\nuses 'a.pas', 'again.pas';\nbegin Print(Shared) end.", kUnits),
            (std::vector<std::string>{"init A", "5", "fin A"}));
}

TEST(Units, UnitFilesFromADirectory) {
  const std::string dir = ::testing::TempDir() + "/units_dir";
  std::system(("mkdir -p '" + dir + "'").c_str());
  {
    FILE* f = std::fopen((dir + "/u.pas").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("unit U;\ninterface Seven;\nconst Seven = 7;\nend.", f);
    std::fclose(f);
  }
  THalComp comp;
  comp.SetScriptText("program P; uses 'u.pas'; begin Print(Seven) end.");
  comp.SetUnitDirectory(dir);
  comp.Compile();
  TStopFlag stop{'R'};
  PrintLog().clear();
  comp.Run(stop, nullptr);
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"7"}));
}

TEST(Structure, JumpOverRoutinesAndSlots) {
  std::string image;
  THalCompiler c(
      "program P; var a, b: integer; procedure Q(x: integer); var y: integer; begin y := x end;\n"
      "begin a := 1 end.",
      image);
  c.compile();
  const TIdentList& ids = c.Identifiers();
  ASSERT_TRUE(ids.count("P.A") && ids.count("P.B") && ids.count("P.Q") && ids.count("P.Q.X") && ids.count("P.Q.Y") &&
              ids.count("P.Q.RESULT"));
  EXPECT_EQ(ids.at("P.A").Number, 0);
  EXPECT_EQ(ids.at("P.B").Number, 1);
  EXPECT_EQ(ids.at("P.Q").Kind, 1);
  EXPECT_EQ(ids.at("P.Q").ParamNames, (std::vector<std::string>{"X"}));
  EXPECT_EQ(ids.at("P.Q.X").TypeName, "INTEGER");
  TBinProg prog(image);
  EXPECT_EQ(prog.Code(0).op, ocLine);
  EXPECT_EQ(prog.Code(1).op, ocJump);
  // the jump lands after the routine's return
  const int target = prog.LabelPlace(prog.Code(1).a);
  EXPECT_EQ(prog.Code(target - 1).op, ocReturn);
  EXPECT_EQ(prog.Code(prog.CodeCount() - 1).op, ocStop);
  // with no routines the jump goes to the next instruction
  TBinProg empty(CompileImage("program P; begin end."));
  EXPECT_EQ(empty.LabelPlace(empty.Code(1).a), 2);
}

TEST(Structure, LineMarkersCoalesce) {
  TBinProg prog(CompileImage("program P;\nvar a: integer;\n\n\nbegin\n\n  a := 1;\n\n  a := 2\nend."));
  std::vector<int> lines;
  for (int i = 0; i < prog.CodeCount(); ++i)
    if (prog.Code(i).op == ocLine) lines.push_back(prog.Code(i).a);
  // each marker stands before the first instruction emitted after its line feed was read; lines
  // without code leave none, and "a := 2" emits its code only after looking ahead into line 10
  EXPECT_EQ(lines, (std::vector<int>{1, 7, 10}));
  for (int i = 0; i + 1 < prog.CodeCount(); ++i)
    EXPECT_FALSE(prog.Code(i).op == ocLine && prog.Code(i + 1).op == ocLine);
}

TEST(Structure, ManySlotsAreGiven) {
  // more than 3001 variables and temporaries: the program gets more slots
  std::string vars, body;
  for (int i = 0; i < 3500; ++i) {
    vars += "v" + std::to_string(i) + ", ";
    body += "v" + std::to_string(i) + " := " + std::to_string(i) + ";";
  }
  vars += "last: integer;";
  const auto out = RunProgram("program P; var " + vars + " begin " + body + " last := v3499 + v1; Print(last) end.");
  EXPECT_EQ(out, (std::vector<std::string>{"3500"}));
}

TEST(Structure, ClassTypedVariablesBindAndRecordParent) {
  std::string image;
  THalCompiler c("program P; type TMy = class(TStringList) a: integer; end; begin end.", image);
  c.compile();
  EXPECT_EQ(c.ClassParentName(), "TSTRINGLIST");
  EXPECT_TRUE(c.Identifiers().count("P.TMY.A"));
}

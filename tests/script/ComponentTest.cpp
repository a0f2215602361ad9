// THalComp and THalRuner: default script, compile-once, running objects, results and expressions,
// macros from files.
#include <gtest/gtest.h>

#include <fstream>

#include "ScriptTestUtil.h"

TEST(Component, DefaultScriptCompilesToNothing) {
  THalComp comp;
  EXPECT_EQ(comp.Script(), (std::vector<std::string>{"program lolo;", "begin", "end."}));
  comp.Compile();
  TStopFlag stop{'R'};
  comp.Run(stop, nullptr);
  EXPECT_TRUE(comp.Runner()->Compiled());
}

TEST(Component, CompileBeforeRun) {
  THalComp comp;
  TStopFlag stop{'R'};
  try {
    comp.Run(stop, nullptr);
    FAIL();
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "Compile before run");
  }
}

TEST(Component, CompilesOncePerScriptChange) {
  THalComp comp;
  comp.SetScriptText("program T; begin Print(1) end.");
  comp.Compile();
  TStopFlag stop{'R'};
  comp.Run(stop, nullptr);
  THalRuner* first = comp.Runner();
  const TBinProg* prog = first->Program();
  comp.Compile();
  comp.Run(stop, nullptr);
  EXPECT_EQ(comp.Runner()->Program(), prog);
  comp.SetScriptText("program T; begin Print(2) end.");
  comp.Compile();
  PrintLog().clear();
  comp.Run(stop, nullptr);
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"2"}));
}

TEST(Component, CompileErrorLeavesTheRunnerUncompiled) {
  THalComp comp;
  comp.SetScriptText("program T; begin Print(Missing) end.");
  comp.Compile();
  TStopFlag stop{'R'};
  EXPECT_THROW(comp.Run(stop, nullptr), ECompilerError);
  EXPECT_FALSE(comp.Runner()->Compiled());
  SetHalParam("Missing", TValue("now here"));
  PrintLog().clear();
  comp.Run(stop, nullptr);  // compiles again
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"now here"}));
  ClearHalParams();
}

TEST(Component, RunningObjectsBeforeCompileHaveNoEffect) {
  int obj = 0;
  const TObjHandle h = RegisterLiveObject(&obj, "TObject");
  THalComp comp;
  comp.SetScriptText("program T; begin Print(Thing = nil) end.");
  comp.AddRunningObject("Thing", h);  // no runner yet: ignored
  comp.Compile();
  TStopFlag stop{'R'};
  EXPECT_THROW(comp.Run(stop, nullptr), ECompilerError);
  comp.Compile();
  comp.AddRunningObject("Thing", h);
  PrintLog().clear();
  comp.Run(stop, nullptr);
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"False"}));
  UnregisterLiveObject(&obj);
}

TEST(Component, ResultsAndExpressions) {
  THalComp comp;
  comp.SetExpression("2 + 3 * 4");
  EXPECT_EQ(comp.getresult().AsInteger(), 14);
  comp.SetExpression("'a' + 'b';");
  EXPECT_EQ(comp.getresult().AsString(), "ab");
  comp.SetScriptText("program M; var x: integer; begin x := 6; Result := x * 7 end.");
  EXPECT_EQ(comp.getresult().AsInteger(), 42);
  // routines keep their own Result
  comp.SetScriptText("program M; function F: integer; begin Result := 1 end; begin Result := F + 1 end.");
  EXPECT_EQ(comp.getresult().AsInteger(), 2);
  comp.SetScriptText(
      "program M; function F: integer; begin Result := 20; Result := Result + 1 end; "
      "begin Result := 1; Result := Result + F end.");
  EXPECT_EQ(comp.getresult().AsInteger(), 22);
  comp.SetScriptText("program M; begin end.");
  EXPECT_TRUE(comp.getresult().IsEmpty());
}

TEST(Component, MacrosFromFiles) {
  const std::string dir = ::testing::TempDir();
  const std::string file = dir + "/macro_test.pas";
  {
    std::ofstream f(file);
    f << "program Mac;\nbegin\n  Result := 'macro ' + 'result'\nend.\n";
  }
  TValue result(int32_t(5));
  RunMacro(file, result);
  EXPECT_EQ(result.AsString(), "macro result");
  std::vector<std::string> boxes;
  SetHalMessageBox([&boxes](const std::string& t) { boxes.push_back(t); });
  TValue untouched(int32_t(5));
  RunMacro(dir + "/no_such_macro.pas", untouched);
  SetHalMessageBox(nullptr);
  EXPECT_EQ(boxes, (std::vector<std::string>{"File " + dir + "/no_such_macro.pas not found"}));
  EXPECT_EQ(untouched.AsInteger(), 5);
}

TEST(Component, LocalProviderIsSeenOnlyByItsOwnComponent) {
  THalComp comp;
  TValue store(int32_t(3));
  comp.SetVariableProvider(
      "CompVars", [](const std::string& n) { return n == "MINE" ? 0 : -1; }, [&store](int) { return store; },
      [&store](int, const TValue& v) { store = v; });
  comp.SetScriptText("program T; begin Mine := Mine * 2 end.");
  comp.Compile();
  TStopFlag stop{'R'};
  comp.Run(stop, nullptr);
  EXPECT_EQ(store.AsInteger(), 6);
  EXPECT_EQ(ErrorOf("program T; begin Print(Mine) end."), "Syntax error line 1: Unknown identifier: MINE");
}

// Calls of host routines: argument kinds, by-reference copy-back, open arrays, properties,
// indexed setters, binding of objects, the parent walk, providers and host parameters.
#include <gtest/gtest.h>

#include <map>

#include "ScriptTestUtil.h"

namespace {
// A tiny host class: a list of texts, registered as TStrings members.
struct TTestList : TScriptObject {
  TTestList() : TScriptObject("TStringList") {}
  std::vector<std::string> items;
};

TTestList* Self(TObjHandle self) { return ScriptObjectAs<TTestList>(self, "TStrings"); }

class HostCalls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AddProc("Swap",
            [](TObjHandle, const std::string&, TValue* a, int high) {
              EXPECT_EQ(high, 100);
              std::swap(a[0], a[1]);
              return TValue();
            },
            {pkVar, pkVar});
    AddFun("SumAll",
           [](TObjHandle, const std::string&, TValue* a, int) {
             double s = 0;
             for (const TValue& v : OpenArrayItems(a[0])) s += v.AsReal();
             return TValue(s);
           },
           {pkOpenArray});
    AddFun("JoinWith",
           [](TObjHandle, const std::string&, TValue* a, int) {
             std::vector<std::string> texts;
             int n = 0;
             VarToStringS(a[1], texts, n);
             std::string out;
             for (int i = 0; i < n; ++i) out += (i ? a[0].AsString() : "") + texts[static_cast<size_t>(i)];
             return TValue(out);
           },
           {pkValue, pkOpenArray});
    AddFun("NewList",
           [](TObjHandle, const std::string&, TValue*, int) {
             lists().push_back(std::make_unique<TTestList>());
             return lists().back()->ToVar();
           },
           {pkNone});
    AddProc("FreeList",
            [](TObjHandle, const std::string&, TValue* a, int) {
              TTestList* l = ScriptObjectAs<TTestList>(VarToObj(a[0]), "TStrings");
              for (auto& p : lists())
                if (p.get() == l) p.reset();
              return TValue();
            },
            {pkValue});
    AddProc("TSTRINGS.ADD",
            [](TObjHandle self, const std::string& m, TValue* a, int) {
              EXPECT_EQ(m, "ADD");
              Self(self)->items.push_back(a[0].AsString());
              return TValue();
            },
            {pkValue});
    AddFun("TSTRINGS.COUNT",
           [](TObjHandle self, const std::string&, TValue*, int) {
             return TValue(static_cast<int32_t>(Self(self)->items.size()));
           },
           {pkNone});
    AddArrayProp(
        "TSTRINGS.STRINGS", 1,
        [](TObjHandle self, const std::string&, TValue* a, int) {
          auto& items = Self(self)->items;
          const int i = a[0].AsInteger();
          if (i < 0 || i >= static_cast<int>(items.size())) throw ERunTimeError("List index out of bounds");
          return TValue(items[static_cast<size_t>(i)]);
        },
        [](TObjHandle self, const std::string&, TValue* a, int) {
          auto& items = Self(self)->items;
          const int i = a[0].AsInteger();
          if (i < 0 || i >= static_cast<int>(items.size())) throw ERunTimeError("List index out of bounds");
          items[static_cast<size_t>(i)] = a[1].AsString();
          return TValue();
        });
    AddProp(
        "TSTRINGS.TEXT",
        [](TObjHandle self, const std::string&, TValue*, int) {
          std::string t;
          for (auto& s : Self(self)->items) t += s + ";";
          return TValue(t);
        },
        [](TObjHandle self, const std::string&, TValue* a, int) {
          Self(self)->items = {a[0].AsString()};
          return TValue();
        });
    AddProc2("UserData",
             [](TObjHandle, void* user, TValue* a, int) {
               a[0] = TValue(user ? *static_cast<std::string*>(user) : std::string("none"));
               return TValue();
             },
             {pkVar});
    AddFun("LeftOver", [](TObjHandle, const std::string&, TValue* a, int) { return a[1]; }, {pkValue});
  }
  static std::vector<std::unique_ptr<TTestList>>& lists() {
    static std::vector<std::unique_ptr<TTestList>> l;
    return l;
  }
};
}  // namespace

TEST_F(HostCalls, ByReferenceAndOpenArrays) {
  EXPECT_EQ(Body("a, b: integer;", "a := 1; b := 2; Swap(a, b); Print(a); Print(b)"), "2|1");
  EXPECT_EQ(ErrorOf("program T; begin Swap(1, 2); end."), "Syntax error line 1: Variable name expected");
  EXPECT_EQ(Body("", "Print(SumAll([1, 2, 3.5])); Print(SumAll(1, 2)); Print(SumAll([]))"), "6.5|3|0");
  EXPECT_EQ(Body("", "Print(JoinWith('-', ['a', 1, 2.5]))"), "a-1-2.5");
  // with two parameters the open array needs its brackets
  EXPECT_EQ(ErrorOf("program T; begin Print(JoinWith('-', 'a')); end."), "Syntax error line 1: [ expected but a found");
}

TEST_F(HostCalls, UsageRules) {
  EXPECT_EQ(ErrorOf("program T; begin Print(Swap); end."), "Syntax error line 1: ( expected");
  EXPECT_EQ(ErrorOf("program T; var a, b: integer; begin Print(Swap(a, b)); end."),
            "Syntax error line 1: Invalid procedure usage");
  EXPECT_EQ(Body("", "SumAll([1])"), "");  // a function used as a statement: result dropped
  EXPECT_EQ(ErrorOf("program T; begin Nothing(1); end."), "Syntax error line 1: Unknown identifier: NOTHING");
  EXPECT_EQ(ErrorOf("program T; begin Print(1 2); end."), "Syntax error line 1: ) expected");
  // the argument array is reused: slots past the parameter count hold old values
  EXPECT_EQ(Body("a, b: integer;", "a := 5; b := 6; Swap(a, b); Print(KindOf(LeftOver(0)))"), "Integer");
}

TEST_F(HostCalls, MembersBindThroughTheParentWalk) {
  const char* src =
      "program T;\n"
      "var L: TStringList; i: integer;\n"
      "begin\n"
      "  L := NewList;\n"
      "  L.Add('x'); L.Add('y');\n"
      "  Print(L.Count);\n"
      "  L.Strings[1] := 'z';\n"
      "  Print(L.Strings[0] + L.Strings[1]);\n"
      "  Print(L.Text);\n"
      "  L.Text := 'only';\n"
      "  Print(L.Count); Print(L.Text);\n"
      "end.";
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"2", "xz", "x;z;", "1", "only;"}));
  // a method without parameters takes no brackets
  EXPECT_EQ(ErrorOf("program T; var L: TStringList; begin L := NewList; Print(L.Count()); end."),
            "Syntax error line 1: ) expected");
  // an untyped variable binds nothing
  EXPECT_EQ(ErrorOf("program T; var L: integer; begin L.Add('x'); end."),
            "Syntax error line 1: Unknown identifier: L.ADD");
}

TEST_F(HostCalls, EachCallKeepsItsOwnBinding) {
  // the argument binds B; the call itself must still go to A
  EXPECT_EQ(Body("A, B: TStringList;",
                 "A := NewList; B := NewList; B.Add('b1'); B.Add('b2'); A.Add(B.Count); "
                 "A.Strings[0] := B.Strings[1]; Print(A.Count); Print(B.Count); Print(A.Text)"),
            "1|2|b2;");
}

TEST_F(HostCalls, ParametersRecordTheirClass) {
  const char* src =
      "program T;\n"
      "procedure Fill(L: TStringList; n: integer);\n"
      "var i: integer;\n"
      "begin for i := 1 to n do L.Add(i) end;\n"
      "var M: TStringList;\n"
      "begin M := NewList; Fill(M, 3); Print(M.Count); Print(M.Text) end.";
  EXPECT_EQ(RunProgram(src), (std::vector<std::string>{"3", "1;2;3;"}));
}

TEST_F(HostCalls, ObjectsCheckedAtRunTime) {
  EXPECT_EQ(ErrorOf("program T; var L: TStringList;\nbegin\nL.Add('x');\nend."),
            "Runtime error line 3: Invalid or uninitialized object used");
  EXPECT_EQ(ErrorOf("program T; var L: TStringList;\nbegin L := NewList; FreeList(L);\nPrint(L.Count)\nend."),
            "Runtime error line 3: Invalid or uninitialized object used");
  EXPECT_EQ(ErrorOf("program T; var L: TStringList;\nbegin L := 12345.678;\nL.Add(1)\nend."),
            "Runtime error line 3: Invalid or uninitialized object used");
  EXPECT_EQ(ErrorOf("program T; var L: TStringList;\nbegin L := NewList;\nPrint(L.Strings[5])\nend."),
            "Runtime error line 3: List index out of bounds");
  EXPECT_EQ(Body("L: TStringList;", "L := NewList; Print(L = nil); L := nil; Print(L = nil)"), "False|True");
  EXPECT_EQ(
      Body("L: TStringList;", "L := NewList; if L then Print('set'); L := nil; if L then Print('x') else Print('nil')"),
      "set|nil");
}

TEST_F(HostCalls, NamedAndRunningObjects) {
  TTestList list;
  THalComp comp;
  comp.SetScriptText("program T; begin Out.Add('from script'); Out.Add(Out.Count); Print(Out = nil) end.");
  comp.Compile();
  comp.AddRunningObject("Out", list.Handle());
  TStopFlag stop{'R'};
  PrintLog().clear();
  comp.Run(stop, nullptr);
  EXPECT_EQ(list.items, (std::vector<std::string>{"from script", "1"}));
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"False"}));
  // running objects are for one run only: the compiled program keeps its binding
  comp.Run(stop, nullptr);
  EXPECT_EQ(list.items.size(), 4u);
  // after a change of script the name is unknown again
  comp.SetScriptText("program T; begin Out.Add('x') end.");
  comp.Compile();
  EXPECT_THROW(comp.Run(stop, nullptr), ECompilerError);
}

TEST_F(HostCalls, NamedObjectDeclaredAsVariableKeepsMeaningTheObject) {
  TTestList list;
  THalComp comp;
  comp.SetScriptText("program T; var Out: TStringList; begin Out.Add('kept') end.");
  comp.Compile();
  comp.AddRunningObject("Out", list.Handle());
  TStopFlag stop{'R'};
  comp.Run(stop, nullptr);
  EXPECT_EQ(list.items, (std::vector<std::string>{"kept"}));
}

TEST_F(HostCalls, SecondStyleGetsUserData) {
  THalComp comp;
  comp.SetScriptText("program T; var s: string; begin UserData(s); Print(s) end.");
  comp.Compile();
  std::string data = "run data";
  TStopFlag stop{'R'};
  PrintLog().clear();
  comp.Run(stop, &data);
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"run data"}));
}

TEST_F(HostCalls, RegistrationReplacesAndDeletes) {
  AddFun("Versioned", [](TObjHandle, const std::string&, TValue*, int) { return TValue(int32_t(1)); }, {pkNone});
  AddFun("VERSIONED", [](TObjHandle, const std::string&, TValue*, int) { return TValue(int32_t(2)); }, {pkNone});
  EXPECT_EQ(Body("", "Print(Versioned)"), "2");
  DelProc("versioned");
  EXPECT_EQ(ErrorOf("program T; begin Print(Versioned) end."), "Syntax error line 1: Unknown identifier: VERSIONED");
  const uint8_t kinds[] = {pkNone, pkValue};
  AddFun(
      "NoArgs", [](TObjHandle, const std::string&, TValue*, int) { return TValue(int32_t(9)); }, kinds, 1);
  EXPECT_EQ(Funs().Item(Funs().IndexOf("noargs")).ParamCount, 0);
  DelProc("NoArgs");
}

// Reading-style functions see the argument slots themselves; what they keep must stay theirs,
// an error must leave nothing lent, and a temporary handed over is used up.
TEST_F(HostCalls, ReadersSeeTheirArgumentsWithoutCopies) {
  static TValue kept;
  AddReaderFun("KeepFirst",
               [](const TValue* a) {
                 if (a[0].AsString().empty()) throw ERunTimeError("KeepFirst: empty text");
                 kept = a[0];
                 return TValue(a[0].AsString() + a[1].AsString());
               },
               {pkValue, pkValue});
  AddReaderFun("NotReader", [](const TValue* a) { return a[0]; }, {pkVar});
  EXPECT_NE(Funs().Item(Funs().IndexOf("KeepFirst")).Reader, nullptr);
  EXPECT_EQ(Funs().Item(Funs().IndexOf("NotReader")).Reader, nullptr);  // by reference: an ordinary call

  EXPECT_EQ(Body("s, t: string; i: integer;",
                 "s := 'ab'; t := KeepFirst(KeepFirst(s, 'c'), 1); Print(t); Print(s); "
                 "for i := 1 to 3 do t := KeepFirst(t + 'x', i); Print(t); NotReader(s); Print(s)"),
            "abc1|ab|abc1x1x2x3|ab");
  EXPECT_EQ(kept.AsString(), "abc1x1x2x");  // the copy it took outlives the program
  EXPECT_EQ(ErrorOf("program T;\nvar s: string;\nbegin\n  s := '';\n  Print(KeepFirst(s + s, 'x'));\nend."),
            "Runtime error line 5: KeepFirst: empty text");
  EXPECT_EQ(Body("s: string;", "s := 'q'; Print(KeepFirst(s, s))"), "qq");
  kept = TValue();
  DelProc("KeepFirst");
  DelProc("NotReader");
}

TEST_F(HostCalls, HostParametersAndProviders) {
  SetHalParam("Limit", TValue(int32_t(3)));
  EXPECT_EQ(GetHalParam("LIMIT").AsInteger(), 3);
  EXPECT_EQ(GetHalParam("NeverSet").AsInteger(), 0);
  EXPECT_EQ(Body("", "Print(Limit); Limit := Limit + 1"), "3");
  EXPECT_EQ(GetHalParam("limit").AsInteger(), 4);
  ClearHalParams();
  EXPECT_EQ(ErrorOf("program T; begin Print(Limit) end."), "Syntax error line 1: Unknown identifier: LIMIT");

  std::map<int, TValue> store{{0, TValue(int32_t(10))}, {1, TValue("b")}};
  AddDynaVar(
      "TestVars", [](const std::string& n) { return n == "EXTA"   ? 0
                                                    : n == "EXTB" ? 1
                                                                  : -1; },
      [&store](int id, const TValue& v) { store[id] = v; }, [&store](int id) { return store[id]; });
  EXPECT_EQ(Body("", "Print(ExtA + 1); ExtB := 'set'"), "11");
  EXPECT_EQ(store[1].AsString(), "set");
  deldynavar("TestVars");
}

// The interpreter: error wrapping with the right line, the stop byte, debug traces, the return
// stack limit, comparison rules, and fused against plain execution.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include "ScriptTestUtil.h"

namespace {
std::atomic<TStopFlag*> g_stop{nullptr};
std::promise<void>* g_started = nullptr;

class Runtime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AddProc("Started",
            [](TObjHandle, const std::string&, TValue*, int) {
              if (g_started) g_started->set_value();
              g_started = nullptr;
              return TValue();
            },
            {pkNone});
    AddProc("StopMe",
            [](TObjHandle, const std::string&, TValue*, int) {
              g_stop.load()->store(HAL_STOP);
              return TValue();
            },
            {pkNone});
    AddProc("Fail",
            [](TObjHandle, const std::string&, TValue* a, int) -> TValue { throw ERunTimeError(a[0].AsString()); },
            {pkValue});
    AddProc("Bump",
            [](TObjHandle, const std::string&, TValue* a, int) -> TValue {
              a[0] = TValue(a[0].AsInteger() + a[1].AsInteger());
              return TValue();
            },
            {pkVar, pkValue});
    AddFun("Len",
           [](TObjHandle, const std::string&, TValue* a, int) { return TValue(int32_t(a[0].AsString().size())); },
           {pkValue});
    AddFun("Cat",  // changes its own copy of the first argument, which the caller must not see
           [](TObjHandle, const std::string&, TValue* a, int) -> TValue {
             std::string r = a[0].AsString() + a[1].AsString();
             a[0] = TValue("spoilt");
             return TValue(r);
           },
           {pkValue, pkValue});
    AddProc(
        "FailOther",
        [](TObjHandle, const std::string&, TValue*, int) -> TValue { throw std::out_of_range("not a script error"); },
        {pkNone});
  }
};

// Runs source with fusion on and off and checks both print (and trace) the same.
std::vector<std::string> RunBothWays(const std::string& source, int debugLevel = 0) {
  std::vector<std::string> out[2];
  for (int fused = 0; fused < 2; ++fused) {
    PrintLog().clear();
    THalComp comp;
    comp.SetScriptText(source);
    comp.Compile();
    TStopFlag stop{'R'};
    TStopFlag never{HAL_STOP};
    comp.Run(never, nullptr);  // compiles only: the stop byte ends the run at once
    comp.Runner()->Program()->SetFusion(fused == 1);
    comp.SetDebugLevel(debugLevel);
    try {
      comp.Run(stop, nullptr, [](int, const std::string& t) { PrintLog().push_back("trace " + t); });
    } catch (const EScriptError& e) {
      PrintLog().push_back(std::string("error: ") + e.what());
    }
    out[fused] = PrintLog();
  }
  EXPECT_EQ(out[0], out[1]) << source;
  return out[1];
}
}  // namespace

TEST_F(Runtime, ErrorsCarryTheLineOfTheFailingStatement) {
  EXPECT_EQ(ErrorOf("program T;\nbegin\nPrint(1);\nFail('boom');\nend."), "Runtime error line 4: boom");
  EXPECT_EQ(ErrorOf("program T; var s: string;\nbegin\ns := 'a';\nif s then Print(1);\nend."),
            "Runtime error line 4: Comparison of incompatible or invalid types");
  EXPECT_EQ(ErrorOf("program T;\nbegin\nPrint('a' = 1);\nend."),
            "Runtime error line 3: Comparison of incompatible or invalid types");
  EXPECT_EQ(ErrorOf("program T;\nprocedure P;\nbegin\n  Fail('in P')\nend;\nbegin\nP;\nend."),
            "Runtime error line 4: in P");
  // errors of the value type and of the host's own kinds pass through without a line
  EXPECT_EQ(ErrorOf("program T;\nbegin\nPrint('x' + 1);\nend."),
            "Could not convert variant of type (String) into type (Double)");
  EXPECT_THROW(RunProgram("program T; begin FailOther end."), std::out_of_range);
  EXPECT_EQ(ErrorOf("program T; begin Print(1 div 0) end."), "Division by zero");
}

TEST_F(Runtime, HugeStringsAreAnErrorNotACrash) {
  EXPECT_EQ(ErrorOf("program T; var s: string; i: integer;\nbegin s := 'xxxxxxxxxxxxxxxx';\n"
                    "for i := 1 to 40 do\ns := s + s\nend."),
            "Runtime error line 5: String too long");
}

TEST_F(Runtime, ComparisonKindsAdmitted) {
  EXPECT_EQ(Body("", "Print(1 = 1.0); Print(2.5 > True); Print('a' < 'b')"), "True|True|True");
  EXPECT_EQ(ErrorOf("program T; begin Print(True = 1) end."),
            "Runtime error line 1: Comparison of incompatible or invalid types");
}

TEST_F(Runtime, RecursionDeeperThanTheReturnStackIsAnError) {
  // the bare call P looks ahead to "end" on line 5 before its code is emitted
  EXPECT_EQ(ErrorOf("program T;\nprocedure P;\nbegin\n  P\nend;\nbegin P end."),
            "Runtime error line 5: Stack overflow: script routine calls nested too deeply");
  EXPECT_EQ(ErrorOf("program T;\nprocedure P;\nbegin\n  P;\nend;\nbegin P end."),
            "Runtime error line 4: Stack overflow: script routine calls nested too deeply");
  // 1000 nested calls still fit
  EXPECT_EQ(Body("", "").size(), 0u);
  EXPECT_EQ(RunProgram("program T; var n: integer;\nprocedure P;\nbegin n := n + 1; if n < 1000 then P end;\n"
                       "begin n := 0; P; Print(n) end."),
            (std::vector<std::string>{"1000"}));
}

TEST_F(Runtime, StopByteFromAnotherThread) {
  THalComp comp;
  comp.SetScriptText("program T; var i: integer; begin Started; i := 0; while True do i := i + 1 end.");
  comp.Compile();
  TStopFlag stop{'R'};
  std::promise<void> started;
  g_started = &started;
  std::thread runner([&] { comp.Run(stop, nullptr); });
  started.get_future().wait();
  stop.store(HAL_STOP);
  runner.join();  // returns because the loop reads the byte before every instruction
  SUCCEED();
}

TEST_F(Runtime, StopDuringAHostRoutineEndsAfterItReturns) {
  THalComp comp;
  comp.SetScriptText("program T; begin Print('before'); StopMe; Print('after') end.");
  comp.Compile();
  TStopFlag stop{'R'};
  g_stop = &stop;
  PrintLog().clear();
  comp.Run(stop, nullptr);
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"before"}));
}

TEST_F(Runtime, DebugTraceLevels) {
  const char* src =
      "program T;\n"
      "procedure P;\n"
      "begin\n"
      "  Print(1)\n"
      "end;\n"
      "begin\n"
      "\n"
      "  P;\n"
      "  P\n"
      "end.";
  std::vector<std::string> trace;
  RunProgram(src, 1, &trace);
  EXPECT_EQ(trace, (std::vector<std::string>{"Entry T.P", "Exit T.P", "Entry T.P", "Exit T.P"}));
  trace.clear();
  RunProgram(src, 2, &trace);
  // one marker per line that carries code, placed where the compiler had read to when the line's
  // first instruction was emitted: the routine's label takes the marker of its "begin" (line 3), the
  // bare call on line 9 looked ahead into line 10, the final stop follows the last line feed
  EXPECT_EQ(trace,
            (std::vector<std::string>{"line 1", "line 8", "line 3", "Entry T.P", "line 4", "line 5", "Exit T.P",
                                      "line 10", "line 3", "Entry T.P", "line 4", "line 5", "Exit T.P", "line 11"}));
  trace.clear();
  RunProgram(src, 0, &trace);
  EXPECT_TRUE(trace.empty());
}

TEST_F(Runtime, FusedAndPlainCodeAgree) {
  const std::vector<std::string> programs = {
      "program T; var i, x: integer; r: real; begin x := 0; r := 0.0; for i := 1 to 20 do begin "
      "x := x + i * 2 - (x div 3); r := r + i * 0.5 end; Print(x); Print(r) end.",
      "program T; var i: integer; begin i := 10; repeat i := i - 3; Print(i) until i < 0 end.",
      "program T; var a, b, c: integer; begin a := 5; b := a; c := b + a; a := c - b * 2; Print(a); Print(b); Print(c) "
      "end.",
      "program T; var i, s: integer; begin s := 0; for i := 10 downto 1 do if i mod 3 = 0 then s := s + i; Print(s) "
      "end.",
      "program T; var x: integer; function F(a, b: integer): integer; begin Result := a * b - a end; "
      "begin x := F(3, 4) + F(2, 2); Print(x); Print(F(x, 1) = 0) end.",
      "program T; var s: string; i: integer; begin s := ''; for i := 1 to 5 do s := s + 'ab'; Print(s) end.",
      "program T; var s, t: string; begin s := 'ab'; t := s; s := s + 'c'; s := s + s; t := t + t; Print(s); Print(t) "
      "end.",
      "program T; var x: integer; begin x := 2147483647; x := x + 1; Print(x); Print(KindOf(x)) end.",
      "program T; var b: boolean; i: integer; begin i := 3; b := i > 2; if b then Print('y'); b := not b; Print(b) "
      "end.",
      "program T; var x: integer; begin x := 1; while x < 1000 do x := x * 3; Print(x); x := 'q' + x end.",
      "program T; var i, j: integer; begin j := 0; for i := 1 to 3 do j := j - -i; Print(j); Print(7 / 2) end.",
  };
  for (const std::string& p : programs) RunBothWays(p);
  EXPECT_EQ(RunBothWays(programs[1]), (std::vector<std::string>{"7", "4", "1", "-2"}));
  EXPECT_EQ(RunBothWays(programs[2]), (std::vector<std::string>{"0", "5", "10"}));
}

TEST_F(Runtime, FusedCodeKeepsErrorLines) {
  const char* src =
      "program T; var i, x: integer; s: string;\nbegin\nx := 0;\nfor i := 1 to 3 do\nbegin\n"
      "x := x + i;\nif i = 3 then s := 'a';\nx := x + s\nend\nend.";
  const auto out = RunBothWays(src);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], "error: Could not convert variant of type (String) into type (Double)");
  const auto out2 = RunBothWays("program T; var i: integer;\nbegin\ni := 1;\nwhile i < 'a' do\ni := i + 1\nend.");
  EXPECT_EQ(out2,
            (std::vector<std::string>{"error: Runtime error line 4: Comparison of incompatible or invalid types"}));
}

// Loop steps running their loop test, calls running the routine's entry, exits their return,
// chained operations and host calls with folded argument loads: same output, traces and errors.
TEST_F(Runtime, NewerFusedFormsAgreeWithPlainCode) {
  const std::string loops =
      "program T; var i, j, s: integer;\nprocedure P(k: integer);\nbegin\n  s := s + k\nend;\n"
      "begin\ns := 0;\nfor i := 1 to 3 do\n  for j := 2 downto 1 do\n    P(i * j);\nPrint(s)\nend.";
  const auto traced = RunBothWays(loops, 2);
  EXPECT_NE(std::find(traced.begin(), traced.end(), "18"), traced.end());
  EXPECT_GT(std::count(traced.begin(), traced.end(), "trace Entry T.P"), 5);
  RunBothWays(loops, 1);
  const std::vector<std::string> chains = {
      "program T; var a, b, c, x: integer; r: real;\nfunction F(p, q, w: integer): integer;\nbegin\n"
      "Result := p + q * w\nend;\nbegin\na := 17; b := 5; c := 3;\nx := a - b mod c; Print(x);\n"
      "x := (a div b) * c; Print(x);\nx := a * b - c; Print(x);\nx := c + a * b; Print(x);\nr := 1.5 * a / b; "
      "Print(r); r := 0.5 + a * 0.25; Print(r); r := a / b - 1; Print(r);\nx := x + 2147483647 * 2; "
      "Print(x);\nPrint(F(a, b, c) + F(c, b, a));\nx := a + b div (c - 3);\n"
      "Print(x)\nend.",
      "program T; var s, t: string; i: integer;\nbegin\ns := 'a'; t := 'b';\nfor i := 1 to 3 do s := t + (s + 'x');\n"
      "Print(s);\ns := s + i * 2\nend.",
      "program T; var s, t: string; n: integer;\nbegin\ns := 'ab'; n := 1;\nt := Cat(s, 'c'); Print(t); Print(s);\n"
      "t := Cat(Cat(s, t), Cat(t, s)); Print(t);\nBump(n, 41); Bump(n, Len(t)); Print(n);\n"
      "Print(Cat(Str(n), Str(n + 1)));\nFail(Cat(s, 5))\nend.",
  };
  auto listing = [](const std::string& src) {
    THalComp comp;
    comp.SetScriptText(src);
    comp.Compile();
    TStopFlag never{HAL_STOP};
    comp.Run(never, nullptr);
    return comp.Runner()->Program()->Listing(true);
  };
  const std::string fused = listing(loops) + listing(chains[0]) + listing(chains[2]);
  for (const char* op : {": FIncLoop ", ": FDecLoop ", ": FCall ", ": FExitRet ", ": FCallHost ", ": FModSubR ",
                         ": FIntDivMulL ", ": FMulAddR ", ": FDivSubL "})
    EXPECT_NE(fused.find(op), std::string::npos) << op;
  EXPECT_EQ(RunBothWays(chains[0]), (std::vector<std::string>{"15", "9", "82", "88", "5.1", "4.75", "2.4", "4294967382",
                                                              "120", "error: Division by zero"}));
  EXPECT_EQ(RunBothWays(chains[1]).back(), "error: Could not convert variant of type (String) into type (Double)");
  EXPECT_EQ(RunBothWays(chains[2]),
            (std::vector<std::string>{"abc", "ab", "ababcabcab", "52", "5253", "error: Runtime error line 8: ab5"}));
}

// Loop steps at the end of the integer range, a counter or bound that stops being an integer, and
// line traces: fused and plain code agree.
TEST_F(Runtime, LoopStepsAgreeWithPlainCodeAtTheirLimits) {
  const std::string src =
      "program T; var i: integer; r: real; s: string;\nbegin\n"
      "for i := 2147483645 to 2147483647 do Print(i);\nPrint(i);\n"
      "for i := -2147483646 downto -2147483648 do Print(i);\nPrint(i);\n"
      "for i := 1 to 4 do begin Print(i); if i = 2 then i := i + 0.5 end;\n"
      "r := 3;\nfor i := 1 to r do\nbegin\nPrint(i);\nif i = 2 then r := 'x'\nend\nend.";
  const auto out = RunBothWays(src);
  EXPECT_EQ(out,
            (std::vector<std::string>{"2147483645", "2147483646", "2147483647", "2147483648", "-2147483646",
                                      "-2147483647", "-2147483648", "-2147483649", "1", "2", "3.5", "1", "2",
                                      "error: Runtime error line 13: Comparison of incompatible or invalid types"}));
  const auto traced = RunBothWays(src, 2);
  EXPECT_EQ(std::count(traced.begin(), traced.end(), "trace line 11"), 2);
}

// Compiles and loads reuse the buffers of earlier ones on the same thread: nothing of the earlier
// program (its code, its slots' strings) may show in the next one.
TEST_F(Runtime, ALoadAfterALargerProgramStartsClean) {
  const std::string small =
      "program B; var a, b: integer;\nbegin\nPrint(a); Print(b + 1); a := 7; if a > 5 then Print('big')\nend.";
  auto runSmall = [&] {
    THalComp comp;
    comp.SetScriptText(small);
    comp.Compile();
    TStopFlag stop{'R'};
    PrintLog().clear();
    comp.Run(stop, nullptr);
    return std::make_pair(PrintLog(), comp.Runner()->Program()->Listing(true));
  };
  const auto before = runSmall();
  {
    std::string big = "program A; var s0";
    for (int i = 1; i < 300; ++i) big += ", s" + std::to_string(i);
    big += ": string;\nbegin\n";
    for (int i = 0; i < 300; ++i) big += "s" + std::to_string(i) + " := 'text' + 'more';\n";
    THalComp comp;
    comp.SetScriptText(big + "Print(s299)\nend.");
    comp.Compile();
    TStopFlag stop{'R'};
    comp.Run(stop, nullptr);
  }
  const auto after = runSmall();
  EXPECT_EQ(before.first, (std::vector<std::string>{"0", "1", "big"}));
  EXPECT_EQ(after, before);
}

TEST_F(Runtime, SlotsKeepTheirValuesBetweenRuns) {
  THalComp comp;
  comp.SetScriptText("program T; var n: integer; begin n := n + 1; Print(n) end.");
  comp.Compile();
  TStopFlag stop{'R'};
  PrintLog().clear();
  comp.Run(stop, nullptr);
  comp.Compile();  // unchanged script: the runner and its program stay
  comp.Run(stop, nullptr);
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"1", "2"}));
}

TEST_F(Runtime, RunFromStartsAtARoutineAndEndsAtItsReturn) {
  THalComp comp;
  comp.SetScriptText(
      "program TFORM1; procedure CLICK(Sender: TObject); begin Print('clicked') end; begin Print('main') end.");
  comp.Compile();
  comp.Runner()->SetKeepIdentifiers(true);
  comp.Runner()->SetCompileOnly(true);
  TStopFlag stop{'R'};
  PrintLog().clear();
  comp.Run(stop, nullptr);
  EXPECT_TRUE(PrintLog().empty());
  const TIdentList& ids = comp.Runner()->KeptIdentifiers();
  auto it = ids.find("TFORM1.CLICK");
  ASSERT_NE(it, ids.end());
  TBinProg* prog = comp.Runner()->Program();
  prog->RunFrom(prog->LabelPlace(it->second.Number), stop, nullptr);
  EXPECT_EQ(PrintLog(), (std::vector<std::string>{"clicked"}));
  EXPECT_NE(ids.find("TFORM1.CLICK.SENDER"), ids.end());
}

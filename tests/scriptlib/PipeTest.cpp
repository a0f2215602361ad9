// String pipes between scripts on their own run threads: lines passed back and forth, a lock its
// script still held when it ended (normally, with an error, aborted), an abort while waiting in Lock.
#include "ScriptTestSupport.h"
#include "scriptlib/LibObjects.h"
#include "scriptlib/Threadstringlist.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;
constexpr std::chrono::seconds kPatience{20};

// Locks "held", leaves a line in it and waits, the lock still held, for a line in the pipe "go".
std::string HolderScript(const std::string& ending) {
  return "program holder;\nvar P, G: TStringListPipe; L: TStringList; n: Integer;\nbegin\n"
         "  P := TStringListPipe.Create('held');\n  G := TStringListPipe.Create('go');\n"
         "  L := P.Lock;\n  L.Add('from holder');\n  Output.writeln('locked');\n  n := 0;\n"
         "  while n = 0 do\n  begin\n    L := G.Lock;\n    n := L.Count;\n    G.Unlock;\n    SleepMS(1);\n"
         "  end;\n" +
         ending + "\nend.\n";
}

const char kWaiterScript[] = R"(program waiter;
var P: TStringListPipe; L: TStringList;
begin
  P := TStringListPipe.Create('HELD');
  L := P.Lock;
  Output.writeln(L.Strings[0]);
  P.Unlock;
end.
)";

std::shared_ptr<TThreadStringList> PipeNamed(const std::string& name) { return TMasterPipeList::Instance().Find(name); }

void ExpectEverythingGone() {
  EXPECT_EQ(TMasterPipeList::Instance().Count(), 0);
  EXPECT_EQ(LibObjectCount(), 0);
  EXPECT_EQ(TScriptObjectRegistry::Instance().Running(), 0);
}

TEST(StringPipes, TwoScriptsPassLinesBackAndForth) {
  CScriptRun asker(R"(program asker;
var P, Q: TStringListPipe; L: TStringList; i, sum: Integer; got: Boolean; s: string;
begin
  P := TStringListPipe.Create('ping');
  Q := TStringListPipe.Create('PONG');
  sum := 0;
  for i := 1 to 50 do
  begin
    L := P.Lock;
    L.Add(IntToStr(i));
    P.Unlock;
    got := False;
    while not got do
    begin
      L := Q.Lock;
      if L.Count > 0 then begin s := L.Strings[0]; L.Delete(0); got := True; end;
      Q.Unlock;
      if not got then SleepMS(1);
    end;
    sum := sum + StrToInt(s);
  end;
  L := P.Lock;
  L.Add('end');
  P.Unlock;
  Output.writeln(sum);
  P.Free;
  Q.Free;
end.
)");
  CScriptRun doubler(R"(program doubler;
var P, Q: TStringListPipe; L: TStringList; s: string; done: Boolean; n: Integer;
begin
  P := TStringListPipe.Create('Ping');
  Q := TStringListPipe.Create('pong');
  done := False;
  n := 0;
  while not done do
  begin
    s := '';
    L := P.Lock;
    if L.Count > 0 then begin s := L.Strings[0]; L.Delete(0); end;
    P.Unlock;
    if s = 'end' then done := True
    else if s <> '' then begin L := Q.Lock; L.Add(IntToStr(StrToInt(s) * 2)); Q.Unlock; n := n + 1; end
    else SleepMS(1);
  end;
  Output.writeln(n);
end.
)");
  EXPECT_EQ(OkLines(asker.Finish()), Lines{"2550"});
  EXPECT_EQ(OkLines(doubler.Finish()), Lines{"50"});
  ExpectEverythingGone();
}

TEST(StringPipes, ALockIsReleasedWhenItsScriptEnds) {
  const std::pair<const char*, TScriptOutcome> kEndings[] = {
      {"", TScriptOutcome::Ok},
      {"  L := Nil;\n  L.Add('x');", TScriptOutcome::ScriptError},
  };
  for (const auto& [ending, outcome] : kEndings) {
    CScriptRun holder(HolderScript(ending));
    ASSERT_TRUE(holder.Sink().WaitForLine("locked"));
    CScriptRun waiter(kWaiterScript);
    auto held = PipeNamed("held");
    ASSERT_TRUE(held && held->WaitForWaiters(1, kPatience));
    held.reset();
    auto go = PipeNamed("go");  // the holder ends while the waiter waits for its lock
    ASSERT_TRUE(go && go->LockList(nullptr));
    go->List().list.Add("go");
    go->UnlockList();
    go.reset();
    EXPECT_EQ(holder.Finish().outcome, outcome);
    bool released = waiter.Sink().WaitForLine("ok.", 20000);
    if (!released) waiter.Abort();
    EXPECT_TRUE(released) << "the waiter never got the lock";
    EXPECT_EQ(OkLines(waiter.Finish()), Lines{"from holder"});
  }
  ExpectEverythingGone();
}

TEST(StringPipes, AbortWhileWaitingInLockAndAnAbortedHolder) {
  CScriptRun holder(HolderScript(""));
  ASSERT_TRUE(holder.Sink().WaitForLine("locked"));
  auto held = PipeNamed("held");
  ASSERT_TRUE(held);
  {
    CScriptRun waiter(kWaiterScript);
    ASSERT_TRUE(held->WaitForWaiters(1, kPatience));
    waiter.Abort();
    bool stopped = waiter.Sink().WaitForLine("aborted.", 20000);
    if (!stopped) holder.Abort();  // lets a waiter deaf to its abort go, so that the test ends
    EXPECT_TRUE(stopped) << "the abort did not end the wait in Lock";
    TRunResult r = waiter.Finish();
    EXPECT_EQ(r.outcome, TScriptOutcome::Aborted);
    EXPECT_EQ(r.lines, (Lines{"aborted.", ""}));
  }
  CScriptRun second(kWaiterScript);
  ASSERT_TRUE(held->WaitForWaiters(1, kPatience));
  held.reset();
  holder.Abort();
  EXPECT_EQ(holder.Finish().outcome, TScriptOutcome::Aborted);
  bool released = second.Sink().WaitForLine("ok.", 20000);
  if (!released) second.Abort();
  EXPECT_TRUE(released) << "the aborted holder kept its lock";
  EXPECT_EQ(OkLines(second.Finish()), Lines{"from holder"});
  ExpectEverythingGone();
}

TEST(StringPipes, LocksNestAndOnlyTheHolderUnlocks) {
  TRunResult r = RunScript(R"(program nest;
var P: TStringListPipe; L, K: TStringList;
begin
  P := TStringListPipe.Create('solo');
  L := P.Lock;
  K := P.Lock;
  if L = K then Output.writeln('same list');
  L.Add('one');
  P.Unlock;
  P.Unlock;
  P.Free;
  P := TStringListPipe.Create('SOLO');
  L := P.Lock;
  L.Free;
  Output.writeln(L.Strings[0]);
  P.Unlock;
  P.Unlock;
end.
)");
  EXPECT_EQ(r.lines, (Lines{"same list", "one", "Runtime error line 17: Pipe not locked by this script", ""}));
  ExpectEverythingGone();
}

}  // namespace

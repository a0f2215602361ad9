// The run thread: the closing lines of every outcome, aborts through the run-state byte from another
// thread, Output and Arguments, the debug trace, the log file, Exec, and output through a main thread.
#include "ScriptTestSupport.h"
#include "scriptlib/HeadlessSink.h"
#include "scriptlib/HostClassName.h"

#include "script/Registration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <queue>
#include <thread>

namespace {

using Lines = std::vector<std::string>;

// Host routines only these tests use: a signal that the script got going, and odd exceptions.
struct TEmptyError : std::exception {
  const char* what() const noexcept override { return ""; }
};
std::mutex g_readyLock;
std::promise<void>* g_ready = nullptr;

void SignalReady() {
  std::lock_guard<std::mutex> g(g_readyLock);
  if (g_ready) {
    g_ready->set_value();
    g_ready = nullptr;
  }
}

class CReadyGuard {
 public:
  std::future<void> Arm() {
    std::lock_guard<std::mutex> g(g_readyLock);
    g_ready = &m_promise;
    return m_promise.get_future();
  }
  ~CReadyGuard() {
    std::lock_guard<std::mutex> g(g_readyLock);
    g_ready = nullptr;
  }

 private:
  std::promise<void> m_promise;
};

}  // namespace

void RegisterRunThreadTestNames() {
  RegisterHostClass("TProbe", "TObject");
  AddProc("TestReady",
          [](TObjHandle, const std::string&, TValue*, int) {
            SignalReady();
            return TValue();
          },
          {pkNone});
  AddProc("TestThrowInt", [](TObjHandle, const std::string&, TValue*, int) -> TValue { throw 42; }, {pkNone});
  AddProc("TestThrowEmpty", [](TObjHandle, const std::string&, TValue*, int) -> TValue { throw TEmptyError(); },
          {pkNone});
  AddProc("TestThrowStd",
          [](TObjHandle, const std::string&, TValue*, int) -> TValue { throw std::runtime_error("disk on fire"); },
          {pkNone});
}

namespace {

TEST(RunThreadOutcome, OkAbortedAndErrors) {
  TRunResult r = RunScript("program p;\nbegin\n  Output.writeln('hi');\nend.\n");
  EXPECT_EQ(r.lines, (Lines{"hi", "ok.", ""}));
  EXPECT_EQ(r.outcome, TScriptOutcome::Ok);

  r = RunScript("program p;\nbegin\n  Output.writeln(1);\n  Undefined;\nend.\n");
  EXPECT_EQ(r.outcome, TScriptOutcome::ScriptError);
  ASSERT_EQ(r.lines.size(), 2u);  // nothing ran: the compile failed
  EXPECT_EQ(r.lines[0].rfind("Syntax error line 4: ", 0), 0u) << r.lines[0];
  EXPECT_EQ(r.lines[1], "");

  r = RunScript("program p;\nvar v: TVariant;\nbegin\n  Output.writeln('before');\n  v.Item := 1;\nend.\n");
  EXPECT_EQ(r.outcome, TScriptOutcome::ScriptError);
  EXPECT_EQ(r.lines, (Lines{"before", "Runtime error line 5: Invalid or uninitialized object used", ""}));

  // The value type's own conversion errors are not run-time errors of the engine.
  r = RunScript("program p;\nvar a: Integer;\nbegin\n  a := 'x' * 2;\nend.\n");
  EXPECT_EQ(r.outcome, TScriptOutcome::FatalError);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0].rfind("fatal error: ", 0), 0u) << r.lines[0];
  EXPECT_EQ(r.lines[1], "aborted.");

  r = RunScript("program p;\nbegin\n  Output.writeln('a');\n  TestThrowStd;\nend.\n");
  EXPECT_EQ(r.outcome, TScriptOutcome::FatalError);
  EXPECT_EQ(r.lines, (Lines{"a", "fatal error: disk on fire", "aborted.", ""}));

  r = RunScript("program p;\nbegin\n  TestThrowInt;\nend.\n");
  EXPECT_EQ(r.outcome, TScriptOutcome::FatalError);
  EXPECT_EQ(r.lines, (Lines{"unknown fatal error", "aborted.", ""}));

  r = RunScript("program p;\nbegin\n  TestThrowEmpty;\nend.\n");
  EXPECT_EQ(r.lines, (Lines{"unknown fatal error", "aborted.", ""}));
}

TEST(RunThreadOutcome, HaltEndsNormally) {
  TRunResult r = RunScript("program p;\nbegin\n  Output.writeln(1);\n  Halt;\n  Output.writeln(2);\nend.\n");
  EXPECT_EQ(r.lines, (Lines{"1", "ok.", ""}));
}

TEST(RunThreadOutcome, ScriptFileGoneBeforeTheRun) {
  CRecordingSink sink;
  TScriptHost host;
  host.sink = &sink;
  TInstrScriptThread thread(host, TempPath("missing.pas"), {});
  thread.Execute();
  EXPECT_EQ(sink.Lines(), (Lines{"fatal error: Cannot open script file", "aborted.", ""}));
  EXPECT_EQ(thread.Outcome(), TScriptOutcome::FatalError);
}

TEST(RunThreadAbort, RunStateFromAnotherThreadStopsATightLoop) {
  CTempFile file("loop.pas", "program p;\nvar i: Integer;\nbegin\n  TestReady;\n  while True do i := i + 1;\nend.\n");
  CRecordingSink sink;
  TScriptHost host;
  host.sink = &sink;
  CReadyGuard ready;
  std::future<void> started = ready.Arm();
  TInstrScriptThread thread(host, file.Path(), {});
  thread.Start();
  started.wait();
  thread.Abort();
  thread.Wait();
  EXPECT_EQ(sink.Lines(), (Lines{"aborted.", ""}));
  EXPECT_EQ(thread.Outcome(), TScriptOutcome::Aborted);
  EXPECT_EQ(thread.RunState().load(), 'E');  // the state stays after the run
}

TEST(RunThreadAbort, AbortEndsASleepEarly) {
  CTempFile file("sleep.pas", "program p;\nbegin\n  TestReady;\n  Sleep(3600);\n  Output.writeln('woke');\nend.\n");
  CRecordingSink sink;
  TScriptHost host;
  host.sink = &sink;
  CReadyGuard ready;
  std::future<void> started = ready.Arm();
  TInstrScriptThread thread(host, file.Path(), {});
  thread.Start();
  started.wait();
  thread.Abort();
  thread.Wait();
  EXPECT_EQ(sink.Lines(), (Lines{"aborted.", ""}));
}

TEST(RunThreadAbort, AbortBeforeTheWorkerStartsIsKept) {
  CTempFile file("never.pas", "program p;\nbegin\n  Output.writeln('ran');\nend.\n");
  CRecordingSink sink;
  TScriptHost host;
  host.sink = &sink;
  TInstrScriptThread thread(host, file.Path(), {});
  thread.Abort();
  thread.Start();
  thread.Wait();
  EXPECT_EQ(sink.Lines(), (Lines{"aborted.", ""}));
}

TEST(RunThreadObjects, ArgumentsAndVersion) {
  TRunResult r = RunScript(R"(program args;
var i: Integer;
begin
  Output.writeln(Version);
  Output.writeln(Arguments.Count);
  for i := 0 to Arguments.Count - 1 do Output.writeln('[' + Arguments.String[i] + ']');
  Output.writeln(Arguments.Integer[1] + 1);
  Output.writeln(Arguments.Double[2]);
  Output.writeln(Arguments.Double[3]);
  Output.writeln('[' + Arguments.String[10] + ']');
  Output.writeln(Arguments.Integer[-1]);
end.
)",
                           {"two words", "41", "2.9", "-2.9"});
  EXPECT_EQ(OkLines(r), (Lines{"5.66", "4", "[two words]", "[41]", "[2.9]", "[-2.9]", "42", "2", "-2", "[]", "0"}));
}

TEST(RunThreadObjects, OutputClearAndTextWithLineBreaks) {
  CTempFile file("clear.pas", "program p;\nbegin\n  Output.clear;\n  Output.writeln('a'#13#10'b');\nend.\n");
  CRecordingSink sink;
  TScriptHost host;
  host.sink = &sink;
  TInstrScriptThread thread(host, file.Path(), {});
  thread.Execute();
  EXPECT_EQ(sink.Clears(), 1);
  EXPECT_EQ(sink.Lines(), (Lines{"a\r\nb", "ok.", ""}));  // the host splits lines, not the thread
  EXPECT_GE(sink.LogCloses(), 1);                         // the last script's end closes the log
}

TEST(RunThreadObjects, DebugLevelsTraceIntoTheSameOutput) {
  const char* src = "program dbg;\nprocedure F;\nbegin\n  Output.writeln('in F');\nend;\nbegin\n  F;\nend.\n";
  TRunResult r = RunScript(src, {}, 1);
  EXPECT_EQ(OkLines(r), (Lines{"Entry DBG.F", "in F", "Exit DBG.F"}));
  r = RunScript(
      "program dbg;\nbegin\n  Output.writeln(Output.Debug);\n  Output.Debug := 2;\n"
      "  Output.writeln('x');\n  Output.Debug := 0;\n  Output.writeln('y');\nend.\n");
  EXPECT_EQ(OkLines(r), (Lines{"0", "line 5", "x", "line 6", "y"}));
}

TEST(RunThreadObjects, LogFileGetsTheLinesWrittenWhileOpen) {
  std::string log = TempPath("run.log");
  CTempFile file(
      "log.pas",
      "program p;\nbegin\n  Output.writeln('before');\n  Output.writeln(Output.OpenLogFile('" + log +
          "', 0));\n  Output.writeln('logged');\n  Output.closeLogFile;\n"
          "  Output.writeln('after');\n  Output.writeln(Output.OpenLogFile('/nonexistent/x.log', 1));\nend.\n");
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  CStreamSink sink(out);
  TScriptHost host;
  host.sink = &sink;
  TInstrScriptThread thread(host, file.Path(), {});
  thread.Execute();
  EXPECT_EQ(ReadFile(log), "1\nlogged\n");
  std::rewind(out);
  std::string all(4096, '\0');
  all.resize(std::fread(all.data(), 1, all.size(), out));
  EXPECT_EQ(all, "before\n1\nlogged\nafter\n0\nok.\n\n");
  std::fclose(out);
  std::remove(log.c_str());
}

// The Exec'd child is not waited for, so the test waits for the file's content to appear.
std::string WaitForFileText(const std::string& path, const std::string& expected) {
  std::string text;
  for (int i = 0; i < 500 && text != expected; ++i) {
    text = ReadFile(path);
    if (text != expected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return text;
}

TEST(RunThreadExec, ChildOutputGoesToTheFile) {
  std::string direct = TempPath("direct.txt"), shell = TempPath("shell.txt");
  TRunResult r = RunScript("program p;\nbegin\n  Output.writeln(Exec('echo hello   world', '" + direct +
                           "'));\n"
                           "  Output.writeln(Exec('echo $((6*7)) | tr 4 X', '" +
                           shell + "'));\nend.\n");
  EXPECT_EQ(OkLines(r), (Lines{"1", "1"}));
  EXPECT_EQ(WaitForFileText(direct, "hello world\n"), "hello world\n");
  EXPECT_EQ(WaitForFileText(shell, "X2\n"), "X2\n");
  std::remove(direct.c_str());
  std::remove(shell.c_str());
}

TEST(RunThreadExec, FailuresReturnZero) {
  TRunResult r = RunScript(
      "program p;\nbegin\n  Output.writeln(Exec('echo x', '/nonexistent-dir/out.txt'));\n"
      "  Output.writeln(Exec('no-such-program-morvent', ''));\n"
      "  Output.writeln(Exec('', ''));\nend.\n");
  EXPECT_EQ(OkLines(r), (Lines{"0", "0", "0"}));
}

class CThreadCheckingSink : public CRecordingSink {
 public:
  void AddText(const std::string& text) override {
    if (std::this_thread::get_id() != owner) wrongThread = true;
    CRecordingSink::AddText(text);
  }
  void ScriptFinished() override {
    finished = true;
    CRecordingSink::ScriptFinished();
  }
  std::thread::id owner = std::this_thread::get_id();
  std::atomic<bool> wrongThread{false};
  std::atomic<bool> finished{false};
};

TEST(RunThreadMainThread, OutputIsHandedOverOnTheMainThread) {
  CTempFile file("main.pas", "program p;\nvar i: Integer;\nbegin\n  for i := 1 to 50 do Output.writeln(i);\nend.\n");
  CThreadCheckingSink sink;
  CLoopDispatcher mainThread;  // serves calls from its own loop, as a GUI does
  TScriptHost host;
  host.sink = &sink;
  host.mainThread = &mainThread;
  TInstrScriptThread thread(host, file.Path(), {});
  thread.Start();
  ASSERT_TRUE(mainThread.RunUntil([&] { return sink.finished.load(); }, 60000));
  thread.Wait();
  Lines lines = sink.Lines();
  ASSERT_EQ(lines.size(), 52u);
  for (int i = 1; i <= 50; ++i) EXPECT_EQ(lines[static_cast<size_t>(i - 1)], std::to_string(i));
  EXPECT_FALSE(sink.wrongThread.load());
}

TEST(RunThreadMainThread, ExtraRunObjectsJoinOutputAndArguments) {
  struct TProbe : TScriptObject, IHostClassName {
    TProbe() : TScriptObject("TProbe") {}
    std::string HostClassName() const override { return "TProbe"; }
  };
  CTempFile file("extra.pas",
                 "program p;\nbegin\n  Output.writeln(Probe.ClassName);\n  Output.writeln(Instrument.ClassName);\n"
                 "end.\n");
  CRecordingSink sink;
  TScriptHost host;
  host.sink = &sink;
  host.runObjects.push_back({"Probe", [](TInstrScriptThread&) { return std::make_unique<TProbe>(); }});
  TInstrScriptThread thread(host, file.Path(), {});
  thread.Execute();
  EXPECT_EQ(sink.Lines(), (Lines{"TProbe", "TCmdInstr", "ok.", ""}));
}

TEST(RunThreadMainThread, SeveralScriptsRunAtOnce) {
  CTempFile file("many.pas",
                 "program p;\nvar i, s: Integer;\nbegin\n  for i := 1 to 2000 do s := s + i;\n"
                 "  Output.writeln(s);\nend.\n");
  std::vector<std::unique_ptr<CRecordingSink>> sinks;
  std::vector<std::unique_ptr<TInstrScriptThread>> threads;
  for (int i = 0; i < 4; ++i) {
    sinks.push_back(std::make_unique<CRecordingSink>());
    TScriptHost host;
    host.sink = sinks.back().get();
    threads.push_back(std::make_unique<TInstrScriptThread>(host, file.Path(), std::vector<std::string>{}));
    threads.back()->Start();
  }
  for (auto& t : threads) t->Wait();
  for (auto& s : sinks) EXPECT_EQ(s->Lines(), (Lines{"2001000", "ok.", ""}));
  EXPECT_EQ(TScriptObjectRegistry::Instance().Running(), 0);
}

}  // namespace

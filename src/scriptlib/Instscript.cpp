// TInstrScriptThread: one run from loading the file to the closing lines, and the registry of
// running scripts.
#include "scriptlib/Instscript.h"

#include "scriptlib/Arguments.h"
#include "scriptlib/CmdInstr.h"
#include "scriptlib/InstrScriptOutput.h"
#include "scriptlib/LibObjects.h"

#include "script/HalComp.h"
#include "script/ScriptErrors.h"

#include <cstdio>

namespace {
thread_local TInstrScriptThread* t_current = nullptr;

// Marks the calling thread as running a script for the scope's lifetime.
class CCurrentRun {
 public:
  explicit CCurrentRun(TInstrScriptThread* t) : m_previous(t_current) { t_current = t; }
  ~CCurrentRun() { t_current = m_previous; }

 private:
  TInstrScriptThread* m_previous;
};
}  // namespace

TInstrScriptThread::TInstrScriptThread(TScriptHost host, std::string fileName, std::vector<std::string> arguments)
    : m_host(std::move(host)), m_fileName(std::move(fileName)), m_arguments(std::move(arguments)) {}

TInstrScriptThread::~TInstrScriptThread() {
  if (m_worker.joinable()) {
    m_hostGone.store(true);
    Abort();
    m_worker.join();
  }
}

void TInstrScriptThread::Start() {
  m_worker = std::thread([this] { Execute(); });
}

void TInstrScriptThread::Wait() {
  if (m_worker.joinable()) m_worker.join();
}

TInstrScriptThread* TInstrScriptThread::Current() { return t_current; }

bool TInstrScriptThread::CallMain(const std::function<void()>& f) {
  if (m_host.mainThread) return SyncCall(*m_host.mainThread, f, &m_hostGone);
  f();
  return true;
}

bool TInstrScriptThread::PostMain(std::function<void()> f) {
  if (!m_host.mainThread) {
    f();
    return true;
  }
  if (m_hostGone.load()) return false;
  m_host.mainThread->Post(std::move(f));
  return true;
}

void TInstrScriptThread::OutputLine(const std::string& text) {
  m_queue.Push(text);
  CallMain([this] { m_queue.Drain([this](const std::string& t) { m_host.sink->AddText(t); }); });
}

void TInstrScriptThread::RunOnce(THalComp& comp, TInstrScriptOutput& output, const std::string& fileName,
                                 const std::vector<std::string>& arguments, bool withRunObjects) {
  std::string text;
  if (!HalLoadTextFile(fileName, text)) throw std::runtime_error("Cannot open script file");
  comp.SetScriptText(text);
  comp.Compile();
  TCmdInstr instrument(*this, m_host.instrument);
  TArguments args(arguments);
  std::vector<std::unique_ptr<TScriptObject>> extra;
  for (const TRunObjectSource& src : m_host.runObjects) {
    if (!withRunObjects) break;
    extra.push_back(src.make(*this));
    comp.AddRunningObject(src.name, extra.back()->Handle());
  }
  comp.AddRunningObject("Instrument", instrument.Handle());
  comp.AddRunningObject("Output", output.Handle());
  comp.AddRunningObject("Arguments", args.Handle());
  comp.Run(m_runState, this, [this](int, const std::string& line) { OutputLine(line); });
}

TScriptOutcome TInstrScriptThread::RunReported(THalComp& comp, TInstrScriptOutput& output, const std::string& fileName,
                                               const std::vector<std::string>& arguments, bool withRunObjects) {
  TScriptOutcome outcome = TScriptOutcome::Ok;
  try {
    RunOnce(comp, output, fileName, arguments, withRunObjects);
    outcome = m_runState.load() == HAL_STOP ? TScriptOutcome::Aborted : TScriptOutcome::Ok;
    Finish(outcome, {outcome == TScriptOutcome::Aborted ? "aborted." : "ok."});
  } catch (const ECompilerError& e) {
    Finish(outcome = TScriptOutcome::ScriptError, {e.what()});
  } catch (const ERunTimeError& e) {
    Finish(outcome = TScriptOutcome::ScriptError, {e.what()});
  } catch (const std::exception& e) {
    if (*e.what())
      Finish(outcome = TScriptOutcome::FatalError, {std::string("fatal error: ") + e.what(), "aborted."});
    else
      Finish(outcome = TScriptOutcome::FatalError, {"unknown fatal error", "aborted."});
  } catch (...) {
    Finish(outcome = TScriptOutcome::FatalError, {"unknown fatal error", "aborted."});
  }
  OutputLine("");
  return outcome;
}

void TInstrScriptThread::Finish(TScriptOutcome outcome, std::initializer_list<std::string> lines) {
  (void)outcome;
  for (const std::string& l : lines) OutputLine(l);
}

// The run state starts as "R" at construction, so that an abort requested before the worker got
// going is not overwritten.
void TInstrScriptThread::Execute() {
  TScriptObjectRegistry::Instance().Enter();
  {
    CCurrentRun current(this);
    THalComp comp;
    TInstrScriptOutput output(*this, comp);
    m_output = &output;
    if (m_debugLevel != 0) output.SetDebug(m_debugLevel);
    m_outcome = RunReported(comp, output, m_fileName, m_arguments, true);
    m_output = nullptr;
  }
  TScriptObjectRegistry::Instance().Release(*this);
  CallMain([this] { m_host.sink->ScriptFinished(); });
}

void TInstrScriptThread::RunNested(const std::string& commandLine) {
  size_t pos = 0;
  std::string token;
  if (!m_output || !ReadCommandToken(commandLine, pos, token)) return;
  const std::string fileName = ScriptFileName(token);
  if (!CanOpenScriptFile(fileName)) {
    OutputLine("Cannot open script " + fileName);
    return;
  }
  THalComp comp;
  // The caller's run state: an abort in here stops the caller too.
  RunReported(comp, *m_output, fileName, SplitCommandLine(std::string_view(commandLine).substr(pos)), false);
}

std::string ScriptFileName(std::string_view name) {
  std::string s(name);
  bool pas = s.size() >= 4 && (s[s.size() - 4] == '.') && (s[s.size() - 3] | 0x20) == 'p' &&
             (s[s.size() - 2] | 0x20) == 'a' && (s[s.size() - 1] | 0x20) == 's';
  return pas ? s : s + ".pas";
}

// Opening and reading one byte: a folder opens but does not read.
bool CanOpenScriptFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) return false;
  std::fgetc(f.get());
  return !std::ferror(f.get());
}

TScriptObjectRegistry& TScriptObjectRegistry::Instance() {
  static TScriptObjectRegistry registry;
  return registry;
}

void TScriptObjectRegistry::Enter() {
  std::lock_guard<std::mutex> g(m_lock);
  ++m_running;
}

int TScriptObjectRegistry::Running() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_running;
}

void TScriptObjectRegistry::AddCleanup(std::function<void()> cleanup) {
  std::lock_guard<std::mutex> g(m_lock);
  m_cleanups.push_back(std::move(cleanup));
}

void TScriptObjectRegistry::AddRunEnd(std::function<void()> atRunEnd) {
  std::lock_guard<std::mutex> g(m_lock);
  m_runEnds.push_back(std::move(atRunEnd));
}

// The run's own end work comes first, outside the lock. The lock is then held through the whole
// clean-up, so that a script starting meanwhile waits for it.
void TScriptObjectRegistry::Release(TInstrScriptThread& thread) {
  std::vector<std::function<void()>> runEnds;
  {
    std::lock_guard<std::mutex> g(m_lock);
    runEnds = m_runEnds;
  }
  for (const auto& atRunEnd : runEnds) atRunEnd();
  std::lock_guard<std::mutex> g(m_lock);
  if (--m_running > 0) return;
  thread.CallMain([&thread] { thread.Sink().CloseLogFile(); });
  for (const auto& c : m_cleanups) c();
  FreeAllLibObjects();
}

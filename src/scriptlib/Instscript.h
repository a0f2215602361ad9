// Instscript: the GUI-free core of the script host: TInstrScriptThread (loads, compiles and runs one
// script, reports how it ended), the registry of running scripts, and the host-level script names.
#pragma once

#include "scriptlib/OutputQueue.h"
#include "scriptlib/ScriptSink.h"

#include "StandardApp/Mainthread.h"
#include "script/BinProg.h"
#include "script/ScriptObjects.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class IInstrumentHost;
class TInstrScriptThread;
class TInstrScriptOutput;
class THalComp;

// A named object handed to every run besides "Instrument", "Output" and "Arguments", made afresh
// for each run.
struct TRunObjectSource {
  std::string name;
  std::function<std::unique_ptr<TScriptObject>(TInstrScriptThread&)> make;
};

struct TScriptHost {
  IScriptSink* sink = nullptr;            // required; outlives every run
  CMainDispatcher* mainThread = nullptr;  // none: calls run on the script thread
  IInstrumentHost* instrument = nullptr;  // none: "Instrument" has no connection to offer
  std::vector<TRunObjectSource> runObjects;
};

enum class TScriptOutcome { NotRun, Ok, Aborted, ScriptError, FatalError };

class TInstrScriptThread {
 public:
  TInstrScriptThread(TScriptHost host, std::string fileName, std::vector<std::string> arguments);
  // Requests an abort and waits for the worker; main-thread calls the run makes meanwhile are skipped.
  ~TInstrScriptThread();
  TInstrScriptThread(const TInstrScriptThread&) = delete;
  TInstrScriptThread& operator=(const TInstrScriptThread&) = delete;

  void SetDebugLevel(int level) { m_debugLevel = level; }  // before the run
  void Start();                                            // runs Execute on a worker thread
  void Wait();                                             // waits for the worker
  void Execute();                                          // the run itself, on the calling thread
  void Abort() { m_runState.store(HAL_STOP); }
  TStopFlag& RunState() { return m_runState; }
  TScriptOutcome Outcome() const { return m_outcome; }

  // Runs another script on this thread with this run's output and run state (StartScript without a
  // new window); an abort in it stops the caller too.
  void RunNested(const std::string& commandLine);
  // Queues one text and has the main thread hand everything queued to the sink.
  void OutputLine(const std::string& text);
  // Runs f on the host's main thread and waits for it; false (f not run) once the host stopped
  // waiting for this run, so that a host that waits for the run's end never deadlocks.
  bool CallMain(const std::function<void()>& f);
  // Queues f for the host's main thread without waiting (in order with CallMain); false (f dropped)
  // once the host stopped waiting for this run. Without a main thread f runs at once.
  bool PostMain(std::function<void()> f);
  IScriptSink& Sink() { return *m_host.sink; }
  IInstrumentHost* Instrument() const { return m_host.instrument; }
  // The run thread the calling thread is running, or none.
  static TInstrScriptThread* Current();

 private:
  // Loads, compiles and runs one script file with its own "Instrument" and "Arguments".
  void RunOnce(THalComp& comp, TInstrScriptOutput& output, const std::string& fileName,
               const std::vector<std::string>& arguments, bool withRunObjects);
  // Runs RunOnce and turns how it ended into the closing lines; the outcome.
  TScriptOutcome RunReported(THalComp& comp, TInstrScriptOutput& output, const std::string& fileName,
                             const std::vector<std::string>& arguments, bool withRunObjects);
  void Finish(TScriptOutcome outcome, std::initializer_list<std::string> lines);

  TScriptHost m_host;
  std::string m_fileName;
  std::vector<std::string> m_arguments;
  TStopFlag m_runState{'R'};
  TInstrScriptOutput* m_output = nullptr;  // this run's "Output", also a nested run's
  std::atomic<bool> m_hostGone{false};
  int m_debugLevel = 0;
  TScriptOutcome m_outcome = TScriptOutcome::NotRun;
  TOutputQueue m_queue;
  std::thread m_worker;
};

// The script name rule: a name whose last four characters are not ".pas" (any case) gets ".pas".
std::string ScriptFileName(std::string_view name);
// Whether the file can be opened for reading.
bool CanOpenScriptFile(const std::string& path);

// Running scripts: the count, and the clean-up when the last one ends (log file, leftover objects).
class TScriptObjectRegistry {
 public:
  static TScriptObjectRegistry& Instance();
  void Enter();
  // When the count drops to 0: closes the sink's log and frees what scripts left behind.
  void Release(TInstrScriptThread& thread);
  int Running();
  // More clean-up for the last script's end (later libraries' objects).
  void AddCleanup(std::function<void()> cleanup);
  // Work for the end of every run, called on the ending run's thread before the count drops (locks
  // its script still holds).
  void AddRunEnd(std::function<void()> atRunEnd);

 private:
  std::mutex m_lock;
  int m_running = 0;
  std::vector<std::function<void()>> m_cleanups;
  std::vector<std::function<void()>> m_runEnds;
};

// Everything the script host adds to the engine, once per process and in this order: Version, Sleep,
// SleepMS, Exec, LoadWindowLayout, the instrument names (TCmdInstr, TModule, TCu, TInstrScriptOutput),
// StartScript, the TArguments names, then the byte buffer, regular expressions, files, time
// functions and string pipes, plot windows, signals and signal data.
void RegisterInstrumentLibraries();

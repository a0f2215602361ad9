// Test support: a sink that records every output line, temporary script files, and one call that
// runs a script text on a run thread and returns its lines.
#pragma once

#include "scriptlib/Instscript.h"
#include "support/TempDir.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CRecordingSink : public IScriptSink {
 public:
  void AddText(const std::string& text) override;
  void ClearOutput() override;
  bool OpenLogFile(const std::string& name, bool append) override;
  void CloseLogFile() override;
  void ScriptFinished() override;

  std::vector<std::string> Lines();
  int Clears();
  int LogCloses();
  // Waits until a line equal to `line` has been output (false after the time-out).
  bool WaitForLine(const std::string& line, int timeoutMs = 10000);

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<std::string> m_lines;
  int m_clears = 0;
  int m_logCloses = 0;
  bool m_finished = false;
};

// A file in the test's temporary folder holding text; removed by the destructor.
class CTempFile {
 public:
  CTempFile(const std::string& name, const std::string& text);
  ~CTempFile();
  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// A fresh path for name in this test program's temporary folder (removed, with what is left in it, at
// the end of the program).
std::string TempPath(const std::string& name);
using support::ReadFile;

struct TRunResult {
  std::vector<std::string> lines;
  TScriptOutcome outcome = TScriptOutcome::NotRun;
};

// Runs the script text on a run thread (started and waited for) with the given arguments.
TRunResult RunScript(const std::string& source, const std::vector<std::string>& args = {}, int debugLevel = 0);
// The lines without the closing "ok." and empty line (asserting they are there).
std::vector<std::string> OkLines(const TRunResult& r);

// A script running on its own run thread while the test goes on (several can run at once); the
// destructor aborts it if it still runs and waits for its end.
class CScriptRun {
 public:
  explicit CScriptRun(const std::string& source, const std::vector<std::string>& args = {});
  CRecordingSink& Sink() { return m_sink; }
  void Abort() { m_thread->Abort(); }
  // Waits for the end and returns the lines and the outcome.
  TRunResult Finish();

 private:
  CTempFile m_file;
  CRecordingSink m_sink;
  std::unique_ptr<TInstrScriptThread> m_thread;
};

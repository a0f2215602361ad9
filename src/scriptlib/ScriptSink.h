// Where a script run's output goes (a script window, standard output, a test recorder). Calls on the
// host's main thread go through the engine's dispatcher (StandardApp/Mainthread.h).
#pragma once

#include <functional>
#include <string>

class IScriptSink {
 public:
  virtual ~IScriptSink() = default;
  // One output text; it may hold line breaks (the host splits it into lines).
  virtual void AddText(const std::string& text) = 0;
  virtual void ClearOutput() = 0;
  // The application log file: true when it is (or already was) open.
  virtual bool OpenLogFile(const std::string& name, bool append) = 0;
  virtual void CloseLogFile() = 0;
  // Called as the run's last act.
  virtual void ScriptFinished() {}
};

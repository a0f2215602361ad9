// The interfaces through which a script run reaches its host: where output goes (a script window,
// standard output, a test recorder) and how a call is made on the host's main thread.
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

// Runs a function on the host's main thread and returns when it has run. A GUI host must keep
// serving these calls while it waits for a script thread to end (or skip them once it asked the
// thread to stop), so that the script thread never deadlocks.
class IMainThreadCall {
 public:
  virtual ~IMainThreadCall() = default;
  virtual void Call(const std::function<void()>& f) = 0;
};

// Headless hosts: the call runs at once on the calling thread.
class CDirectMainThreadCall : public IMainThreadCall {
 public:
  void Call(const std::function<void()>& f) override { f(); }
};

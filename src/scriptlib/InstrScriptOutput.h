// TInstrScriptOutput: the run's "Output" object: writeln and clear reach the host's output, the log
// file functions the host's log, and Debug the component's debug level.
#pragma once

#include "scriptlib/HostClassName.h"

#include "script/ScriptObjects.h"

#include <string>

class TInstrScriptThread;
class THalComp;

class TInstrScriptOutput : public TScriptObject, public IHostClassName {
 public:
  std::string HostClassName() const override { return "TInstrScriptOutput"; }
  TInstrScriptOutput(TInstrScriptThread& thread, THalComp& comp);
  void writeln(const std::string& text);
  void clear();
  bool OpenLogFile(const std::string& name, bool append);
  void closeLogFile();
  int Debug() const { return m_debugLevel; }
  void SetDebug(int level);
  TInstrScriptThread& Thread() { return m_thread; }

 private:
  TInstrScriptThread& m_thread;
  THalComp& m_comp;
  int m_debugLevel = 0;
};

// The engine names of TInstrScriptOutput (writeln, clear, OpenLogFile, closeLogFile, Debug).
void RegisterTInstrScriptOutput();

// CCliScriptHost: what the instrument bindings ask of the command-line client: its connection (made
// with the global options), scripts started "in a new window" on threads of their own, and a note on
// standard error, once per kind, for what needs a window.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "morvent-cli/CliSession.h"
#include "scriptlib/HeadlessSink.h"
#include "scriptlib/InstrumentHost.h"
#include "scriptlib/Instscript.h"

class CCliScriptHost : public IInstrumentHost {
 public:
  CCliScriptHost(CCliSession& session, CStreamSink& out);
  ~CCliScriptHost() override;

  CZematInstr* Connection() override;
  void LinkAndAddress(int& link, std::string& address) override;
  void Connect(int link, const std::string& address, std::function<void(CZematInstr*)> done) override;
  void Disconnect() override;
  void OpenCuWindow(std::shared_ptr<CCuDesc> cu) override;
  void LoadWindowLayout(int n) override;
  void StartScript(const std::string& commandLine, int closeWhenFinished) override;

  // Makes the session the scripts' connection (after the client connected it before the run).
  void Publish();
  // Starts the first script; debugLevel as given to run.
  TInstrScriptThread& Start(const std::string& file, const std::vector<std::string>& args, int debugLevel);
  // Serves the main loop until every script has ended; an interrupt aborts them all, a lost
  // connection is reported once and let go of.
  void Serve(const std::atomic<bool>& interrupted);
  // Lets go of the connection (scripts first).
  void Close();

 private:
  class CRun;  // one script thread with its own end notice
  void Note(std::atomic<bool>& said, const char* text);
  bool AllEnded();

  CCliSession& m_session;
  CStreamSink& m_out;
  std::vector<std::unique_ptr<CRun>> m_runs;
  std::atomic<bool> m_saidWindows{false}, m_saidLayouts{false}, m_saidClear{false};
};

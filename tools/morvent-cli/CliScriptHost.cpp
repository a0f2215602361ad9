// CCliScriptHost: every script of a run on its own thread, all reaching the client's main loop for
// their host calls; the run ends when the last of them has.
#include "morvent-cli/CliScriptHost.h"

#include <cstdio>

#include "scriptlib/Arguments.h"
#include "scriptlib/ScriptConnection.h"

// A script's output goes to the shared stream; its end is noted for the main loop.
class CCliScriptHost::CRun : public IScriptSink {
 public:
  CRun(CCliScriptHost& host, const std::string& file, const std::vector<std::string>& args, int debugLevel)
      : m_host(host) {
    TScriptHost h;
    h.sink = this;
    h.mainThread = &host.m_session.Loop();
    h.instrument = &host;
    thread = std::make_unique<TInstrScriptThread>(h, file, args);
    thread->SetDebugLevel(debugLevel);
  }
  void AddText(const std::string& text) override { m_host.m_out.AddText(text); }
  void ClearOutput() override { m_host.Note(m_host.m_saidClear, "the output of a run cannot be cleared"); }
  bool OpenLogFile(const std::string& name, bool append) override { return m_host.m_out.OpenLogFile(name, append); }
  void CloseLogFile() override { m_host.m_out.CloseLogFile(); }
  void ScriptFinished() override { ended = true; }

  std::unique_ptr<TInstrScriptThread> thread;
  bool ended = false;  // main loop only

 private:
  CCliScriptHost& m_host;
};

CCliScriptHost::CCliScriptHost(CCliSession& session, CStreamSink& out) : m_session(session), m_out(out) {}

CCliScriptHost::~CCliScriptHost() { Close(); }

void CCliScriptHost::Note(std::atomic<bool>& said, const char* text) {
  if (!said.exchange(true)) std::fprintf(stderr, "morvent-cli: %s (no windows here)\n", text);
}

CZematInstr* CCliScriptHost::Connection() { return m_session.Connected() ? &m_session.Instr() : nullptr; }

void CCliScriptHost::LinkAndAddress(int& link, std::string& address) {
  const std::string d = m_session.Description();
  link = d.rfind("COM", 0) == 0 ? std::atoi(d.c_str() + 3) : 0;
  address = link ? std::string() : d;
}

void CCliScriptHost::Publish() {
  CScriptConnection::Instance().Set(m_session.Connected() ? &m_session.Instr() : nullptr, m_session.Description());
}

// Headless, the main loop has no window to keep alive: connecting on it is fine.
void CCliScriptHost::Connect(int link, const std::string& address, std::function<void(CZematInstr*)> done) {
  if (!m_session.Connected() && m_session.Connect(link, address)) Publish();
  done(Connection());
}

void CCliScriptHost::Disconnect() {
  CScriptConnection::Instance().Withdraw();
  m_session.Disconnect();
}

void CCliScriptHost::OpenCuWindow(std::shared_ptr<CCuDesc>) { Note(m_saidWindows, "CU windows are not opened"); }

void CCliScriptHost::LoadWindowLayout(int) { Note(m_saidLayouts, "window layouts are not loaded"); }

void CCliScriptHost::StartScript(const std::string& commandLine, int) {
  size_t pos = 0;
  std::string token;
  if (!ReadCommandToken(commandLine, pos, token)) return;
  const std::string file = ScriptFileName(token);
  if (!CanOpenScriptFile(file)) {
    m_out.AddText("Cannot open script file");
    return;
  }
  m_runs.push_back(std::make_unique<CRun>(*this, file, SplitCommandLine(std::string_view(commandLine).substr(pos)), 0));
  m_runs.back()->thread->Start();
}

TInstrScriptThread& CCliScriptHost::Start(const std::string& file, const std::vector<std::string>& args,
                                          int debugLevel) {
  m_runs.push_back(std::make_unique<CRun>(*this, file, args, debugLevel));
  m_runs.back()->thread->Start();
  return *m_runs.back()->thread;
}

bool CCliScriptHost::AllEnded() {
  for (const auto& run : m_runs)
    if (!run->ended) return false;
  return true;
}

void CCliScriptHost::Serve(const std::atomic<bool>& interrupted) {
  bool aborted = false, lostSaid = false;
  while (!AllEnded()) {
    m_session.Loop().RunUntil([&] { return AllEnded() || interrupted.load() || m_session.Instr().Lost(); }, 50);
    if (interrupted.load() && !aborted) {
      aborted = true;
      for (const auto& run : m_runs) run->thread->Abort();
    }
    if (m_session.Connected() && m_session.Instr().Lost()) {
      if (!lostSaid) std::fprintf(stderr, "Connection to instrument lost\n");
      lostSaid = true;
      Disconnect();  // the scripts see it through the bindings: "cmd error!", IsConnected = 0
    }
  }
  for (const auto& run : m_runs) run->thread->Wait();
}

void CCliScriptHost::Close() {
  for (const auto& run : m_runs) run->thread->Wait();
  CScriptConnection::Instance().Withdraw();
  m_session.Disconnect();
}

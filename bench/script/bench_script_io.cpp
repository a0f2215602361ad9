// bench_script_io: instruction round trips on the simulator from a script (TCu.IO) next to the same
// number of Write+Read round trips from C++ on a bare channel, in the same run and on the same CU: what
// the bindings, the interpreter and the run thread add to an instruction.
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "StandardApp/Cu.h"
#include "StandardApp/Mainthread.h"
#include "StandardApp/Zematcore.h"
#include "script/Halinit.h"
#include "scriptlib/InstrumentHost.h"
#include "scriptlib/Instscript.h"
#include "scriptlib/ScriptConnection.h"
#include "scriptlib/ScriptLibrary.h"
#include "scriptlib/ScriptSink.h"
#include "support/Simulator.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kConfig = R"({"modules": [{"type": "B-1", "serial": "1", "cus": [
  {"name": "IN", "owner": "B", "in_count": 4, "replies": {"PING": "PONG"}}]}]})";

void Require(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// Output of the benchmark's script: kept, so that its result can be checked.
class CLines : public IScriptSink {
 public:
  void AddText(const std::string& text) override { lines.push_back(text); }
  void ClearOutput() override {}
  bool OpenLogFile(const std::string&, bool) override { return false; }
  void CloseLogFile() override {}
  void ScriptFinished() override { finished = true; }
  std::vector<std::string> lines;
  bool finished = false;  // main loop only
};

// The bench's own program plays the host: the session it connected, nothing else.
class CHost : public IInstrumentHost {
 public:
  explicit CHost(CZematInstr& session) : m_session(session) {}
  CZematInstr* Connection() override { return &m_session; }
  void LinkAndAddress(int& link, std::string& address) override {
    link = 0;
    address = "127.0.0.1";
  }
  void Connect(int, const std::string&, std::function<void(CZematInstr*)> done) override { done(&m_session); }
  void Disconnect() override {}
  void OpenCuWindow(std::shared_ptr<CCuDesc>) override {}
  void LoadWindowLayout(int) override {}
  void StartScript(const std::string&, int) override {}

 private:
  CZematInstr& m_session;
};

double ScriptRound(CZematInstr& session, CLoopDispatcher& loop, const std::string& file, int trips) {
  CLines sink;
  CHost host(session);
  TScriptHost h;
  h.sink = &sink;
  h.mainThread = &loop;
  h.instrument = &host;
  TInstrScriptThread run(h, file, {std::to_string(trips)});
  const auto start = Clock::now();
  run.Start();
  loop.RunUntil([&] { return sink.finished; }, 600000);
  run.Wait();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  Require(run.Outcome() == TScriptOutcome::Ok, "the script failed: " + (sink.lines.empty() ? "" : sink.lines[0]));
  Require(sink.lines.size() >= 1 && sink.lines[0] == std::to_string(trips), "the script lost replies");
  return seconds;
}

double BareRound(CZematInstr& session, int trips) {
  CCuIO channel(session.GetModule(0)->GetCuDesc(0));
  Require(channel.Open() == 1, "the bare channel did not open");
  std::vector<uint8_t> reply(Z_READ_BUFFER);
  const auto start = Clock::now();
  for (int i = 0; i < trips; ++i) {
    Require(channel.Write("PING", 4) == Z_OK, "write failed");
    int length = Z_READ_BUFFER;
    Require(channel.Read(reply.data(), &length, 10000) == Z_OK, "no reply");
    Require(std::string(reinterpret_cast<char*>(reply.data()) + Z_HEADER_LEN, length - 1 - Z_HEADER_LEN) == "PONG",
            "wrong reply");
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  channel.Close();
  return seconds;
}

}  // namespace

int main() {
  try {
    THalinit engine;
    RegisterGeneralLibrary();
    RegisterInstrumentLibraries();
    support::Simulator sim(kConfig);
    CLoopDispatcher loop;
    CZematInstr session;
    session.SetDispatcher(&loop);
    session.SetLanPorts(sim.TelnetPort(), sim.DataPort());
    Require(session.Connect(0, "127.0.0.1"), "cannot connect to the simulator");
    CScriptConnection::Instance().Set(&session, "127.0.0.1");
    support::TempDir dir("bench-script-io");
    const std::string file = dir.Write("trips.pas", R"(program trips;
var m: TModule; c: TCu; i, n, ok: Integer;
begin
  m := TModule.Create; m.Desc := Instrument.GetModule(1);
  c := TCu.Create; c.Desc := m.GetCu(1); c.Open;
  n := Arguments.Integer(0);
  for i := 1 to n do if c.IO('PING') = 'PONG' then ok := ok + 1;
  c.Close;
  Output.writeln(IntToStr(ok));
end.)");
    const int trips = 10000;
    double script = 1e9, bare = 1e9;
    for (int round = 0; round < 3; ++round) {  // alternating, best of three each
      script = std::min(script, ScriptRound(session, loop, file, trips));
      bare = std::min(bare, BareRound(session, trips));
    }
    std::printf("%d instruction round trips on one CU of the simulator (best of 3 alternating rounds)\n", trips);
    std::printf("%-24s script %8.1f us/trip | baseline C++ Write+Read %8.1f us/trip | ratio %.2f (target <= 1.25)\n",
                "TCu.IO", script * 1e6 / trips, bare * 1e6 / trips, script / bare);
    CScriptConnection::Instance().Withdraw();
    session.Disconnect();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_script_io: %s\n", e.what());
    return 1;
  }
}

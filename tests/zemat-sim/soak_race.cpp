// soak_race: a randomised race between channel users and a restless instrument. Several threads open
// CUs (directly and as slaves behind "CS"), exchange instructions, listen and close, while the
// simulator removes and adds modules, holds opens back, refuses them, injects faults, drops the link
// and is restarted. Run it under the sanitizers: any report, a wrong reply or a thread that stops
// making progress fails it. Usage: soak_race SECONDS [THREADS] [SEED]
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "StandardApp/Cu.h"
#include "StandardApp/Zematcore.h"
#include "support/Simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class CSoakInstr : public CZematInstr {
 public:
  void OnConnectionLost() override { lost.store(true); }
  void OnModuleRemoved(CModule*) override { ++removed; }
  void OnModuleAdded(CModule*) override { ++added; }
  std::atomic<bool> lost{false};
  long removed = 0, added = 0;  // main thread only
};

struct TCounters {
  std::atomic<long> opens{0}, opened{0}, slaveOpens{0}, replies{0}, frames{0}, closes{0}, errors{0};
};

// Where the current simulator listens; the chaos thread restarts it now and then.
struct TSimPorts {
  std::mutex lock;
  int telnet = 0, data = 0;
};

class CSoak {
 public:
  CSoak(unsigned seconds, int threads, unsigned seed) : m_seconds(seconds), m_threads(threads), m_seed(seed) {}

  int Run() {
    m_sim = std::make_unique<support::Simulator>();
    PublishPorts();
    m_instr.SetDispatcher(&m_loop);
    m_instr.SetTimeout(3000);
    CZematTimings timings;
    timings.channelWaitMs = 3000;  // a held or lost open answer ends soon
    m_instr.SetTimings(timings);
    if (!Reconnect()) return Fail("no first connection");
    std::vector<std::thread> workers;
    m_progress = std::vector<std::atomic<long>>(static_cast<size_t>(m_threads));
    for (int i = 0; i < m_threads; ++i) workers.emplace_back([this, i] { Worker(i); });
    std::thread chaos([this] { Chaos(); });
    MainLoop();
    m_stop.store(true);
    m_pauseCv.notify_all();
    for (auto& w : workers) w.join();
    chaos.join();
    m_instr.Disconnect();
    m_loop.ProcessPending();
    std::printf(
        "soak_race: %u s, %d threads, seed %u: %ld opens (%ld open, %ld slave), %ld replies, %ld frames, "
        "%ld closes, %ld refreshes removed %ld/added %ld modules, %ld reconnects, %ld chaos steps, %ld errors\n",
        m_seconds, m_threads, m_seed, m_count.opens.load(), m_count.opened.load(), m_count.slaveOpens.load(),
        m_count.replies.load(), m_count.frames.load(), m_count.closes.load(), m_refreshes, m_instr.removed,
        m_instr.added, m_reconnects, m_chaosSteps.load(), m_count.errors.load());
    return m_count.errors.load() == 0 && !m_failed ? 0 : 1;
  }

 private:
  int Fail(const char* why) {
    std::fprintf(stderr, "soak_race: %s\n", why);
    m_failed = true;
    return 1;
  }

  void PublishPorts() {
    std::lock_guard<std::mutex> g(m_ports.lock);
    m_ports.telnet = m_sim->TelnetPort();
    m_ports.data = m_sim->DataPort();
  }

  // Main thread: connects to wherever the simulator listens now, serving the loop between attempts.
  bool Reconnect() {
    auto end = Clock::now() + 30s;
    while (Clock::now() < end) {
      {
        std::lock_guard<std::mutex> g(m_ports.lock);
        m_instr.SetLanPorts(m_ports.telnet, m_ports.data);
      }
      m_instr.lost.store(false);
      if (m_instr.Connect(0, "127.0.0.1")) return true;
      m_loop.RunUntil([] { return false; }, 100);
    }
    return false;
  }

  // Channels belong to their users; before the session is reset they let go of them.
  void PauseWorkers() {
    std::unique_lock<std::mutex> g(m_pauseLock);
    m_paused = true;
    while (m_idle < m_threads) {
      g.unlock();
      m_loop.RunUntil([] { return false; }, 20);
      g.lock();
    }
  }
  void ResumeWorkers() {
    std::lock_guard<std::mutex> g(m_pauseLock);
    m_paused = false;
    m_pauseCv.notify_all();
  }

  void MainLoop() {
    auto end = Clock::now() + std::chrono::seconds(m_seconds);
    auto lastCheck = Clock::now();
    std::vector<long> seen(static_cast<size_t>(m_threads), -1);
    while (Clock::now() < end && !m_failed) {
      m_loop.RunUntil([this] { return m_instr.lost.load(); }, 200);
      if (m_instr.lost.load()) {
        PauseWorkers();
        m_instr.Disconnect();
        m_loop.ProcessPending();
        if (!Reconnect()) {
          Fail("could not reconnect within 30 s");
          break;
        }
        ++m_reconnects;
        ResumeWorkers();
      }
      m_refreshes = m_instr.removed + m_instr.added;
      if (Clock::now() - lastCheck > 60s) {  // every worker must have moved on meanwhile
        for (int i = 0; i < m_threads; ++i) {
          long now = m_progress[static_cast<size_t>(i)].load();
          if (now == seen[static_cast<size_t>(i)]) {
            std::fprintf(stderr, "soak_race: worker %d made no progress for 60 s\n", i);
            std::abort();
          }
          seen[static_cast<size_t>(i)] = now;
        }
        lastCheck = Clock::now();
      }
    }
  }

  void WaitWhilePaused() {
    std::unique_lock<std::mutex> g(m_pauseLock);
    if (!m_paused) return;
    ++m_idle;
    m_pauseCv.wait(g, [this] { return !m_paused || m_stop.load(); });
    --m_idle;
  }

  void Worker(int index) {
    std::mt19937 rng(m_seed * 7919u + static_cast<unsigned>(index));
    auto pick = [&rng](int n) { return n > 0 ? static_cast<int>(rng() % static_cast<unsigned>(n)) : 0; };
    while (!m_stop.load()) {
      WaitWhilePaused();
      ++m_progress[static_cast<size_t>(index)];
      int count = m_instr.GetModuleCount();
      std::shared_ptr<CModule> module = m_instr.GetModule(pick(count));
      std::shared_ptr<CCuDesc> desc = module ? module->GetCuDesc(pick(module->GetCuDescCount())) : nullptr;
      if (!desc) {
        std::this_thread::sleep_for(10ms);
        continue;
      }
      bool viaCs = module->IsSecondList() && pick(4) != 0;
      std::unique_ptr<CCuIoBase> channel;
      ++m_count.opens;
      int ok = 0;
      if (viaCs) {
        ++m_count.slaveOpens;
        channel = std::make_unique<CCuIoSlave>(desc);
        ok = channel->Open();
      } else {
        auto direct = std::make_unique<CBaseCuIO>();
        ok = direct->OpenOn(desc);
        channel = std::move(direct);
      }
      if (ok == 1) {
        ++m_count.opened;
        Use(*channel, *desc, *module, viaCs, pick(6));
        if (pick(10) != 0 && channel->Close() == 1) ++m_count.closes;
      }
      channel.reset();
      if (pick(5) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(pick(50)));
    }
  }

  // A few instructions on an instruction CU, or a few frames listened to on any other.
  void Use(CCuIoBase& channel, const CCuDesc& desc, const CModule& module, bool viaCs, int rounds) {
    uint8_t buffer[Z_READ_BUFFER];
    const bool instructions = std::string(desc.GetCuName()) == "IN" && !viaCs;
    for (int r = 0; r < rounds && !m_stop.load(); ++r) {
      if (instructions && channel.Write("*IDN?", 5) != Z_OK) return;
      int length = sizeof buffer;
      if (channel.Read(buffer, &length, instructions ? 1000 : 200) != Z_OK) continue;
      if (!instructions) {
        ++m_count.frames;
        continue;
      }
      std::string reply(reinterpret_cast<char*>(buffer) + Z_HEADER_LEN, static_cast<size_t>(length - 1 - Z_HEADER_LEN));
      std::string expected = std::string(module.GetModuleType()) == "MAIN-1" ? "MAIN-1,000123" : "OK *IDN?";
      if (reply == expected) {
        ++m_count.replies;
      } else {
        ++m_count.errors;
        std::fprintf(stderr, "soak_race: %s IN answered \"%s\"\n", module.GetModuleType(), reply.c_str());
      }
    }
  }

  void Chaos() {
    std::mt19937 rng(m_seed);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* const kModules[] = {"PUMP-2", "DET-3", "VALVE-S1", "TEMP-S2", "MAIN-1"};
    auto restartAt = Clock::now() + std::chrono::seconds(45 + pick(45));
    int added = 0;
    while (!m_stop.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20 + pick(200)));
      ++m_chaosSteps;
      if (Clock::now() >= restartAt) {  // a fresh instrument: its modules all come back
        m_sim = std::make_unique<support::Simulator>();
        PublishPorts();
        restartAt = Clock::now() + std::chrono::seconds(45 + pick(45));
        continue;
      }
      switch (pick(14)) {
        case 0:
        case 1:
        case 2:
          m_sim->Command(std::string("remove-module ") + kModules[pick(pick(8) == 0 ? 5 : 4)]);
          break;
        case 3:
        case 4:
          if (added < 40) {
            ++added;
            m_sim->Command("add-module X" + std::to_string(added) + " " + std::to_string(added) + " " +
                           std::to_string(1 + pick(2)));
          }
          break;
        case 5:
          m_sim->Command("config-event " + std::string(pick(2) ? "5" : "7"));
          break;
        case 6:
          m_sim->Command("delay-open " + std::to_string(pick(3) * 150));
          break;
        case 7:
          m_sim->Command(pick(3) == 0 ? "refuse-open on" : "refuse-open off");
          break;
        case 8:
          m_sim->Command("fault split");
          break;
        case 9:
          m_sim->Command("fault silence " + std::to_string(50 + pick(300)));
          break;
        case 10:
          if (pick(6) == 0) m_sim->Command(pick(2) ? "fault garbage 16" : "fault drop");
          break;
        case 11:
          m_sim->Command("emit MAIN-1 MO " + std::to_string(1 + pick(50)));
          break;
        default:
          m_sim->Command("status");
          break;
      }
    }
  }

  unsigned m_seconds;
  int m_threads;
  unsigned m_seed;
  CLoopDispatcher m_loop;
  CSoakInstr m_instr;
  std::unique_ptr<support::Simulator> m_sim;  // replaced by the chaos thread only
  TSimPorts m_ports;
  TCounters m_count;
  std::vector<std::atomic<long>> m_progress;
  std::atomic<bool> m_stop{false};
  std::atomic<long> m_chaosSteps{0};
  bool m_failed = false;
  long m_reconnects = 0, m_refreshes = 0;
  std::mutex m_pauseLock;
  std::condition_variable m_pauseCv;
  bool m_paused = false;
  int m_idle = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: soak_race SECONDS [THREADS] [SEED]\n");
    return 2;
  }
  unsigned seconds = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
  int threads = argc > 2 ? std::atoi(argv[2]) : 4;
  unsigned seed = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10))
                           : static_cast<unsigned>(Clock::now().time_since_epoch().count());
  return CSoak(seconds, threads < 1 ? 1 : threads, seed).Run();
}

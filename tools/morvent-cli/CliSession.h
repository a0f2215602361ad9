// CliSession.h: the client's connection: the session subclass whose hooks feed the client, the
// main loop that serves the engine's dispatcher, and the lookup of modules and CUs by index or name.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "StandardApp/Mainthread.h"
#include "StandardApp/Zematcore.h"
#include "morvent-cli/CliOptions.h"

// The session with the client's hooks. They run on the main thread (the loop below).
class TCliInstr : public CZematInstr {
 public:
  void OnConnectionLost() override;
  void OnConfigChanged() override;
  void OnModuleRemoved(CModule* module) override;
  void OnModuleAdded(CModule* module) override;

  // watch prints the notifications; the other commands only note them.
  void SetPrintNotifications(bool on) { m_printNotifications = on; }
  // A module whose removal ends the command (the one holding its CU).
  void WatchModule(std::shared_ptr<const CModule> module) { m_watched = std::move(module); }
  bool Lost() const { return m_lost.load(); }
  void ClearLost() { m_lost.store(false); }
  // Also true when the module left before it was watched: the record says so itself.
  bool WatchedModuleRemoved() const { return m_watched && m_watched->IsRemoved() && IsConnected(); }

 private:
  void PrintLine(const std::string& line);

  bool m_printNotifications = false;
  std::shared_ptr<const CModule> m_watched;
  std::atomic<bool> m_lost{false};
};

// Set by SIGINT/SIGTERM: listen and watch end as if their time had run out.
extern std::atomic<bool> g_cliInterrupted;
void InstallInterruptHandlers();

class CCliSession {
 public:
  explicit CCliSession(const CCliOptions& options);
  ~CCliSession();
  CCliSession(const CCliSession&) = delete;
  CCliSession& operator=(const CCliSession&) = delete;

  // Connects as the options say; prints "Connection to instrument failed" and returns false on failure.
  bool Connect();
  // Connects to another link (0 LAN at address, 1..4 COMn) with the other options as given.
  bool Connect(int comPort, const std::string& address);
  void Disconnect();
  bool Connected() const { return m_connected; }
  // "COMn" or the LAN address of the current connection.
  std::string Description() const;
  TCliInstr& Instr() { return m_instr; }
  CLoopDispatcher& Loop() { return m_loop; }

  // Runs a blocking engine call on a helper thread while this (main) thread serves the dispatcher,
  // so that hooks and refreshes the call may be waiting for can run. When the connection is reported
  // lost meanwhile, onLost runs once: it releases the call's wait (a reply that can no longer come).
  template <class Fn>
  auto Await(Fn fn, const std::function<void()>& onLost = {}) -> decltype(fn());

  // Serves the dispatcher for up to ms milliseconds (less when interrupted or the link is lost).
  void ServeFor(unsigned ms);

  void PrintTree(std::FILE* out);
  // Module by 1-based index or type, CU by 1-based index or name (case-insensitive); null if none.
  std::shared_ptr<CModule> ResolveModule(const std::string& text) const;
  static std::shared_ptr<CCuDesc> ResolveCu(const CModule* module, const std::string& text);

 private:
  CCliOptions m_options;
  CLoopDispatcher m_loop;
  TCliInstr m_instr;
  bool m_connected = false;
};

template <class Fn>
auto CCliSession::Await(Fn fn, const std::function<void()>& onLost) -> decltype(fn()) {
  std::atomic<bool> done{false};
  decltype(fn()) result{};
  std::thread helper([&] {
    result = fn();
    done.store(true);
    m_loop.Post([] {});  // wakes the loop at once
  });
  bool released = false;
  m_loop.RunUntil(
      [&] {
        if (!released && onLost && m_instr.Lost()) {
          released = true;
          onLost();
        }
        return done.load();
      },
      0xFFFFFFFFu);
  helper.join();
  return result;
}

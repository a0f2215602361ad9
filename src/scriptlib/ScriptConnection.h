// CScriptConnection: the connection the instrument bindings may use, shared by every script thread.
// The host sets it and withdraws it before it disconnects; every binding call that reaches the
// connection (or a CU channel on it) holds a use, so that no script thread ever touches a connection
// the host has let go of, and a disconnect never waits longer than one wait slice of a script.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CZematInstr;

// A script object that holds a CU channel on the connection (TCu).
class IScriptChannelHolder {
 public:
  virtual ~IScriptChannelHolder() = default;
  // Ends a wait on the channel at once (an open answer); called while the host withdraws.
  virtual void WakeChannel() = 0;
  // Destroys the channel; called while its connection still stands and no call uses it.
  virtual void DropChannel() = 0;
};

class CScriptConnection {
 public:
  static CScriptConnection& Instance();

  // ---- the host, on its main thread ----
  // Scripts may use connection from now on (null: none); description is what GetConnection reports
  // ("COM1", or the LAN address).
  void Set(CZematInstr* connection, const std::string& description);
  // Before the host disconnects or destroys the current connection: new uses fail at once, uses
  // under way end within their wait slice (they watch Withdrawing) and are waited for, channels that
  // scripts opened on it are destroyed. Afterwards there is no connection.
  void Withdraw();

  // ---- script threads ----
  struct TCurrent {
    CZematInstr* connection = nullptr;
    uint64_t generation = 0;  // one per connection the host set; never reused
    std::string description;
  };
  TCurrent Current() const;

  // A use of the connection of one generation: false when that connection is not the current one.
  class TUse {
   public:
    TUse() = default;
    TUse(TUse&& other) noexcept;
    TUse& operator=(TUse&&) = delete;
    ~TUse();
    explicit operator bool() const { return m_connection != nullptr; }
    CZematInstr* operator->() const { return m_connection; }
    CZematInstr& operator*() const { return *m_connection; }
    uint64_t Generation() const { return m_generation; }

   private:
    friend class CScriptConnection;
    TUse(CScriptConnection* owner, CZematInstr* connection, uint64_t generation)
        : m_owner(owner), m_connection(connection), m_generation(generation) {}
    CScriptConnection* m_owner = nullptr;
    CZematInstr* m_connection = nullptr;
    uint64_t m_generation = 0;
  };
  TUse Use(uint64_t generation);
  TUse UseCurrent();
  bool Withdrawing() const;

  void AddHolder(IScriptChannelHolder* holder);
  // Forgets holder; a channel it still holds is destroyed first (its connection still stands then).
  void RemoveHolder(IScriptChannelHolder* holder);

  // How long TCu.IO waits for its reply: 10 s; tests shorten it.
  unsigned ReplyWaitMs() const;
  void SetReplyWaitMs(unsigned ms);

 private:
  void Leave();

  mutable std::mutex m_lock;
  std::condition_variable m_idle;
  CZematInstr* m_connection = nullptr;
  uint64_t m_generation = 1;
  std::string m_description;
  bool m_withdrawing = false;
  int m_uses = 0;
  std::vector<IScriptChannelHolder*> m_holders;
  unsigned m_replyWaitMs = 10000;
};

// CScriptConnection: uses counted under one lock; the host's withdraw wakes, waits and cleans up.
#include "scriptlib/ScriptConnection.h"

#include <algorithm>

CScriptConnection& CScriptConnection::Instance() {
  static CScriptConnection connection;
  return connection;
}

void CScriptConnection::Set(CZematInstr* connection, const std::string& description) {
  std::lock_guard<std::mutex> g(m_lock);
  if (connection != m_connection) ++m_generation;
  m_connection = connection;
  m_description = connection ? description : std::string();
}

void CScriptConnection::Withdraw() {
  std::unique_lock<std::mutex> g(m_lock);
  if (!m_connection) return;
  m_withdrawing = true;
  for (IScriptChannelHolder* holder : m_holders) holder->WakeChannel();
  m_idle.wait(g, [this] { return m_uses == 0; });
  for (IScriptChannelHolder* holder : m_holders) holder->DropChannel();
  m_connection = nullptr;
  m_description.clear();
  ++m_generation;
  m_withdrawing = false;
}

CScriptConnection::TCurrent CScriptConnection::Current() const {
  std::lock_guard<std::mutex> g(m_lock);
  return {m_withdrawing ? nullptr : m_connection, m_generation, m_withdrawing ? std::string() : m_description};
}

CScriptConnection::TUse CScriptConnection::Use(uint64_t generation) {
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_connection || m_withdrawing || generation != m_generation) return {};
  ++m_uses;
  return TUse(this, m_connection, m_generation);
}

CScriptConnection::TUse CScriptConnection::UseCurrent() {
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_connection || m_withdrawing) return {};
  ++m_uses;
  return TUse(this, m_connection, m_generation);
}

bool CScriptConnection::Withdrawing() const {
  std::lock_guard<std::mutex> g(m_lock);
  return m_withdrawing;
}

void CScriptConnection::Leave() {
  std::lock_guard<std::mutex> g(m_lock);
  if (--m_uses == 0) m_idle.notify_all();
}

CScriptConnection::TUse::TUse(TUse&& other) noexcept
    : m_owner(other.m_owner), m_connection(other.m_connection), m_generation(other.m_generation) {
  other.m_owner = nullptr;
  other.m_connection = nullptr;
}

CScriptConnection::TUse::~TUse() {
  if (m_owner && m_connection) m_owner->Leave();
}

void CScriptConnection::AddHolder(IScriptChannelHolder* holder) {
  std::lock_guard<std::mutex> g(m_lock);
  m_holders.push_back(holder);
}

void CScriptConnection::RemoveHolder(IScriptChannelHolder* holder) {
  std::lock_guard<std::mutex> g(m_lock);
  holder->DropChannel();
  m_holders.erase(std::remove(m_holders.begin(), m_holders.end(), holder), m_holders.end());
}

unsigned CScriptConnection::ReplyWaitMs() const {
  std::lock_guard<std::mutex> g(m_lock);
  return m_replyWaitMs;
}

void CScriptConnection::SetReplyWaitMs(unsigned ms) {
  std::lock_guard<std::mutex> g(m_lock);
  m_replyWaitMs = ms;
}

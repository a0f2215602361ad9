// Canslavecuthread.h: TCsCuThread owns the channel of the "CS" CU and re-addresses the frames
// arriving on it to the slave channels registered by socket.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "StandardApp/Zthread.h"

class CModule;
class CZematInstr;
class CCuIO;
class CCuIoBase;

class TCsCuThread : public CZThread {
 public:
  explicit TCsCuThread(CZematInstr* session);
  ~TCsCuThread() override;

  // Finds the first CU named "CS" (any case), opens it and starts the loop; true when running.
  bool Start();
  CCuIO* GetCsChannel() const { return m_cs.get(); }
  void Register(CCuIoBase* slave);
  void Unregister(CCuIoBase* slave);
  bool IsRegistered(const CCuIoBase* slave) const;
  std::vector<CCuIoBase*> SlavesOf(const CModule* module) const;
  std::vector<CCuIoBase*> Slaves() const;

 protected:
  void Execute() override;
  void Wake() override;

 private:
  void Route(const uint8_t* frame, int length);

  CZematInstr* m_session;
  std::unique_ptr<CCuIO> m_cs;
  mutable std::mutex m_lock;
  std::vector<CCuIoBase*> m_slaves;
  std::mutex m_startLock;
};

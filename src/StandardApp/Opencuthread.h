// Opencuthread.h: COpenCuThread reads the open CU and completes open and close requests of
// channels, matching replies by descriptor key (opens) or socket (closes).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "StandardApp/Zthread.h"

class CModule;
class CZematInstr;
class CCuIoBase;

class COpenCuThread : public CZThread {
 public:
  explicit COpenCuThread(CZematInstr* session);
  ~COpenCuThread() override;

  // Each writes its request on the open CU after adding the channel to the pending list; they
  // return the write result (Z_OK ... Z_ERROR) and remove the channel again when it failed.
  int RequestOpen(CCuIoBase* channel);
  int RequestClose(CCuIoBase* channel);
  int RequestOpenSlave(CCuIoBase* channel);
  int RequestCloseSlave(CCuIoBase* channel);
  // Drops a channel that is being destroyed.
  void Forget(CCuIoBase* channel);
  // The pending channels that serve one of the module's CUs.
  std::vector<CCuIoBase*> PendingOf(const CModule* module) const;
  size_t PendingCount() const;
  // Handles one frame of the open CU (the loop's body; public so that it can be driven directly).
  void HandleReply(const uint8_t* frame, int length);

 protected:
  void Execute() override;

 private:
  struct Pending {
    CCuIoBase* channel;
    uint8_t type;  // request type: 9, 10, 20 or 21
    long socket;   // socket being closed (close requests)
  };
  int Request(CCuIoBase* channel, uint8_t type, const uint8_t* payload, int length);
  CCuIoBase* TakeByKey(uint8_t type, const uint8_t* payload, int length);
  CCuIoBase* TakeBySocket(uint8_t type, long socket);
  void CompleteOpen(const uint8_t* p, int n);
  void CompleteClose(const uint8_t* p, int n);
  void CompleteSlaveOpen(const uint8_t* p, int n);
  void CompleteSlaveClose(const uint8_t* p, int n);
  void CompleteRefusal(const uint8_t* p, int n);

  CZematInstr* m_session;
  mutable std::mutex m_lock;
  std::vector<Pending> m_pending;
};

// Opencuthread.h: COpenCuThread reads the open CU and completes open and close requests of
// channels, matching replies by descriptor key (opens) or socket (closes).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "StandardApp/Zthread.h"

class CCuDesc;
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
  void Wake() override;

 private:
  struct Pending {
    CCuIoBase* channel;
    uint8_t type;                   // request type: 9, 10, 20 or 21
    long socket;                    // socket being closed (close requests)
    std::shared_ptr<CCuDesc> desc;  // what the request was made for (its key matches the reply)
  };
  // Adds the channel to the pending list and writes the request; refuses (Z_ERROR) a descriptor
  // whose module left, also when it leaves while the request is being entered.
  int Request(CCuIoBase* channel, std::shared_ptr<CCuDesc> desc, uint8_t type, const uint8_t* payload, int length);
  // An open request for the channel's descriptor (type 9 with the buffer parameters, 20 without).
  int RequestOpenOf(CCuIoBase* channel, uint8_t type, int extra);
  // The pending open whose descriptor key matches; its descriptor comes along.
  CCuIoBase* TakeByKey(uint8_t type, const uint8_t* payload, int length, std::shared_ptr<CCuDesc>* desc = nullptr);
  CCuIoBase* TakeBySocket(uint8_t type, long socket);
  void CompleteOpen(const uint8_t* p, int n);
  void CompleteClose(const uint8_t* p, int n);
  void CompleteSlaveOpen(const uint8_t* p, int n);
  void CompleteSlaveClose(const uint8_t* p, int n);
  void CompleteRefusal(const uint8_t* p, int n);

  CZematInstr* m_session;
  mutable std::mutex m_lock;
  std::vector<Pending> m_pending;
  // The channel whose reply is being completed: taken off the list, not yet given its result. Its
  // owner's Forget waits for it, so that a channel is never freed under a result being delivered.
  CCuIoBase* m_inHand = nullptr;
  std::condition_variable m_handDone;
};

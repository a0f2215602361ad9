// Cu.h: the CU channel family: CCuIoBase, CCuIO (credit flow control, opened through the open CU),
// CCuCtrlIO (control CUs), CBaseCuIO, CFirmwareCuIO and CCuIoSlave (behind the "CS" CU).
// Reads and writes return Z_OK, Z_TIMEOUT (also when not connected), Z_ABANDONED or Z_ERROR;
// Open and Close return 1 for success and 0 for failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "StandardApp/Module.h"
#include "StandardApp/Tlqueue.h"
#include "StandardApp/Zematdefs.h"

class CZematInstr;

class CCuIoBase {
 public:
  explicit CCuIoBase(std::shared_ptr<CCuDesc> desc = nullptr);
  // Frees frames still queued and unhooks the channel from the session's lists. A channel must be
  // destroyed before its session.
  virtual ~CCuIoBase();
  CCuIoBase(const CCuIoBase&) = delete;
  CCuIoBase& operator=(const CCuIoBase&) = delete;

  virtual void SetSocket(long socket);
  // Takes ownership of a received frame (new uint8_t[]) and queues it.
  virtual void Deliver(uint8_t* item, int length);
  // Takes ownership of count received frames and queues them in order with one hand-over (the reader's
  // batches). A class that overrides Deliver overrides this too.
  virtual void DeliverMany(uint8_t* const* items, size_t count);
  virtual int Open() = 0;
  virtual int Close() = 0;
  virtual int Write(const void* payload, int length) = 0;
  // Copies one frame, header first, into buffer (size *length on input, frame length + 1 on output)
  // and puts a 0 behind it.
  virtual int Read(void* buffer, int* length, unsigned timeoutMs) = 0;
  virtual void AddCredit(int count) { (void)count; }

  // Queues an open/close result (1 success, 0 failure); used by the open-CU thread.
  void DeliverResult(int ok);
  // Ends the read under way, or else the next one, at once with Z_TIMEOUT: a reading thread that is
  // being stopped need not wait out its read.
  void WakeReader();
  // Its owner is about to let go of the channel: waits for open and close answers and for send
  // credits end within one link check from now on, now and later (the mark stays).
  void Abandon() { m_abandoned.store(true); }

  // The channel keeps its descriptor (and so its module) alive for as long as it holds it.
  void SetDesc(std::shared_ptr<CCuDesc> desc);
  std::shared_ptr<CCuDesc> GetDesc() const;
  // Cuts the channel loose from a descriptor whose module left the instrument: not open, and a
  // waiting open or close gets the result 0. The descriptor stays readable and says it was removed.
  void Orphan();
  long GetSocket() const { return m_socket.load(); }
  bool IsOpen() const { return m_open.load() != 0; }
  // Marks the channel closed (socket 65533); used when a close completes.
  void ResetSocket();
  void SetGranted(int outCount, int outSize, int inCount, int inSize);
  int GetGrantedOutCount() const { return m_outCount; }
  int GetGrantedOutSize() const { return m_outSize; }
  int GetGrantedInCount() const { return m_inCount; }
  int GetGrantedInSize() const { return m_inSize; }
  size_t QueuedItems() const { return m_inQueue.Count(); }

 protected:
  bool SessionConnected() const;
  // Frees queued frames and drops stale results (before a new open).
  void DrainQueue();
  // Waits for an open/close result, freeing data frames met on the way; -1 on time-out.
  // closing: give up once the instrument has closed the link (no close reply can come then).
  int WaitResult(unsigned timeoutMs, bool closing = false);
  // Waits for a data frame (results met on the way are dropped) and copies it out.
  int ReadFrame(void* buffer, int* length, unsigned timeoutMs);
  unsigned ChannelWait() const;

  std::atomic<int> m_open{0};
  std::atomic<bool> m_abandoned{false};
  std::atomic<long> m_socket{Z_NO_SOCKET};
  // The descriptor the channel works on, or null; removed descriptors refuse opens and closes.
  std::shared_ptr<CCuDesc> UsableDesc() const;
  // Takes the channel off the session's lists (once). Every channel class calls it first thing in its
  // destructor: the session's threads make virtual calls on listed channels, and no such call may meet
  // a destructor that has already begun to turn the object into its base.
  void Unlink();

  mutable std::mutex m_descLock;  // guards m_desc: owners may re-target a channel others still look at
  std::shared_ptr<CCuDesc> m_desc;
  CZematInstr* m_session = nullptr;
  bool m_unlinked = false;  // owner's thread only
  TLQueue m_inQueue;
  int m_outCount = 0, m_outSize = 0, m_inCount = 0, m_inSize = 0;
};

class CCuIO : public CCuIoBase {
 public:
  explicit CCuIO(std::shared_ptr<CCuDesc> desc = nullptr) : CCuIoBase(std::move(desc)) {}
  // Unregisters before the credit queue goes: a channel whose close failed is still listed, and the
  // reader may be handing it a credit grant right now.
  ~CCuIO() override;
  void SetSocket(long socket) override;
  int Open() override;
  int Close() override;
  // Refuses (Z_ERROR) a null payload, a length <= 0 or one above 4496 (what fits one frame), and
  // reports a failed send as Z_ERROR.
  int Write(const void* payload, int length) override;
  // Write with its own bound on the credit wait (the goodbye at disconnect). endsWithInput: a credit
  // is not waited for once the instrument has closed the link (a close or goodbye it could not read).
  int WriteWithin(const void* payload, int length, unsigned creditWaitMs, bool endsWithInput = false);
  int Read(void* buffer, int* length, unsigned timeoutMs) override;
  void AddCredit(int count) override;

  int GetSendCredits() const;
  int GetReadCreditsOutstanding() const { return m_readCredits.load(); }
  size_t PendingGrants() const { return m_creditQueue.Count(); }

 protected:
  void ResetCredits(int sendCredits);

 private:
  int TakeSendCredit(unsigned waitMs, bool endsWithInput);
  void GrantReadCredits();

  int m_sendCredits = 0;
  std::atomic<int> m_readCredits{0};
  TLQueue m_creditQueue;
  mutable std::mutex m_lock;  // guards m_sendCredits
};

class CCuCtrlIO : public CCuIO {
 public:
  explicit CCuCtrlIO(std::shared_ptr<CCuDesc> desc = nullptr) : CCuIO(std::move(desc)) {}
  ~CCuCtrlIO() override { Unlink(); }
  // Control channels always start with one send credit.
  void SetSocket(long socket) override;
};

class CBaseCuIO : public CCuIO {
 public:
  explicit CBaseCuIO(std::shared_ptr<CCuDesc> desc = nullptr) : CCuIO(std::move(desc)) {}
  ~CBaseCuIO() override { Unlink(); }
  int OpenOn(std::shared_ptr<CCuDesc> desc);
};

class CFirmwareCuIO : public CBaseCuIO {
 public:
  explicit CFirmwareCuIO(std::shared_ptr<CCuDesc> desc = nullptr) : CBaseCuIO(std::move(desc)) {}
  ~CFirmwareCuIO() override { Unlink(); }
};

class CCuIoSlave : public CCuIoBase {
 public:
  explicit CCuIoSlave(std::shared_ptr<CCuDesc> desc = nullptr) : CCuIoBase(std::move(desc)) {}
  ~CCuIoSlave() override { Unlink(); }
  int Open() override;
  // Returns 1 when the close request was written (the reply completes it in the background).
  int Close() override;
  // Refuses (Z_ERROR) payloads above 4494 bytes: with the socket prefix they must fit one "CS" frame.
  int Write(const void* payload, int length) override;
  int Read(void* buffer, int* length, unsigned timeoutMs) override;
};

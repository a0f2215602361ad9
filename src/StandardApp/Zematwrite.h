// Zematwrite.h: TZematWrite, the writer side of the transport: serves framed and raw write
// requests one at a time and sends the keep-alive when the link has been idle. A framed write
// finding the writer idle goes out on the caller's thread, saving two thread hand-overs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "StandardApp/Zthread.h"

class CZematInstr;

class TZematWrite : public CZThread {
 public:
  explicit TZematWrite(CZematInstr* session);
  ~TZematWrite() override;

  // Queues a framed message and waits (up to the session's writer wait) until it was written.
  // Returns the bytes sent or -1 (send failure, time-out, or the writer ended).
  int SendFramed(const void* payload, int length, long socket);
  // Queues raw bytes (the red card) and waits; no send lock.
  int SendRaw(const void* bytes, int count);
  // Two raw writes that must follow each other on the wire (the red card): framed requests from
  // other threads (credit grants) wait on the send lock instead of slipping in between.
  int SendRawPair(const void* first, int firstCount, const void* second, int secondCount);
  size_t QueuedRequests() const;

 protected:
  void Execute() override;
  void Wake() override;

 private:
  struct Request;
  int Submit(const std::shared_ptr<Request>& req);
  void Serve(Request& req);
  void FailQueued();
  void IdlePeriod();
  // Sends on the caller's thread when nothing is queued ahead (m_sendLock held); false otherwise.
  bool SendDirect(const void* payload, int length, long socket, int& result);
  int Send(const void* payload, int length, long socket);

  CZematInstr* m_session;
  std::mutex m_sendLock;  // one framed request at a time; taken before the queue's lock
  // Guards the output buffer and the sending side of the transport: taken after m_sendLock and
  // before m_queueLock.
  std::mutex m_outLock;
  mutable std::mutex m_queueLock;
  std::condition_variable m_queueEvent;
  std::deque<std::shared_ptr<Request>> m_queue;
  bool m_stopped = false;  // under m_queueLock: the loop has ended
  unsigned m_idle = 0;
  std::atomic<bool> m_directSent{false};  // a write went out on a caller's thread this idle period
};

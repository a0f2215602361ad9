// Zematwrite.cpp: the writer loop and its request hand-over. A request is shared between the
// waiting caller and the writer, so a caller that gives up never leaves the writer a dangling block.
#include "StandardApp/Zematwrite.h"

#include <chrono>
#include <exception>

#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"
#include "StandardApp/Zematdefs.h"

struct TZematWrite::Request {
  enum State { Queued, Sending, Done, Abandoned };
  int kind = 0;  // 0 framed message, 1 raw bytes
  const void* data = nullptr;
  int length = 0;
  long socket = 0;
  std::mutex lock;
  std::condition_variable done;
  State state = Queued;
  int result = -1;
};

TZematWrite::TZematWrite(CZematInstr* session) : m_session(session) {}

TZematWrite::~TZematWrite() {
  Stop();
  FailQueued();
}

int TZematWrite::SendFramed(const void* payload, int length, long socket) {
  std::lock_guard<std::mutex> sending(m_sendLock);
  int result = -1;
  if (SendDirect(payload, length, socket, result)) return result;
  auto req = std::make_shared<Request>();
  req->kind = 0;
  req->data = payload;
  req->length = length;
  req->socket = socket;
  return Submit(req);
}

int TZematWrite::SendRaw(const void* bytes, int count) {
  auto req = std::make_shared<Request>();
  req->kind = 1;
  req->data = bytes;
  req->length = count;
  return Submit(req);
}

int TZematWrite::SendRawPair(const void* first, int firstCount, const void* second, int secondCount) {
  std::lock_guard<std::mutex> sending(m_sendLock);
  int result = SendRaw(first, firstCount);
  return result < 0 ? result : SendRaw(second, secondCount);
}

size_t TZematWrite::QueuedRequests() const {
  std::lock_guard<std::mutex> g(m_queueLock);
  return m_queue.size();
}

bool TZematWrite::SendDirect(const void* payload, int length, long socket, int& result) {
  std::lock_guard<std::mutex> out(m_outLock);
  {
    // Anything queued goes first, and once the writer ends nothing more goes out.
    std::lock_guard<std::mutex> g(m_queueLock);
    if (!m_queue.empty()) return false;
    if (Terminated() || m_stopped) {
      result = -1;
      return true;
    }
  }
  m_directSent.store(true);
  result = Send(payload, length, socket);
  return true;
}

int TZematWrite::Send(const void* payload, int length, long socket) {
  try {
    return m_session->SendMessage(payload, length, socket);
  } catch (const std::exception& e) {
    Tracer().Trace(1, "TZematWrite::Execute", "request dropped: %s", e.what());
    return -1;
  }
}

int TZematWrite::Submit(const std::shared_ptr<Request>& req) {
  {
    std::lock_guard<std::mutex> g(m_queueLock);
    if (Terminated() || m_stopped) return -1;  // nobody would ever serve it
    m_queue.push_back(req);
  }
  m_queueEvent.notify_one();
  std::unique_lock<std::mutex> g(req->lock);
  auto wait = std::chrono::milliseconds(m_session->Timings().writerWaitMs);
  if (req->done.wait_for(g, wait, [&] { return req->state == Request::Done; })) return req->result;
  if (req->state == Request::Sending) {  // being written right now: the caller's data is in use
    req->done.wait(g, [&] { return req->state == Request::Done; });
    return req->result;
  }
  req->state = Request::Abandoned;
  return -1;
}

void TZematWrite::Serve(Request& req) {
  {
    std::lock_guard<std::mutex> g(req.lock);
    if (req.state == Request::Abandoned) return;
    req.state = Request::Sending;
  }
  int result = -1;
  {
    std::lock_guard<std::mutex> out(m_outLock);
    if (req.kind == 0) {
      result = Send(req.data, req.length, req.socket);
    } else if (req.kind == 1) {
      result = m_session->PutOutput(req.data, req.length);
      if (result >= 0 && m_session->SendOutput() < 0) result = -1;  // a failed send is a failed write
    }
  }
  std::lock_guard<std::mutex> g(req.lock);
  req.state = Request::Done;
  req.result = result;
  req.done.notify_all();
}

void TZematWrite::FailQueued() {
  std::deque<std::shared_ptr<Request>> left;
  {
    std::lock_guard<std::mutex> g(m_queueLock);
    left.swap(m_queue);
  }
  for (auto& req : left) {
    std::lock_guard<std::mutex> g(req->lock);
    req->state = Request::Done;
    req->result = -1;
    req->done.notify_all();
  }
}

void TZematWrite::IdlePeriod() {
  if (m_directSent.exchange(false)) {  // not idle: a caller wrote directly
    m_idle = 0;
    return;
  }
  if (!m_session->IsConnected()) return;
  if (m_idle++ <= m_session->Timings().keepAliveIdlePeriods) return;
  m_idle = 0;
  CCuCtrlIO* cfg = m_session->CfgChannel();
  long socket = cfg ? cfg->GetSocket() : Z_NO_SOCKET;
  if (socket > Z_SOCKET_MAX) return;
  uint8_t keepAlive[3];
  CZematInstr::WriteU16(keepAlive, socket);
  keepAlive[2] = 0;
  std::lock_guard<std::mutex> out(m_outLock);
  Send(keepAlive, 3, Z_FLOW_SOCKET_NUMBER);
}

void TZematWrite::Wake() {
  std::lock_guard<std::mutex> g(m_queueLock);  // the flag is seen by the wait's predicate
  m_queueEvent.notify_all();
}

void TZematWrite::Execute() {
  for (;;) {
    std::shared_ptr<Request> req;
    {
      std::unique_lock<std::mutex> g(m_queueLock);
      m_queueEvent.wait_for(g, std::chrono::milliseconds(200), [this] { return !m_queue.empty() || Terminated(); });
      if (Terminated()) {
        m_stopped = true;
        break;
      }
      if (!m_queue.empty()) {
        req = m_queue.front();
        m_queue.pop_front();
      }
    }
    if (!req) {
      IdlePeriod();
      continue;
    }
    m_idle = 0;
    m_directSent.store(false);
    Serve(*req);
  }
  FailQueued();
}

// Opencuthread.cpp: the open-CU loop and the pending list: requests are written on the caller's
// thread, replies are matched by descriptor key (opens) or by socket (closes).
#include "StandardApp/Opencuthread.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "StandardApp/Canslavecuthread.h"
#include "StandardApp/Cu.h"
#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"

namespace {
// Length of type byte plus three zero-terminated texts at p, or -1 when they do not fit in n.
int KeyLength(const uint8_t* p, int n) {
  int texts = 0, i = 1;
  for (; i < n && texts < 3; ++i)
    if (p[i] == 0) ++texts;
  return texts == 3 ? i : -1;
}
}  // namespace

COpenCuThread::COpenCuThread(CZematInstr* session) : m_session(session) {}

COpenCuThread::~COpenCuThread() { Stop(); }

void COpenCuThread::Wake() {
  if (CCuCtrlIO* open = m_session->OpnChannel()) open->WakeReader();
}

int COpenCuThread::Request(CCuIoBase* channel, std::shared_ptr<CCuDesc> desc, uint8_t type, const uint8_t* payload,
                           int length) {
  CCuCtrlIO* open = m_session->OpnChannel();
  if (!open) return Z_ERROR;
  {
    std::lock_guard<std::mutex> g(m_lock);
    m_pending.push_back({channel, type, channel->GetSocket(), desc});
  }
  // A refresh marks the module removed before it looks for its pending channels: either it finds
  // this entry, or the mark is seen here.
  if (desc && desc->IsRemoved()) {
    Forget(channel);
    return Z_ERROR;
  }
  // Opens wait for their credit until the loss is reported, so that callers can tell the loss from a
  // refusal; closes give up once the instrument closed the link.
  const bool closing = type == Z_CLOSE_CU || type == Z_CLOSE_SLAVE_CU;
  int rc = open->WriteWithin(payload, length, m_session->Timings().channelWaitMs, closing);
  if (rc != Z_OK) Forget(channel);
  return rc;
}

int COpenCuThread::RequestOpenOf(CCuIoBase* channel, uint8_t type, int extra) {
  std::shared_ptr<CCuDesc> desc = channel->GetDesc();
  if (!desc) return Z_ERROR;
  uint8_t request[Z_CUDESC_RECORD_MAX];
  int length = desc->GetKeyLength() + extra;
  std::memcpy(request, desc->GetRecord(), length);
  request[0] = type;
  return Request(channel, std::move(desc), type, request, length);
}

int COpenCuThread::RequestOpen(CCuIoBase* channel) { return RequestOpenOf(channel, Z_OPEN_CU, 6); }

int COpenCuThread::RequestOpenSlave(CCuIoBase* channel) { return RequestOpenOf(channel, Z_OPEN_SLAVE_CU, 0); }

int COpenCuThread::RequestClose(CCuIoBase* channel) {
  // A link the instrument has closed takes no request (the open channel's credit never comes back)
  // and answers none: the channel is simply forgotten.
  if (!m_session->IsConnected() || m_session->InputEnded()) {
    m_session->RemoveOpenCu(channel);
    return Z_TIMEOUT;
  }
  uint8_t request[3] = {Z_CLOSE_CU, 0, 0};
  CZematInstr::WriteU16(request + 1, channel->GetSocket());
  return Request(channel, nullptr, Z_CLOSE_CU, request, 3);
}

int COpenCuThread::RequestCloseSlave(CCuIoBase* channel) {
  uint8_t request[3] = {Z_CLOSE_SLAVE_CU, 0, 0};
  CZematInstr::WriteU16(request + 1, channel->GetSocket());
  return Request(channel, nullptr, Z_CLOSE_SLAVE_CU, request, 3);
}

void COpenCuThread::Forget(CCuIoBase* channel) {
  std::unique_lock<std::mutex> g(m_lock);
  m_pending.erase(
      std::remove_if(m_pending.begin(), m_pending.end(), [channel](const Pending& p) { return p.channel == channel; }),
      m_pending.end());
  m_handDone.wait(g, [this, channel] { return m_inHand != channel; });
}

std::vector<CCuIoBase*> COpenCuThread::PendingOf(const CModule* module) const {
  std::lock_guard<std::mutex> g(m_lock);
  std::vector<CCuIoBase*> found;
  for (const Pending& p : m_pending) {
    std::shared_ptr<CCuDesc> desc = p.desc ? p.desc : p.channel->GetDesc();
    if (desc && desc->GetModule() == module) found.push_back(p.channel);
  }
  return found;
}

size_t COpenCuThread::PendingCount() const {
  std::lock_guard<std::mutex> g(m_lock);
  return m_pending.size();
}

CCuIoBase* COpenCuThread::TakeByKey(uint8_t type, const uint8_t* payload, int length, std::shared_ptr<CCuDesc>* desc) {
  std::lock_guard<std::mutex> g(m_lock);
  for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
    if (it->type != type || !it->desc) continue;
    int key = it->desc->GetKeyLength();
    if (key == length && std::memcmp(it->desc->GetRecord() + 1, payload + 1, key - 1) == 0) {
      CCuIoBase* channel = it->channel;
      if (desc) *desc = std::move(it->desc);
      m_pending.erase(it);
      m_inHand = channel;
      return channel;
    }
  }
  return nullptr;
}

CCuIoBase* COpenCuThread::TakeBySocket(uint8_t type, long socket) {
  std::lock_guard<std::mutex> g(m_lock);
  for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
    if (it->type == type && it->socket == socket) {
      CCuIoBase* channel = it->channel;
      m_pending.erase(it);
      m_inHand = channel;
      return channel;
    }
  }
  return nullptr;
}

void COpenCuThread::CompleteOpen(const uint8_t* p, int n) {
  int key = KeyLength(p, n);
  if (key < 0 || n < key + 8) return;  // malformed: whoever waits runs into its time-out
  long socket = CZematInstr::ReadU16(p + key + 6);
  std::shared_ptr<CCuDesc> desc;
  CCuIoBase* channel = TakeByKey(Z_OPEN_CU, p, key, &desc);
  // A module that left while its open was under way gets no channel, whatever the instrument says.
  if (!channel || socket > Z_SOCKET_MAX || desc->IsRemoved()) {
    m_session->UnexpectSocket(socket);
    if (channel) channel->DeliverResult(0);
    return;
  }
  channel->SetGranted(p[key], CZematInstr::ReadU16(p + key + 1), p[key + 3], CZematInstr::ReadU16(p + key + 4));
  m_session->AddOpenCu(channel, socket);  // also applies credit grants that came first
  channel->DeliverResult(1);
}

void COpenCuThread::CompleteClose(const uint8_t* p, int n) {
  if (n < 3) return;
  CCuIoBase* channel = TakeBySocket(Z_CLOSE_CU, CZematInstr::ReadU16(p + 1));
  if (!channel) return;
  m_session->RemoveOpenCu(channel);
  channel->DeliverResult(1);
}

void COpenCuThread::CompleteSlaveOpen(const uint8_t* p, int n) {
  int key = KeyLength(p, n);
  if (key < 0 || n < key + 2) return;
  std::shared_ptr<CCuDesc> desc;
  CCuIoBase* channel = TakeByKey(Z_OPEN_SLAVE_CU, p, key, &desc);
  if (!channel) return;
  long socket = CZematInstr::ReadU16(p + key);
  TCsCuThread* cs = m_session->CsThread(false);
  if (!cs || socket > Z_SOCKET_MAX || desc->IsRemoved()) {
    channel->DeliverResult(0);
    return;
  }
  cs->Register(channel);
  channel->SetSocket(socket);
  channel->DeliverResult(1);
}

void COpenCuThread::CompleteSlaveClose(const uint8_t* p, int n) {
  if (n < 3) return;
  CCuIoBase* channel = TakeBySocket(Z_CLOSE_SLAVE_CU, CZematInstr::ReadU16(p + 1));
  if (!channel) return;
  if (TCsCuThread* cs = m_session->CsThread(false)) cs->Unregister(channel);
  channel->DeliverResult(1);
}

void COpenCuThread::CompleteRefusal(const uint8_t* p, int n) {
  if (n < 4) return;
  const uint8_t* request = p + 3;  // the refused request
  int m = n - 3;
  CCuIoBase* channel = nullptr;
  uint8_t type = request[0];
  if (type == Z_OPEN_CU || type == Z_OPEN_SLAVE_CU) {
    int key = KeyLength(request, m);
    if (key > 0) channel = TakeByKey(type, request, key);
  } else if ((type == Z_CLOSE_CU || type == Z_CLOSE_SLAVE_CU) && m >= 3) {
    channel = TakeBySocket(type, CZematInstr::ReadU16(request + 1));
  }
  if (channel) channel->DeliverResult(0);
}

void COpenCuThread::HandleReply(const uint8_t* frame, int length) {
  const uint8_t* p = frame + Z_HEADER_LEN;
  int n = length - Z_HEADER_LEN;
  if (n < 1) return;
  struct THandBack {  // whatever the reply completed is its owner's again
    COpenCuThread& t;
    ~THandBack() {
      {
        std::lock_guard<std::mutex> g(t.m_lock);
        t.m_inHand = nullptr;
      }
      t.m_handDone.notify_all();
    }
  } handBack{*this};
  switch (p[0]) {
    case Z_OPEN_CU:
      return CompleteOpen(p, n);
    case Z_CLOSE_CU:
      return CompleteClose(p, n);
    case Z_OPEN_SLAVE_CU:
      return CompleteSlaveOpen(p, n);
    case Z_CLOSE_SLAVE_CU:
      return CompleteSlaveClose(p, n);
    default:
      return CompleteRefusal(p, n);
  }
}

void COpenCuThread::Execute() {
  uint8_t buffer[Z_READ_BUFFER];
  try {
    while (!Terminated()) {
      CCuCtrlIO* open = m_session->OpnChannel();
      if (!open) break;
      int length = sizeof buffer;
      if (open->Read(buffer, &length, 200) == Z_OK) HandleReply(buffer, length - 1);
    }
  } catch (const std::exception& e) {
    Tracer().Trace(1, "COpenCuThread::Execute", "open-CU thread stopped: %s", e.what());
  }
}

// Cu.cpp: CCuIoBase, CCuIO, CCuCtrlIO and CBaseCuIO: queues, credits, open, close, read, write.
#include "StandardApp/Cu.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "StandardApp/Framepool.h"
#include "StandardApp/Opencuthread.h"
#include "StandardApp/Zassert.h"
#include "StandardApp/Zematcore.h"

namespace {
// Open/close results and the wake-up of a read travel through the in-queue as these addresses, so
// that no data frame can ever be taken for one of them (and no allocation is needed for them).
uint8_t g_resultTokens[2];
uint8_t g_wakeToken;

bool IsResult(void* item) { return item == &g_resultTokens[0] || item == &g_resultTokens[1]; }
bool IsToken(void* item) { return IsResult(item) || item == &g_wakeToken; }
int ResultValue(void* item) { return item == &g_resultTokens[1] ? 1 : 0; }

using Clock = std::chrono::steady_clock;

// Long waits (open and close answers, send credits) look at the link this often, so that a lost
// connection ends them at once instead of after their whole time-out.
constexpr unsigned kLinkCheckMs = 100;

unsigned MsLeft(Clock::time_point end) {
  auto now = Clock::now();
  if (now >= end) return 0;
  return static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
}
}  // namespace

// ---- CCuIoBase ----

CCuIoBase::CCuIoBase(std::shared_ptr<CCuDesc> desc) { SetDesc(std::move(desc)); }

CCuIoBase::~CCuIoBase() {
  Unlink();
  DrainQueue();
}

void CCuIoBase::Unlink() {
  if (m_unlinked) return;
  m_unlinked = true;
  if (m_session) m_session->ForgetChannel(this);
}

void CCuIoBase::DrainQueue() {
  void* item = nullptr;
  while (m_inQueue.Pop(item))
    if (!IsToken(item)) delete[] static_cast<uint8_t*>(item);
}

void CCuIoBase::SetDesc(std::shared_ptr<CCuDesc> desc) {
  if (desc) m_session = desc->GetOwner();
  std::lock_guard<std::mutex> g(m_descLock);
  m_desc = std::move(desc);
}

std::shared_ptr<CCuDesc> CCuIoBase::GetDesc() const {
  std::lock_guard<std::mutex> g(m_descLock);
  return m_desc;
}

std::shared_ptr<CCuDesc> CCuIoBase::UsableDesc() const {
  std::shared_ptr<CCuDesc> desc = GetDesc();
  return desc && !desc->IsRemoved() ? desc : nullptr;
}

void CCuIoBase::SetSocket(long socket) {
  m_socket.store(socket);
  m_open.store(1);
}

void CCuIoBase::Deliver(uint8_t* item, int length) {
  (void)length;
  m_inQueue.Push(item);
}

void CCuIoBase::DeliverMany(uint8_t* const* items, size_t count) {
  m_inQueue.PushMany(reinterpret_cast<void* const*>(items), count);
}

void CCuIoBase::Orphan() {
  ResetSocket();
  DeliverResult(0);
}

void CCuIoBase::DeliverResult(int ok) { m_inQueue.Push(&g_resultTokens[ok ? 1 : 0]); }

void CCuIoBase::WakeReader() { m_inQueue.Push(&g_wakeToken); }

void CCuIoBase::ResetSocket() {
  m_socket.store(Z_NO_SOCKET);
  m_open.store(0);
}

void CCuIoBase::SetGranted(int outCount, int outSize, int inCount, int inSize) {
  m_outCount = outCount;
  m_outSize = outSize;
  m_inCount = inCount;
  m_inSize = inSize;
}

bool CCuIoBase::SessionConnected() const { return m_session && m_session->IsConnected(); }

unsigned CCuIoBase::ChannelWait() const { return m_session ? m_session->Timings().channelWaitMs : 45000; }

int CCuIoBase::WaitResult(unsigned timeoutMs, bool closing) {
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    void* item = nullptr;
    const unsigned left = MsLeft(end);
    const int rc = m_inQueue.WaitPop(item, std::min(left, kLinkCheckMs));
    // Opens keep waiting on a closed link until the loss is reported, so that callers can tell the
    // loss from a refusal.
    const bool linkUp = SessionConnected() && !(closing && m_session->InputEnded());
    if (rc == Z_TIMEOUT && left > kLinkCheckMs && linkUp && !m_abandoned.load()) continue;
    if (rc != Z_OK) return -1;
    if (IsResult(item)) return ResultValue(item);
    if (item == &g_wakeToken) continue;    // meant for a read
    delete[] static_cast<uint8_t*>(item);  // data still arriving for the channel
  }
}

int CCuIoBase::ReadFrame(void* buffer, int* pLen, unsigned timeoutMs) {
  // The clock is read only when the queue is empty: in a stream most frames are already waiting.
  std::optional<Clock::time_point> end;
  for (;;) {
    void* item = nullptr;
    if (!m_inQueue.Pop(item)) {
      if (!end) end = Clock::now() + std::chrono::milliseconds(timeoutMs);
      const int rc = m_inQueue.WaitPop(item, MsLeft(*end));
      if (rc != Z_OK) return rc;
    }
    if (item == &g_wakeToken) return Z_TIMEOUT;
    if (IsResult(item)) continue;  // a late open/close result: nobody waits for it any more
    auto* frame = static_cast<uint8_t*>(item);
    int Len = static_cast<int>(CZematInstr::ReadU16(frame));
    Z_ASSERT(Len <= *pLen, Z_MODULE_CU);
    int n = Len < *pLen ? Len : *pLen - 1;
    std::memcpy(buffer, frame, n);
    static_cast<uint8_t*>(buffer)[n] = 0;
    *pLen = Len + 1;
    framepool::Give(frame);
    return Z_OK;
  }
}

// ---- CCuIO ----

CCuIO::~CCuIO() { Unlink(); }

void CCuIO::ResetCredits(int sendCredits) {
  std::lock_guard<std::mutex> g(m_lock);
  m_sendCredits = sendCredits;
  m_readCredits.store(0);
}

void CCuIO::SetSocket(long socket) {
  CCuIoBase::SetSocket(socket);
  std::lock_guard<std::mutex> g(m_lock);
  std::shared_ptr<CCuDesc> desc = GetDesc();
  m_sendCredits = (desc && desc->GetInCount() > 0) ? 1 : 0;
}

int CCuIO::GetSendCredits() const {
  std::lock_guard<std::mutex> g(m_lock);
  return m_sendCredits;
}

int CCuIO::Open() {
  if (!UsableDesc() || !SessionConnected() || !m_session->OpenCuThread()) return 0;
  ResetCredits(0);
  DrainQueue();  // leftovers of an earlier open or close that timed out
  void* item = nullptr;
  while (m_creditQueue.Pop(item)) {
  }
  if (m_session->OpenCuThread()->RequestOpen(this) != Z_OK) return 0;
  int result = WaitResult(ChannelWait());
  return result < 0 ? 0 : result;
}

int CCuIO::Close() {
  if (GetSocket() > Z_SOCKET_MAX) return 0;
  if (!UsableDesc()) {  // the instrument no longer knows the socket: nothing to ask it
    if (m_session) m_session->RemoveOpenCu(this);
    ResetSocket();
    return 0;
  }
  if (!SessionConnected() || !m_session->OpenCuThread()) return 0;
  if (m_session->OpenCuThread()->RequestClose(this) != Z_OK) return 0;
  int result = WaitResult(ChannelWait(), true);
  if (result < 0) return 0;
  m_session->RemoveOpenCu(this);
  ResetSocket();
  return result;
}

int CCuIO::TakeSendCredit(unsigned waitMs, bool endsWithInput) {
  {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_sendCredits > 0) {
      --m_sendCredits;
      return Z_OK;
    }
  }
  auto end = Clock::now() + std::chrono::milliseconds(waitMs);
  void* item = nullptr;
  for (;;) {
    const unsigned left = MsLeft(end);
    const int rc = m_creditQueue.WaitPop(item, std::min(left, kLinkCheckMs));
    if (rc == Z_OK) break;
    if (rc != Z_TIMEOUT) return rc;
    if (left <= kLinkCheckMs || !SessionConnected() || m_abandoned.load()) return Z_TIMEOUT;
    if (endsWithInput && m_session->InputEnded()) return Z_TIMEOUT;  // credits come only as input
  }
  std::lock_guard<std::mutex> g(m_lock);
  m_sendCredits += static_cast<int>(reinterpret_cast<intptr_t>(item)) - 1;
  return Z_OK;
}

int CCuIO::Write(const void* payload, int length) { return WriteWithin(payload, length, ChannelWait()); }

int CCuIO::WriteWithin(const void* payload, int length, unsigned creditWaitMs, bool endsWithInput) {
  if (!SessionConnected()) return Z_TIMEOUT;
  long socket = GetSocket();
  if (socket > Z_SOCKET_MAX) return Z_ERROR;
  if (payload == nullptr || length <= 0 || length > Z_PAYLOAD_MAX) return Z_ERROR;
  int rc = TakeSendCredit(creditWaitMs, endsWithInput);
  if (rc != Z_OK) return rc;
  if (!SessionConnected()) return Z_TIMEOUT;  // the link went while we waited for the credit
  return m_session->WriteFramed(payload, length, socket) < 0 ? Z_ERROR : Z_OK;
}

void CCuIO::GrantReadCredits() {
  if (m_readCredits.load() > Z_READ_CREDIT_LOW) return;
  if (m_session->SendCreditGrant(GetSocket(), Z_READ_CREDIT_BATCH) >= 0) m_readCredits += Z_READ_CREDIT_BATCH;
}

int CCuIO::Read(void* buffer, int* length, unsigned timeoutMs) {
  if (!SessionConnected() || GetSocket() >= Z_NO_SOCKET) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return Z_TIMEOUT;
  }
  GrantReadCredits();
  int rc = ReadFrame(buffer, length, timeoutMs);
  if (rc == Z_OK) --m_readCredits;
  return rc;
}

void CCuIO::AddCredit(int count) { m_creditQueue.PushValue(count); }

// ---- CCuCtrlIO, CBaseCuIO ----

void CCuCtrlIO::SetSocket(long socket) {
  CCuIoBase::SetSocket(socket);
  ResetCredits(1);
}

int CBaseCuIO::OpenOn(std::shared_ptr<CCuDesc> desc) {
  SetDesc(std::move(desc));
  return Open();
}

// Zematcore.cpp: CZematInstr's session life: settings, Connect, Disconnect, the thread set, the
// open CU list and the loss report.
#include "StandardApp/Zematcore.h"

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <thread>

#include "StandardApp/Canslavecuthread.h"
#include "StandardApp/Mevtcu.h"
#include "StandardApp/Opencuthread.h"
#include "StandardApp/Tracer.h"
#include "StandardApp/Zassert.h"
#include "StandardApp/Zematread.h"
#include "StandardApp/Zematwrite.h"

CZematInstr::CZematInstr() { ResetSession(); }

CZematInstr::~CZematInstr() { Disconnect(); }

void CZematInstr::SetDispatcher(CMainDispatcher* dispatcher) { m_dispatcher = dispatcher; }

CMainDispatcher& CZematInstr::Dispatcher() { return m_dispatcher ? *m_dispatcher : m_direct; }

void CZematInstr::SetTimeout(unsigned ms) {
  m_timeout.store(std::max(ms, 3000u));
  if (m_reader) m_reader->SetSilenceLimit(m_timeout.load());
}

void CZematInstr::SetLanPorts(int telnetPort, int dataPort) {
  m_telnetPort = telnetPort;
  m_dataPort = dataPort;
}

void CZematInstr::SetSerialDevice(int n, const std::string& path) { m_serialDevices[n] = path; }

std::string CZematInstr::SerialDevice(int n) const {
  auto it = m_serialDevices.find(n);
  if (it != m_serialDevices.end()) return it->second;
  return "/dev/ttyS" + std::to_string(n - 1);
}

bool CZematInstr::Connect(int comPort, const char* host) {
  Disconnect();
  if (!OpenTransport(comPort, host)) {
    Tracer().Trace(1, "CZematInstr::Connect", "cannot open the transport (port %d, host %s)", comPort,
                   host ? host : "");
    return false;
  }
  return StartSession();
}

bool CZematInstr::ConnectStream(int fd, bool serial) {
  AttachStream(fd, serial);
  return StartSession();
}

void CZematInstr::AttachStream(int fd, bool serial) {
  Disconnect();
  if (serial) {
    auto port = std::make_unique<CComm>();
    port->Adopt(fd);
    m_transport = std::make_unique<CSerialTransport>(std::move(port));
  } else {
    m_transport = std::make_unique<CSocketTransport>(fd, m_timeout.load());
  }
}

bool CZematInstr::StartSession() {
  m_lossReported.store(false);
  m_inputEnded.store(false);
  {
    std::unique_lock<std::shared_mutex> g(m_writerLock);
    m_writer = std::make_unique<TZematWrite>(this);
    m_writer->Resume();
  }
  m_reader = std::make_unique<TZematRead>(this);
  m_reader->SetSilenceLimit(m_timeout.load());
  m_evtThread = std::make_unique<TMasterEvtCu>(this);
  m_openThread = std::make_unique<COpenCuThread>(this);
  m_CfgDesc = std::make_shared<CCuDesc>(this, nullptr);
  m_EvtDesc = std::make_shared<CCuDesc>(this, nullptr);
  m_OpnDesc = std::make_shared<CCuDesc>(this, nullptr);
  Z_ASSERT(m_CfgDesc != 0, Z_MODULE_CORE);
  Z_ASSERT(m_EvtDesc != 0, Z_MODULE_CORE);
  Z_ASSERT(m_OpnDesc != 0, Z_MODULE_CORE);
  SendRedCard();
  bool ok = WaitRedCardAnswer();
  if (ok) {
    m_reader->Resume();
    m_openThread->Resume();
    m_evtThread->SetEventChannel(m_evtIO.get());
    m_evtThread->Resume();
    if (!m_cancel.load()) m_connected.store(1);
    std::vector<std::shared_ptr<CModule>> found;
    ok = ReadModules(found);
    for (size_t i = 0; ok && i < found.size(); ++i) ok = ReadCuDescs(found[i].get());
    if (ok) {
      std::lock_guard<std::mutex> g(m_modLock);
      m_modules = std::move(found);
    }
  }
  if (ok) return true;
  Tracer().Trace(1, "CZematInstr::Connect", "%s",
                 m_status.load() == IN_SYNC ? "configuration could not be read" : "no red-card answer");
  // Stop everything that was started and release the transport: the caller discards the object.
  StopThreads(false);
  CloseTransport();
  ResetSession();
  return false;
}

bool CZematInstr::WaitRedCardAnswer() {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeout.load());
  while (std::chrono::steady_clock::now() < end && !m_cancel.load()) {
    if (Poll(50) > 0 && TestRedCardAnswer()) {
      uint8_t* frame = GetMessage();
      HandleRedCardAnswer(frame);
      delete[] frame;
      return m_status.load() == IN_SYNC;
    }
    if (IsSerial()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void CZematInstr::CancelConnect() {
  m_cancel.store(true);
  m_connected.store(0);  // channel waits (credits, replies) end at once
}

void CZematInstr::Disconnect() {
  StopThreads(true);
  CloseTransport();
  ResetSession();
}

void CZematInstr::StopThreads(bool goodbye) {
  std::unique_ptr<TCsCuThread> cs;
  std::vector<std::unique_ptr<TCsCuThread>> retired;
  {
    std::lock_guard<std::mutex> g(m_csLock);
    cs = std::move(m_csThread);
    retired = std::move(m_retiredCs);
  }
  cs.reset();
  m_openThread.reset();
  retired.clear();  // after the open-CU thread, the last one that could still reach them
  m_evtThread.reset();
  if (goodbye && m_status.load() == IN_SYNC && m_writer && m_cfgIO) SendGoodbye();
  m_status.store(0);
  m_connected.store(0);
  // The reader goes before the writer: it may still send a red card through it.
  m_reader.reset();
  std::unique_ptr<TZematWrite> writer;
  {
    std::unique_lock<std::shared_mutex> g(m_writerLock);  // waits for writes in flight
    writer = std::move(m_writer);
  }
  writer.reset();
}

void CZematInstr::SendGoodbye() {
  Z_ASSERT(m_status == IN_SYNC, Z_MODULE_CORE);
  static const uint8_t goodbye = Z_GOODBYE;
  // Bounded credit wait: a missing grant must not hold the disconnect for the full channel wait.
  m_cfgIO->WriteWithin(&goodbye, 1, m_timings.goodbyeCreditWaitMs, true);
  m_status.store(0);
}

void CZematInstr::ResetSession() {
  {
    std::lock_guard<std::mutex> g(m_modLock);
    while (!m_modules.empty()) RetireModule(m_modules.size() - 1);
  }
  for (CCuDesc* builtin : {m_CfgDesc.get(), m_EvtDesc.get(), m_OpnDesc.get()})
    if (builtin) builtin->MarkRemoved();
  ResetInput();
  m_ostart = m_oend = m_obuf;
  m_mode = 0;
  m_status.store(0);
  m_cfgSocket.store(Z_NO_SOCKET);
  m_evtSocket.store(Z_NO_SOCKET);
  m_opnSocket.store(Z_NO_SOCKET);
  m_cfgIO.reset();
  m_evtIO.reset();
  m_opnIO.reset();
  m_CfgDesc.reset();
  m_EvtDesc.reset();
  m_OpnDesc.reset();
  std::lock_guard<std::mutex> g(m_openLock);
  m_openCus.clear();
  m_earlyCredits.clear();
}

int CZematInstr::WriteFramed(const void* payload, int length, long socket) {
  std::shared_lock<std::shared_mutex> g(m_writerLock);
  return m_writer ? m_writer->SendFramed(payload, length, socket) : -1;
}

int CZematInstr::WriteRaw(const void* bytes, int count) {
  std::shared_lock<std::shared_mutex> g(m_writerLock);
  return m_writer ? m_writer->SendRaw(bytes, count) : -1;
}

int CZematInstr::WriteRawPair(const void* first, int firstCount, const void* second, int secondCount) {
  std::shared_lock<std::shared_mutex> g(m_writerLock);
  return m_writer ? m_writer->SendRawPair(first, firstCount, second, secondCount) : -1;
}

int CZematInstr::SendCreditGrant(long socket, int count) {
  uint8_t entry[3];
  WriteU16(entry, socket);
  entry[2] = static_cast<uint8_t>(count);
  return WriteFramed(entry, 3, Z_FLOW_SOCKET_NUMBER);
}

TCsCuThread* CZematInstr::CsThread(bool create) {
  if (!create) {
    std::lock_guard<std::mutex> g(m_csLock);
    return m_csThread.get();
  }
  // Creation is serialised by its own lock: Start waits for the "CS" open, and a failed start
  // destroys a channel, which takes m_csLock (ForgetChannel).
  std::lock_guard<std::mutex> creating(m_csCreateLock);
  {
    std::lock_guard<std::mutex> g(m_csLock);
    if (m_csThread || !m_openThread) return m_csThread.get();
  }
  auto thread = std::make_unique<TCsCuThread>(this);
  if (!thread->Start()) return nullptr;
  std::lock_guard<std::mutex> g(m_csLock);
  m_csThread = std::move(thread);
  return m_csThread.get();
}

CCuIoBase* CZematInstr::FindCu(long socket_number) const {
  Z_ASSERT(socket_number >= Z_SOCKET_MIN, Z_MODULE_CORE);
  Z_ASSERT(socket_number <= Z_SOCKET_MAX, Z_MODULE_CORE);
  std::lock_guard<std::mutex> g(m_openLock);
  for (CCuIoBase* cu : m_openCus)
    if (cu->GetSocket() == socket_number) return cu;
  return nullptr;
}

void CZematInstr::AddOpenCu(CCuIoBase* channel, long socket) {
  std::lock_guard<std::mutex> g(m_openLock);
  if (std::find(m_openCus.begin(), m_openCus.end(), channel) == m_openCus.end()) m_openCus.push_back(channel);
  channel->SetSocket(socket);
  auto it = m_earlyCredits.find(socket);
  if (it == m_earlyCredits.end()) return;
  for (int count : it->second) channel->AddCredit(count);
  m_earlyCredits.erase(it);
}

void CZematInstr::RemoveOpenCu(CCuIoBase* channel) {
  std::lock_guard<std::mutex> g(m_openLock);
  m_openCus.erase(std::remove(m_openCus.begin(), m_openCus.end(), channel), m_openCus.end());
}

void CZematInstr::ExpectSocket(long socket) {
  std::lock_guard<std::mutex> g(m_openLock);
  m_earlyCredits[socket].clear();
}

void CZematInstr::UnexpectSocket(long socket) {
  std::lock_guard<std::mutex> g(m_openLock);
  m_earlyCredits.erase(socket);
}

void CZematInstr::ForgetChannel(CCuIoBase* channel) {
  RemoveOpenCu(channel);
  if (m_openThread) m_openThread->Forget(channel);
  std::lock_guard<std::mutex> g(m_csLock);
  if (m_csThread) m_csThread->Unregister(channel);
}

void CZematInstr::RetireModule(size_t index) {
  m_modules[index]->MarkRemoved();
  m_modules.erase(m_modules.begin() + static_cast<std::ptrdiff_t>(index));
}

void CZematInstr::RetireCsThread() {
  std::vector<CCuIoBase*> slaves;
  {
    std::lock_guard<std::mutex> g(m_csLock);
    if (!m_csThread) return;
    m_csThread->Terminate();
    slaves = m_csThread->Slaves();
    m_retiredCs.push_back(std::move(m_csThread));
  }
  // The slaves' only road to the instrument is gone; they end as if their own module had left.
  for (CCuIoBase* slave : slaves) {
    ForgetChannel(slave);
    slave->Orphan();
  }
}

void CZematInstr::OrphanChannelsOf(const CModule* module) {
  {
    std::unique_lock<std::mutex> g(m_csLock);
    CCuIO* cs = m_csThread ? m_csThread->GetCsChannel() : nullptr;
    std::shared_ptr<CCuDesc> csDesc = cs ? cs->GetDesc() : nullptr;
    if (csDesc && csDesc->GetModule() == module) {
      g.unlock();
      RetireCsThread();
    }
  }
  std::vector<CCuIoBase*> channels;
  {
    std::lock_guard<std::mutex> g(m_openLock);
    for (CCuIoBase* cu : m_openCus) {
      std::shared_ptr<CCuDesc> desc = cu->GetDesc();
      if (desc && desc->GetModule() == module) channels.push_back(cu);
    }
  }
  if (m_openThread) {
    auto pending = m_openThread->PendingOf(module);
    channels.insert(channels.end(), pending.begin(), pending.end());
  }
  {
    std::lock_guard<std::mutex> g(m_csLock);
    if (m_csThread) {
      auto slaves = m_csThread->SlavesOf(module);
      channels.insert(channels.end(), slaves.begin(), slaves.end());
    }
  }
  std::sort(channels.begin(), channels.end());
  channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
  for (CCuIoBase* channel : channels) {
    ForgetChannel(channel);
    channel->Orphan();
  }
}

void CZematInstr::ReportConnectionLost() {
  if (m_lossReported.exchange(true)) return;
  m_connected.store(0);
  OnConnectionLost();
}

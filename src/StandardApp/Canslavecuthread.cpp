// Canslavecuthread.cpp: the CAN-slave loop: frames on the "CS" CU carry a slave socket in front of
// the data and are handed, as a copy, to the slave channel holding that socket.
#include "StandardApp/Canslavecuthread.h"

#include <strings.h>
#include <algorithm>
#include <cstring>
#include <exception>

#include "StandardApp/Cu.h"
#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"

TCsCuThread::TCsCuThread(CZematInstr* session) : m_session(session) {}

TCsCuThread::~TCsCuThread() {
  Stop();
  m_cs.reset();
}

void TCsCuThread::Wake() {
  if (m_cs) m_cs->WakeReader();  // set before the thread was handed out
}

bool TCsCuThread::Start() {
  std::lock_guard<std::mutex> g(m_startLock);
  if (m_cs) return true;
  std::shared_ptr<CCuDesc> found;
  for (int i = 0; !found && i < m_session->GetModuleCount(); ++i) {
    std::shared_ptr<CModule> module = m_session->GetModule(i);
    for (int j = 0; module && !found && j < module->GetCuDescCount(); ++j)
      if (strcasecmp(module->GetCuDesc(j)->GetCuName(), "CS") == 0) found = module->GetCuDesc(j);
  }
  if (!found) return false;
  auto channel = std::make_unique<CCuIO>(found);
  if (channel->Open() != 1) return false;
  m_cs = std::move(channel);
  Resume();
  return true;
}

void TCsCuThread::Register(CCuIoBase* slave) {
  std::lock_guard<std::mutex> g(m_lock);
  if (std::find(m_slaves.begin(), m_slaves.end(), slave) == m_slaves.end()) m_slaves.push_back(slave);
}

void TCsCuThread::Unregister(CCuIoBase* slave) {
  std::lock_guard<std::mutex> g(m_lock);
  m_slaves.erase(std::remove(m_slaves.begin(), m_slaves.end(), slave), m_slaves.end());
}

std::vector<CCuIoBase*> TCsCuThread::SlavesOf(const CModule* module) const {
  std::lock_guard<std::mutex> g(m_lock);
  std::vector<CCuIoBase*> found;
  for (CCuIoBase* slave : m_slaves) {
    std::shared_ptr<CCuDesc> desc = slave->GetDesc();
    if (desc && desc->GetModule() == module) found.push_back(slave);
  }
  return found;
}

std::vector<CCuIoBase*> TCsCuThread::Slaves() const {
  std::lock_guard<std::mutex> g(m_lock);
  return m_slaves;
}

bool TCsCuThread::IsRegistered(const CCuIoBase* slave) const {
  std::lock_guard<std::mutex> g(m_lock);
  return std::find(m_slaves.begin(), m_slaves.end(), slave) != m_slaves.end();
}

void TCsCuThread::Route(const uint8_t* frame, int length) {
  if (length < Z_HEADER_LEN + 2) return;
  long socket = CZematInstr::ReadU16(frame + Z_HEADER_LEN);
  std::lock_guard<std::mutex> g(m_lock);
  for (CCuIoBase* slave : m_slaves) {
    if (slave->GetSocket() != socket) continue;
    auto* copy = new uint8_t[length];
    std::memcpy(copy, frame, length);
    slave->Deliver(copy, length);
    return;
  }
}

void TCsCuThread::Execute() {
  uint8_t buffer[Z_READ_BUFFER];
  try {
    while (!Terminated()) {
      int length = sizeof buffer;
      if (m_cs->Read(buffer, &length, 200) == Z_OK) Route(buffer, length - 1);
    }
    m_cs->Close();
  } catch (const std::exception& e) {
    Tracer().Trace(1, "TCsCuThread::Execute", "CAN-slave thread stopped: %s", e.what());
  }
}

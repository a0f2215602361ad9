// Zthread.cpp: CZThread start and stop.
#include "StandardApp/Zthread.h"

#include "StandardApp/Zassert.h"

CZThread::~CZThread() { Stop(); }

void CZThread::Resume() {
  if (m_thread.joinable() || m_finished.load()) return;
  m_thread = std::thread([this] {
    Execute();
    m_finished.store(true);
  });
}

void CZThread::WaitFor() {
  if (!m_thread.joinable()) return;
  Z_ASSERT(m_thread.get_id() != std::this_thread::get_id(), Z_MODULE_CORE);
  m_thread.join();
}

void CZThread::Stop() {
  Terminate();
  WaitFor();
}

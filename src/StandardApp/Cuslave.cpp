// Cuslave.cpp: CCuIoSlave, a CU reached through the CAN-slave ("CS") CU: no credits of its own, its
// frames carry the slave socket in front of the data.
#include <cstring>

#include "StandardApp/Canslavecuthread.h"
#include "StandardApp/Cu.h"
#include "StandardApp/Opencuthread.h"
#include "StandardApp/Zematcore.h"

int CCuIoSlave::Open() {
  if (!UsableDesc() || !SessionConnected() || !m_session->OpenCuThread()) return 0;
  if (!m_session->CsThread(true)) return 0;
  DrainQueue();
  if (m_session->OpenCuThread()->RequestOpenSlave(this) != Z_OK) return 0;
  int result = WaitResult(ChannelWait());
  return result < 0 ? 0 : result;
}

int CCuIoSlave::Close() {
  if (GetSocket() > Z_SOCKET_MAX) return 0;
  if (!UsableDesc()) {  // the instrument no longer knows the slave: drop it without asking
    ResetSocket();
    if (m_session) m_session->ForgetChannel(this);
    return 0;
  }
  if (!SessionConnected() || !m_session->OpenCuThread()) return 0;
  if (m_session->OpenCuThread()->RequestCloseSlave(this) != Z_OK) return 0;
  ResetSocket();  // the reply only unregisters the channel; frames for it are dropped from now on
  return 1;
}

int CCuIoSlave::Write(const void* payload, int length) {
  if (!SessionConnected()) return Z_TIMEOUT;
  long socket = GetSocket();
  if (socket > Z_SOCKET_MAX || payload == nullptr || length <= 0 || length > Z_SLAVE_PAYLOAD_MAX) return Z_ERROR;
  TCsCuThread* cs = m_session->CsThread(false);
  if (!cs || !cs->GetCsChannel()) return Z_ERROR;
  uint8_t buffer[Z_FRAME_MAX];
  CZematInstr::WriteU16(buffer, socket);
  std::memcpy(buffer + 2, payload, length);
  return cs->GetCsChannel()->Write(buffer, length + 2);
}

int CCuIoSlave::Read(void* buffer, int* length, unsigned timeoutMs) {
  if (!SessionConnected() || GetSocket() > Z_SOCKET_MAX) return Z_TIMEOUT;
  return ReadFrame(buffer, length, timeoutMs);
}

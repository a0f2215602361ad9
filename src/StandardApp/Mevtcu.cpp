// Mevtcu.cpp: the master event loop: configuration events 5 and 7 refresh the configuration on
// the main thread; other codes are ignored.
#include "StandardApp/Mevtcu.h"

#include <exception>

#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"

TMasterEvtCu::TMasterEvtCu(CZematInstr* session) : m_session(session) {}

TMasterEvtCu::~TMasterEvtCu() { Stop(); }

void TMasterEvtCu::Wake() {
  if (m_channel) m_channel->WakeReader();
}

void TMasterEvtCu::Execute() {
  uint8_t buffer[Z_READ_BUFFER];
  try {
    while (!Terminated() && m_channel) {
      int length = sizeof buffer;
      if (m_channel->Read(buffer, &length, 200) != Z_OK || length - 1 < 7) continue;
      unsigned code = CZematInstr::ReadU16(buffer + 5);
      if (code != 5 && code != 7) continue;
      CZematInstr* session = m_session;
      SyncCall(
          session->Dispatcher(), [session] { session->RefreshConfiguration(); }, TerminateFlag());
    }
  } catch (const std::exception& e) {
    Tracer().Trace(1, "TMasterEvtCu::Execute", "event thread stopped: %s", e.what());
  }
}

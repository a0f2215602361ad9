// Zematread.cpp: the reader loop: cut frames, dispatch, count silence, and report a lost connection
// once (after silence, an invalid length, or a failure of the loop).
#include "StandardApp/Zematread.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <chrono>
#include <exception>
#include <mutex>
#include <thread>

#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"

namespace {
// Frames are allocated here and freed on the channels' threads. glibc would hand the freed top of
// this thread's heap back to the system and fault it in again for the next frames (a page fault
// per frame of a fast stream); up to this much stays with the process instead.
void KeepFreedFrameMemory() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] { mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024); });
#endif
}
}  // namespace

TZematRead::TZematRead(CZematInstr* session) : m_session(session) { KeepFreedFrameMemory(); }

TZematRead::~TZematRead() { Stop(); }

void TZematRead::Execute() {
  try {
    while (!Terminated()) {
      Outcome outcome = ReceiveFrame();
      if (outcome == Outcome::Terminated) break;
      if (outcome == Outcome::Frame) {
        m_silence = 0;
        continue;
      }
      m_silence += 200;
      if (!m_silenceReported.load() && m_silence >= m_silenceLimit.load()) {
        m_silenceReported.store(true);
        Tracer().Trace(1, "TZematRead::Execute", "nothing received for %u ms", m_silence);
        ReportLoss();
      }
    }
  } catch (const std::exception& e) {
    Tracer().Trace(1, "TZematRead::Execute", "reader stopped: %s", e.what());
    if (!m_silenceReported.exchange(true)) ReportLoss();
  } catch (...) {
    Tracer().Trace(1, "TZematRead::Execute", "reader stopped by an unknown exception");
    if (!m_silenceReported.exchange(true)) ReportLoss();
  }
}

TZematRead::Outcome TZematRead::ReceiveFrame() {
  CZematInstr& s = *m_session;
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int taken = s.TakeFrames();
    if (taken > 0) return Outcome::Frame;
    if (taken < 0) {
      // Frames in flight behind the broken length (credit grants among them) are lost for good, so
      // a resynchronised link could leave a writer waiting for a grant that never comes: report the
      // loss once and let the owner reconnect. Later input is discarded.
      if (!m_silenceReported.exchange(true)) {
        Tracer().Trace(1, "TZematRead::ReceiveFrame", "input stream lost its framing");
        ReportLoss();
      }
    }
    if (Terminated()) return Outcome::Terminated;
    s.Poll(50);
    if (s.IsSerial()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(200)) {
      if (s.GetStatus() == 1 ? s.TestRedCardAnswer() : s.TestMsgComplete()) continue;
      return Outcome::TimeOut;
    }
  }
}

void TZematRead::ReportLoss() {
  CZematInstr* session = m_session;
  // Not connected from now on: opens, closes and writes waiting on other threads (the main thread
  // among them) give up at once, so the report below never waits for their time-outs.
  session->SetConnected(false);
  SyncCall(
      session->Dispatcher(), [session] { session->ReportConnectionLost(); }, TerminateFlag());
}

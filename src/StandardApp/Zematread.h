// Zematread.h: TZematRead, the reader thread: polls the transport, cuts frames, routes them with
// Dispatch and reports silence (or a fault in its loop) once as a lost connection.
#pragma once

#include <atomic>

#include "StandardApp/Zthread.h"

class CZematInstr;

class TZematRead : public CZThread {
 public:
  explicit TZematRead(CZematInstr* session);
  ~TZematRead() override;
  void SetSilenceLimit(unsigned ms) { m_silenceLimit.store(ms); }

 protected:
  void Execute() override;

 private:
  enum class Outcome { Frame, TimeOut, Terminated };
  Outcome ReceiveFrame();
  void ReportLoss();

  CZematInstr* m_session;
  std::atomic<bool> m_silenceReported{false};
  std::atomic<unsigned> m_silenceLimit{5000};
  unsigned m_silence = 0;
};

// Mevtcu.h: TMasterEvtCu reads the event CU and has the main thread refresh the configuration
// when the instrument reports a change (event codes 5 and 7).
#pragma once

#include <atomic>

#include "StandardApp/Zthread.h"

class CZematInstr;
class CCuIoBase;

class TMasterEvtCu : public CZThread {
 public:
  explicit TMasterEvtCu(CZematInstr* session);
  ~TMasterEvtCu() override;
  void SetEventChannel(CCuIoBase* channel) { m_channel = channel; }

 protected:
  void Execute() override;
  void Wake() override;

 private:
  CZematInstr* m_session;
  CCuIoBase* m_channel = nullptr;
};

// CMyZematInstr: the application's connection; its four hooks forward to the main window.
#pragma once

#include "StandardApp/Zematcore.h"

class TMainForm;

class CMyZematInstr : public CZematInstr {
 public:
  explicit CMyZematInstr(TMainForm* mainWindow) : m_main(mainWindow) {}
  void OnConnectionLost() override;
  void OnConfigChanged() override;
  void OnModuleRemoved(CModule* module) override;
  void OnModuleAdded(CModule* module) override;

 private:
  TMainForm* m_main;
};

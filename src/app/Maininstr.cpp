// CMyZematInstr: hook forwarding to TMainForm.
#include "app/Maininstr.h"

#include "app/Mainform.h"

void CMyZematInstr::OnConnectionLost() { m_main->ConnectionLost(); }
void CMyZematInstr::OnConfigChanged() { m_main->ConfigChanged(); }
void CMyZematInstr::OnModuleRemoved(CModule* module) { m_main->ModuleRemoved(module); }
void CMyZematInstr::OnModuleAdded(CModule* module) { m_main->ModuleAdded(module); }

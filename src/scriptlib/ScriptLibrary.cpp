// RegisterGeneralLibrary: the three general library units, registered once per process.
#include "scriptlib/ScriptLibrary.h"

#include <mutex>

void RegisterGeneralLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHSysut();
    RegisterHSys();
    RegisterHClass();
  });
}

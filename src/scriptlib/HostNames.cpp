// The host-level script names (Version, Sleep, SleepMS, Exec, LoadWindowLayout, StartScript) and the
// registration of everything the script host adds to the engine, once per process.
#include "scriptlib/Instscript.h"

#include "scriptlib/Arguments.h"
#include "scriptlib/Bytearray.h"
#include "scriptlib/CmdInstr.h"
#include "scriptlib/Cmdfile.h"
#include "scriptlib/Cmdregexp.h"
#include "scriptlib/Cmdtime.h"
#include "scriptlib/ExecProcess.h"
#include "scriptlib/Formhost.h"
#include "scriptlib/InstrScriptOutput.h"
#include "scriptlib/InstrumentHost.h"
#include "scriptlib/Signaldata.h"

#include "script/Halevent.h"
#include "script/Registration.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

// Sleeps in short slices so that an abort of the running script ends the wait early.
void SleepAbortable(int64_t ms) {
  using clock = std::chrono::steady_clock;
  const auto end = clock::now() + std::chrono::milliseconds(std::max<int64_t>(ms, 0));
  TInstrScriptThread* run = TInstrScriptThread::Current();
  while (clock::now() < end) {
    if (run && run->RunState().load() == HAL_STOP) return;
    if (TStopFlag* handler = CurrentHandlerStop(); handler && handler->load() == HAL_STOP) return;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now());
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(20)));
  }
}

// Seconds beyond this many are cut, so that the multiplication cannot overflow.
constexpr int64_t kMaxSleepSeconds = int64_t(1) << 31;

void RegisterHostFunctions() {
  AddFun("Version", [](TObjHandle, const std::string&, TValue*, int) { return TValue("5.66"); }, {pkNone});
  AddProc("Sleep",
          [](TObjHandle, const std::string&, TValue* a, int) {
            SleepAbortable(std::min(a[0].AsInt64(), kMaxSleepSeconds) * 1000);
            return TValue();
          },
          {pkValue});
  AddProc("SleepMS",
          [](TObjHandle, const std::string&, TValue* a, int) {
            SleepAbortable(a[0].AsInt64());
            return TValue();
          },
          {pkValue});
  AddFun("Exec",
         [](TObjHandle, const std::string&, TValue* a, int) {
           return TValue(static_cast<int32_t>(StartProcess(a[0].AsString(), a[1].AsString()) ? 1 : 0));
         },
         {pkValue, pkValue});
}

// Handlers that take the run from the engine's user data reach the host through its main thread.
void RegisterLoadWindowLayout() {
  AddProc2("LoadWindowLayout",
           [](TObjHandle, void* userData, TValue* a, int) {
             auto* run = static_cast<TInstrScriptThread*>(userData);
             const int n = a[0].AsInteger();
             if (run && run->Instrument()) run->CallMain([run, n] { run->Instrument()->LoadWindowLayout(n); });
             return TValue();
           },
           {pkValue});
}

void RegisterStartScript() {
  AddProc2("StartScript",
           [](TObjHandle, void* userData, TValue* a, int) {
             auto* run = static_cast<TInstrScriptThread*>(userData);
             if (!run) return TValue();
             const std::string commandLine = a[0].AsString();
             const int close = a[1].AsInteger();
             if (a[2].AsInt64() == 0) {
               run->RunNested(commandLine);
             } else if (run->Instrument()) {
               run->CallMain([run, commandLine, close] { run->Instrument()->StartScript(commandLine, close); });
             }
             return TValue();
           },
           {pkValue, pkValue, pkValue});
}

}  // namespace

void RegisterInstrumentLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostFunctions();
    RegisterLoadWindowLayout();
    RegisterInstrumentBindings();
    RegisterTInstrScriptOutput();
    RegisterStartScript();
    RegisterTArguments();
    RegisterByteArrayLibrary();
    RegisterRegExpLibrary();
    RegisterFileLibrary();
    RegisterTimeLibrary();
    RegisterPlotLibrary();
    RegisterSignalLibrary();
    RegisterSignalDataLibrary();
    RegisterFormLibrary();
  });
}

// TInstrScriptOutput and its engine names; host calls go through the run thread's main-thread call.
#include "scriptlib/InstrScriptOutput.h"

#include "scriptlib/Instscript.h"

#include "script/HalComp.h"
#include "script/Registration.h"

TInstrScriptOutput::TInstrScriptOutput(TInstrScriptThread& thread, THalComp& comp)
    : TScriptObject("TInstrScriptOutput"), m_thread(thread), m_comp(comp) {}

void TInstrScriptOutput::writeln(const std::string& text) { m_thread.OutputLine(text); }

void TInstrScriptOutput::clear() {
  m_thread.CallMain([this] { m_thread.Sink().ClearOutput(); });
}

bool TInstrScriptOutput::OpenLogFile(const std::string& name, bool append) {
  bool ok = false;
  m_thread.CallMain([&] { ok = m_thread.Sink().OpenLogFile(name, append); });
  return ok;
}

void TInstrScriptOutput::closeLogFile() {
  m_thread.CallMain([this] { m_thread.Sink().CloseLogFile(); });
}

void TInstrScriptOutput::SetDebug(int level) {
  m_debugLevel = level;
  m_comp.SetDebugLevel(level);
}

namespace {

TInstrScriptOutput& Self(TObjHandle self) { return *ScriptObjectAs<TInstrScriptOutput>(self, "TInstrScriptOutput"); }

#define OUTPUT_HANDLER [](TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

}  // namespace

void RegisterTInstrScriptOutput() {
  RegisterHostClass("TInstrScriptOutput", "TObject");
  AddFun("TInstrScriptOutput.writeln",
         OUTPUT_HANDLER {
           Self(self).writeln(a[0].AsString());
           return TValue();
         },
         {pkValue});
  AddFun("TInstrScriptOutput.clear",
         OUTPUT_HANDLER {
           Self(self).clear();
           return TValue();
         },
         {pkNone});
  AddFun("TInstrScriptOutput.OpenLogFile",
         OUTPUT_HANDLER {
           bool ok = Self(self).OpenLogFile(a[0].AsString(), a[1].AsInt64() != 0);
           return TValue(static_cast<int32_t>(ok ? 1 : 0));
         },
         {pkValue, pkValue});
  AddFun("TInstrScriptOutput.closeLogFile",
         OUTPUT_HANDLER {
           Self(self).closeLogFile();
           return TValue();
         },
         {pkNone});
  AddProp(
      "TInstrScriptOutput.Debug", OUTPUT_HANDLER { return TValue(static_cast<int32_t>(Self(self).Debug())); },
      OUTPUT_HANDLER {
        Self(self).SetDebug(a[0].AsInteger());
        return TValue();
      });
}

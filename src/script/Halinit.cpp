// Engine start-up and shut-down (the Halinit unit): reserved words, built-in constants, the
// host-parameter provider and the base host classes.
#include "script/Halinit.h"

#include <mutex>

#include "script/DynaVars.h"
#include "script/HalCompiler.h"
#include "script/Halevent.h"
#include "script/Registration.h"
#include "script/ScriptObjects.h"

namespace {
std::mutex g_initMu;
int g_initCount = 0;

void addBuiltinConsts() {
  const struct {
    const char* name;
    int value;
  } kConsts[] = {{"qrMasterDataAdvance", 0},
                 {"qrBandPrinted", 1},
                 {"qrBandSizeChange", 2},
                 {"mbLeft", 0},
                 {"mbRight", 1},
                 {"mbMiddle", 2},
                 {"ssShift", 0},
                 {"ssAlt", 1},
                 {"ssCtrl", 2},
                 {"ssLeft", 3},
                 {"ssRight", 4},
                 {"ssMiddle", 5},
                 {"ssDouble", 6}};
  for (const auto& c : kConsts) AddConst(c.name, TValue(int32_t(c.value)));
}

void addParamProvider() {
  TInternalVar& store = InternalVariables();
  AddDynaVar(
      "__InternalVar", [&store](const std::string& n) { return store.DynaVarNameTOId(n); },
      [&store](int id, const TValue& v) { store.DynaSetVar(id, v); },
      [&store](int id) { return store.DynaGetVar(id); });
}
}  // namespace

void HalinitStart() {
  std::lock_guard lock(g_initMu);
  if (g_initCount++ > 0) return;
  FillResWords();
  addParamProvider();
  RegisterHostClass("THalComp", "TComponent");
  addBuiltinConsts();
  MethodNames().Clear();
  RegisterStandardEvents();
}

void HalinitStop() {
  std::lock_guard lock(g_initMu);
  if (g_initCount == 0 || --g_initCount > 0) return;
  InternalVariables().Clear();
  DynaVars().Clear();
  ResConsts().Clear();
  Funs().Clear();
  MethodNames().Clear();
  ClearEvents();
}

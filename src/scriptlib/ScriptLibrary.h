// Registration of the general script library (units H_sysut, H_sys, H_class) with the engine.
// Call once at program start, after the engine has started; repeated calls do nothing.
#pragma once

void RegisterGeneralLibrary();

// The single units, in the order RegisterGeneralLibrary calls them.
void RegisterHSysut();  // conversion and string functions
void RegisterHSys();    // system functions, TOBJECT, TVariant
void RegisterHClass();  // TOBJECTLIST, TSTRINGS, TSTRINGLIST

#include "script/Value.h"
// Type code of a value as the var constants name them (varInteger, varString, ...).
int32_t ScriptVarType(const TValue& v);

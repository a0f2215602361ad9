// The script engine's public interface in one include.
#pragma once
#include "script/BinProg.h"
#include "script/DynaVars.h"
#include "script/HalComp.h"
#include "script/HalCompiler.h"
#include "script/Halinit.h"
#include "script/Registration.h"
#include "script/ScriptErrors.h"
#include "script/ScriptObjects.h"
#include "script/Value.h"
#include "script/ValueOps.h"

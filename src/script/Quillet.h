// The script engine's public interface in one include.
#pragma once
#include "BinProg.h"
#include "DynaVars.h"
#include "HalComp.h"
#include "HalCompiler.h"
#include "Halinit.h"
#include "Registration.h"
#include "ScriptErrors.h"
#include "ScriptObjects.h"
#include "Value.h"
#include "ValueOps.h"

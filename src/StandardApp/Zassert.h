// Zassert.h: the engine's one assertion macro for programming errors (violated preconditions).
// Prints the condition's text and the source module, then aborts; never used for input checks.
#pragma once

namespace zemat {
[[noreturn]] void AssertFailed(const char* condition, const char* module, const char* file, int line);
}

#define Z_ASSERT(cond, module) \
  ((cond) ? static_cast<void>(0) : ::zemat::AssertFailed(#cond, module, __FILE__, __LINE__))

#define Z_MODULE_FROM "StandardApp/FROM"
#define Z_MODULE_TO "StandardApp/TO"
#define Z_MODULE_CORE "StandardApp/CORE"
#define Z_MODULE_CU "StandardApp/Cu"

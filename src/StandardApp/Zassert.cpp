// Zassert.cpp: the assertion handler behind Z_ASSERT.
#include "StandardApp/Zassert.h"

#include <cstdio>
#include <cstdlib>

namespace zemat {
void AssertFailed(const char* condition, const char* module, const char* file, int line) {
  std::fprintf(stderr, "Assertion failed: %s, module %s (%s:%d)\n", condition, module, file, line);
  std::fflush(stderr);
  std::abort();
}
}  // namespace zemat

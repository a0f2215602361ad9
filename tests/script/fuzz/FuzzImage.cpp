// Fuzz target of the program-image loader: any bytes must load (validated, decoded, fused) or fail
// with a compile error, never crash or read outside the image; a loaded image lists fused and plain.
// Images are not run: a loaded image may loop for ever (the compiler target runs loop-free scripts).
//
// The slot bound is lowered: at the loader's own bound a tiny image may make it fill 64 MB of slots,
// which is bounded but slows fuzzing to a few inputs a second.
//
// Input: byte 0 = n; when n is odd the slots 0..n/2-1 are declared variables (fusion through
// temporaries then applies). Then the image.
#include <cstdint>
#include <string_view>
#include <vector>

#include "script/Quillet.h"

namespace {
constexpr int kSlotLimit = 1 << 13;
const bool g_started = [] {
  HalinitStart();
  AddProc("Print", [](TObjHandle, const std::string&, TValue*, int) { return TValue(); }, {pkValue});
  AddFun("Pair", [](TObjHandle, const std::string&, TValue*, int) { return TValue(); }, {pkValue, pkVar});
  return true;
}();
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::vector<int> slots;
  if (data[0] & 1)
    for (int i = 0; i < data[0] / 2; ++i) slots.push_back(i);
  const std::string_view image(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    TBinProg prog(image, (data[0] & 1) ? &slots : nullptr, kSlotLimit);
    (void)prog.Listing(true);
    (void)prog.Listing(false);
  } catch (const ECompilerError&) {
  }
  return 0;
}

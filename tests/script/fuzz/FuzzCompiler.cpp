// libFuzzer driver for the lexer, compiler and image loader; loop-free inputs are also run.
// Built as fuzz_compiler (clang, -DMORVENT_FUZZ=ON) or as the replay program replay_compiler (README).
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "script/Quillet.h"

namespace {
bool mayLoop(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  for (const char* w : {"WHILE", "REPEAT", "FOR", "GOTO"})
    if (s.find(w) != std::string::npos) return true;
  return false;
}

const bool g_started = [] {
  HalinitStart();
  AddProc("Print",
          [](TObjHandle, const std::string&, TValue* a, int) {
            (void)a[0].AsString();
            return TValue();
          },
          {pkValue});
  return true;
}();
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  std::string image;
  try {
    THalCompiler c(source, image);
    c.SetUnitLoader([](const std::string&, std::string& text) {
      text = "unit U; interface A; var A: integer; procedure Q; begin A := A + 1 end; initialization Q; end.";
      return true;
    });
    c.compile();
    TBinProg prog(image);
    if (!mayLoop(source)) {
      TStopFlag stop{'R'};
      prog.Run(stop, nullptr);
    }
  } catch (const EScriptError&) {
  }
  return 0;
}

// Fuzz target of the regular-expression compiler and matcher: every pattern compiles or fails with an
// error, every match ends (a step budget stands in for the script's stop request), and the start
// shortcuts never change a result: with them off every position is tried and the leftmost match and
// all its groups must come out the same.
//
// Input: byte 0 = flags (bit 0: ignore case), then the pattern up to the first zero byte, then the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scriptlib/Cmdregexp.h"

namespace {
// Asked every few thousand steps: a fixed number of questions keeps every run short and repeatable.
TRegAbortProbe StepBudget(int& asked) {
  return [&asked] { return ++asked > 64; };
}

bool Run(regexp& r, const std::string& text) {
  int asked = 0;
  return r.Execute(text.c_str(), text.size(), StepBudget(asked));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool ignoreCase = data[0] & 1;
  const char* rest = reinterpret_cast<const char*>(data + 1);
  const size_t restSize = size - 1;
  const char* zero = static_cast<const char*>(std::memchr(rest, 0, restSize));
  const std::string pattern(rest, zero ? zero - rest : restSize);
  const std::string text = zero ? std::string(zero + 1, rest + restSize) : std::string();

  regexp fast, plain;
  const bool compiled = fast.Compile(pattern.c_str(), ignoreCase);
  if (plain.Compile(pattern.c_str(), ignoreCase) != compiled) std::abort();
  if (!compiled) {
    if (fast.ErrorCode() == regNoError || fast.ErrorText().empty()) std::abort();  // a failure says why
    return 0;
  }
  plain.SetShortcuts(false);
  fast.SetBacktrackLimit(1 << 16);
  plain.SetBacktrackLimit(1 << 16);
  const bool a = Run(fast, text), b = Run(plain, text);
  const size_t end = std::min(text.find('\0'), text.size());  // the text ends at its first zero byte
  if (a) {
    for (int n = 0; n < REG_GROUP_SLOTS; ++n) {
      const int32_t s = fast.GroupStart(n), e = fast.GroupEnd(n);
      if ((s < 0) != (e < 0) || (s >= 0 && (s > e || static_cast<size_t>(e) > end))) std::abort();
    }
  }
  if (fast.ErrorCode() == regNoError && plain.ErrorCode() == regNoError) {
    if (a != b) std::abort();
    for (int n = 0; a && n < REG_GROUP_SLOTS; ++n)
      if (fast.GroupStart(n) != plain.GroupStart(n) || fast.GroupEnd(n) != plain.GroupEnd(n)) std::abort();
  }

  // The script's object: its own copy of the subject, group texts cut from it.
  Regexp script;
  if (!script.SetPattern(pattern.c_str(), ignoreCase)) std::abort();
  int asked = 0;
  if (script.Match(text, StepBudget(asked)))
    for (int n = 0; n <= script.NumSubStrings(); ++n)
      if (script.SubString(n).size() != static_cast<size_t>(std::max(0, script.SubLength(n)))) std::abort();
  return 0;
}

// The regular-expression matcher: walks the node program over the text from one start position.
// Choices (alternatives, repetition counts) and group writes go on a backtracking stack on the heap
// instead of the thread's stack, so that long texts and nested loops cannot overflow it; the stack
// has a limit, and a probe asked every few thousand steps can end the walk.
#pragma once

#include "scriptlib/Cmdregexp.h"
#include "scriptlib/RegProgram.h"

#include <cstdint>
#include <vector>

class CRegExecutor : public CRegErrorHandler {
 public:
  CRegExecutor(regexp& program, const unsigned char* text, int32_t length, const TRegAbortProbe& probe);
  // One try from position `at`; on success the input position is the end of the match.
  bool Try(int32_t at);
  int32_t Position() const { return m_input; }
  // Counts matching work; false (with regAborted) when the probe says stop. For scans outside a try.
  bool Charge(int64_t units) {
    Spend(units);
    return m_budget > 0 || !Interrupted();
  }

 private:
  enum TKind : uint32_t { kAlternative, kRepeat, kSaveStart, kSaveEnd };
  // Look-ahead of a repetition besides a character (0..255).
  static constexpr int kNoLookahead = -1;
  static constexpr int kAtEnd = 256;

  bool Push(TKind kind, int id, int32_t pos, int32_t count = 0);
  bool Test(uint8_t op, int node, int32_t& pos);
  static bool Advance(int32_t& pos) {
    ++pos;
    return true;
  }
  bool Resume(int& node, int32_t& pos);
  bool Interrupted();
  // Work inside a try; the next node asks the probe once the budget is used up.
  void Spend(int64_t units) { m_budget -= units; }
  bool Literal(int node, int32_t& pos) const;
  bool Repeat(int node, int32_t& pos);
  bool Group(uint8_t op, int32_t pos);
  int32_t Span(int node, int32_t pos);
  // The largest count from `count` down to `min` that the look-ahead allows, or -1.
  int32_t BackOff(int32_t base, int32_t count, int32_t min, int lookahead);
  int Lookahead(int node) const;
  const TRegCharSet* Set(int node);
  bool WordAt(int32_t pos) const;

  CRegProgramAccessor m_nodes;
  const regexp& m_regexp;
  const unsigned char* m_text;  // zero at m_length
  int32_t m_length;
  int32_t m_input = 0;
  int32_t* m_startp;
  int32_t* m_endp;
  CRegBacktrackStack& m_stack;
  size_t m_limit;
  const TRegAbortProbe& m_probe;
  int64_t m_budget;
};

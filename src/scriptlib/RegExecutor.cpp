// The regular-expression matcher: one try walks the nodes from the first one; a failed node resumes
// the latest choice on the backtracking stack, undoing group writes on the way.
#include "scriptlib/RegExecutor.h"

#include <cstring>

namespace {

// Matching work between two questions to the abort probe (a node is 1, a scanned character 1/16).
constexpr int64_t kProbeInterval = 1 << 14;

struct TWordTable {
  bool word[256] = {};
  TWordTable() {
    for (int c = 0; c < 256; ++c)
      word[c] = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  }
};
const TWordTable kWord;

}  // namespace

CRegExecutor::CRegExecutor(regexp& program, const unsigned char* text, int32_t length, const TRegAbortProbe& probe)
    : m_nodes(program.m_program.data(), program.m_size),
      m_regexp(program),
      m_text(text),
      m_length(length),
      m_startp(program.m_startp),
      m_endp(program.m_endp),
      m_stack(program.m_backtrack),
      m_limit(program.m_backtrackLimit),
      m_probe(probe),
      m_budget(kProbeInterval) {}

bool CRegExecutor::Interrupted() {
  m_budget = kProbeInterval;
  if (!m_probe || !m_probe()) return false;
  SetError(regAborted);
  return true;
}

bool CRegExecutor::Push(TKind kind, int id, int32_t pos, int32_t count) {
  if (m_stack.Push(TRegBacktrack{(static_cast<uint32_t>(kind) << 16) | static_cast<uint32_t>(id), pos, count}, m_limit))
    return true;
  SetError(regStackOverflow);
  return false;
}

bool CRegExecutor::Try(int32_t at) {
  m_stack.Clear(m_limit);
  int node = REG_FIRST_NODE;
  int32_t pos = at;
  for (;;) {
    if (--m_budget <= 0 && Interrupted()) return false;
    if (node == REG_NO_NODE) {
      SetError(regCorruptedPointers);
      return false;
    }
    const uint8_t op = m_nodes.Op(node);
    if (op == NodeEnd) {
      m_input = pos;
      return true;
    }
    if (op == NodeAlternative) {  // the later alternatives wait on the stack
      const int next = m_nodes.Next(node);
      if (next != REG_NO_NODE && m_nodes.Op(next) == NodeAlternative && !Push(kAlternative, next, pos)) return false;
      node = CRegProgramAccessor::Operand(node);
      continue;
    }
    const bool ok = Test(op, node, pos);
    if (ErrorCode() != regNoError) return false;
    if (ok)
      node = m_nodes.Next(node);
    else if (!Resume(node, pos))
      return false;
  }
}

// Whether the node matches at `pos`; advances `pos` past what it consumed.
bool CRegExecutor::Test(uint8_t op, int node, int32_t& pos) {
  switch (op) {
    case NodeLineStart:
      return pos == 0;
    case NodeLineEnd:
      return pos == m_length;
    case NodeAnyChar:
      return pos < m_length && Advance(pos);
    case NodeAnyOf:
    case NodeNoneOf: {
      const TRegCharSet* set = Set(node);
      return set && set->Has(m_text[pos]) && Advance(pos);
    }
    case NodeLiteral:
      return Literal(node, pos);
    case NodeEmpty:
    case NodeBack:
      return true;
    case NodeWordStart:
      return WordAt(pos) && (pos == 0 || !WordAt(pos - 1));
    case NodeWordEnd:  // a word must end here: one before, none at the position
      return !WordAt(pos) && pos > 0 && WordAt(pos - 1);
    case NodeRepeatStar:
    case NodeRepeatPlus:
      return Repeat(node, pos);
    default:
      if (IsGroupOpen(op) || IsGroupClose(op)) return Group(op, pos);
      SetError(regCorruptedNode);
      return false;
  }
}

// Pops until a choice can be taken up again; false when none is left.
bool CRegExecutor::Resume(int& node, int32_t& pos) {
  while (!m_stack.Empty()) {
    const TRegBacktrack e = m_stack.Pop();
    const int id = static_cast<int>(e.what & 0xFFFF);
    switch (static_cast<TKind>(e.what >> 16)) {
      case kSaveStart:
        m_startp[id] = e.pos;
        continue;
      case kSaveEnd:
        m_endp[id] = e.pos;
        continue;
      case kAlternative: {
        int next = m_nodes.Next(id);
        if (next != REG_NO_NODE && m_nodes.Op(next) == NodeAlternative) Push(kAlternative, next, e.pos);
        node = CRegProgramAccessor::Operand(id);
        pos = e.pos;
        return true;
      }
      case kRepeat: {
        const int32_t min = m_nodes.Op(id) == NodeRepeatPlus ? 1 : 0;
        int32_t k = BackOff(e.pos, e.count - 1, min, Lookahead(id));
        if (k < 0) continue;
        if (k > min) Push(kRepeat, id, e.pos, k);
        node = m_nodes.Next(id);
        pos = e.pos + k;
        return true;
      }
    }
  }
  return false;
}

bool CRegExecutor::Literal(int node, int32_t& pos) const {
  const unsigned char* o = m_nodes.OperandText(node);
  const unsigned char* t = m_text + pos;
  if (*o != *t) return *o == 0;
  while (*o != 0 && *o == *t) ++o, ++t;
  if (*o != 0) return false;
  pos = static_cast<int32_t>(t - m_text);
  return true;
}

// Counts the span the operand matches, then takes the longest count that the next literal's first
// character allows; shorter counts are left on the stack.
bool CRegExecutor::Repeat(int node, int32_t& pos) {
  const int32_t count = Span(node, pos);
  if (count < 0) return false;
  const int32_t min = m_nodes.Op(node) == NodeRepeatPlus ? 1 : 0;
  const int lookahead = Lookahead(node);
  const int32_t k = BackOff(pos, count, min, lookahead);
  if (k < 0) return false;
  // Shorter counts are needed only if what follows can fail and could succeed after one of them.
  const int next = m_nodes.Next(node);
  const bool last = next != REG_NO_NODE && m_nodes.Op(next) == NodeEnd;
  if (k > min && !last && lookahead != kAtEnd && !Push(kRepeat, node, pos, k)) return false;
  pos += k;
  return true;
}

bool CRegExecutor::Group(uint8_t op, int32_t pos) {
  const bool open = IsGroupOpen(op);
  const int n = open ? op - NodeGroupOpen : op - NodeGroupClose;
  int32_t* slot = open ? &m_startp[n] : &m_endp[n];
  if (!Push(open ? kSaveStart : kSaveEnd, n, *slot)) return false;
  *slot = pos;
  return true;
}

int32_t CRegExecutor::Span(int node, int32_t pos) {
  const int operand = CRegProgramAccessor::Operand(node);
  const unsigned char* p = m_text + pos;
  switch (m_nodes.Op(operand)) {
    case NodeAnyChar:
      Spend((m_length - pos) >> 4);
      return m_length - pos;
    case NodeAnyOf:
    case NodeNoneOf: {
      const TRegCharSet* set = Set(operand);
      if (!set) return -1;
      while (set->Has(*p)) ++p;
      break;
    }
    case NodeLiteral: {
      const unsigned char c = *m_nodes.OperandText(operand);
      if (c != 0)
        while (*p == c) ++p;
      break;
    }
    default:
      SetError(regBadRepeat);
      return -1;
  }
  const auto count = static_cast<int32_t>(p - (m_text + pos));
  Spend(count >> 4);
  return count;
}

// The largest count from `count` down to `min` after which the look-ahead character stands.
int32_t CRegExecutor::BackOff(int32_t base, int32_t count, int32_t min, int lookahead) {
  if (count < min) return -1;
  if (lookahead == kNoLookahead) return count;
  if (lookahead == kAtEnd) return base + count == m_length ? count : -1;
  const unsigned char* from = m_text + base + min;
  const size_t n = static_cast<size_t>(count - min) + 1;
  const void* hit = memrchr(from, lookahead, n);
  if (!hit) return -1;
  const auto k = static_cast<int32_t>(static_cast<const unsigned char*>(hit) - (m_text + base));
  Spend((count - k) >> 4);
  return k;
}

// What must follow the repetition: a literal's first character, the end of the text, or anything.
int CRegExecutor::Lookahead(int node) const {
  const int next = m_nodes.Next(node);
  if (next == REG_NO_NODE) return kNoLookahead;
  if (m_nodes.Op(next) == NodeLineEnd) return kAtEnd;
  if (m_nodes.Op(next) != NodeLiteral) return kNoLookahead;
  const unsigned char c = *m_nodes.OperandText(next);
  return c != 0 ? c : kNoLookahead;
}

const TRegCharSet* CRegExecutor::Set(int node) {
  const TRegCharSet* set = m_regexp.NodeSet(node);
  if (!set) SetError(regCorruptedNode);
  return set;
}

bool CRegExecutor::WordAt(int32_t pos) const { return kWord.word[m_text[pos]]; }

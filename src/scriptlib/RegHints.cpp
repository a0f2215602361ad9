// What the compiler works out once so that the matcher can skip start positions and test brackets
// quickly: the first-character hint, the anchored flag, the required literal, the literal every match
// starts with, the set of characters a match can start with, and a character set per bracket node.
#include "scriptlib/Cmdregexp.h"
#include "scriptlib/RegCompiler.h"
#include "scriptlib/RegProgram.h"

#include <algorithm>
#include <cstring>

namespace {

int OperandLength(const CRegProgramAccessor& nodes, int node) {
  return static_cast<int>(std::strlen(reinterpret_cast<const char*>(nodes.OperandText(node))));
}

void AddAllButZero(TRegCharSet& set) {
  for (int c = 1; c < 256; ++c) set.Add(static_cast<unsigned char>(c));
}

}  // namespace

int TRegCharSet::Count() const {
  int n = 0;
  for (uint64_t w : bits) n += __builtin_popcountll(w);
  return n;
}

const TRegCharSet* regexp::NodeSet(int node) const {
  if (node < 0 || node >= static_cast<int>(m_setOf.size()) || m_setOf[node] < 0) return nullptr;
  return &m_sets[m_setOf[node]];
}

// Hints from the first top-level alternative when it is the only one.
void regexp::ComputeHints(int flags) {
  CRegProgramAccessor nodes(m_program.data(), m_size);
  m_firstChar = 0;
  m_anchored = 0;
  m_must = -1;
  m_mustLength = 0;
  m_prefix = -1;
  m_prefixLength = 0;
  ComputeNodeSets();
  ComputeFirstSet();
  const int next = nodes.Next(REG_FIRST_NODE);
  if (next == REG_NO_NODE || nodes.Op(next) != NodeEnd) return;
  const int first = CRegProgramAccessor::Operand(REG_FIRST_NODE);
  if (nodes.Op(first) == NodeLiteral) {
    m_firstChar = *nodes.OperandText(first);
    m_prefix = CRegProgramAccessor::Operand(first);
    m_prefixLength = OperandLength(nodes, first);
  } else if (nodes.Op(first) == NodeLineStart) {
    m_anchored = 1;
  }
  if (!(flags & regSpStart)) return;
  // The top-level chain only runs forward; the check keeps a damaged program from looping.
  for (int n = first; n != REG_NO_NODE; n = nodes.Next(n) > n ? nodes.Next(n) : REG_NO_NODE) {
    if (nodes.Op(n) != NodeLiteral) continue;
    const int length = OperandLength(nodes, n);
    if (length >= m_mustLength) {
      m_must = CRegProgramAccessor::Operand(n);
      m_mustLength = length;
    }
  }
}

// One 256-bit set per any-of and none-of node; neither ever holds the terminating zero.
void regexp::ComputeNodeSets() {
  CRegProgramAccessor nodes(m_program.data(), m_size);
  m_sets.clear();
  m_groupCount = 0;
  m_setOf.assign(static_cast<size_t>(m_size), -1);
  for (int n = REG_FIRST_NODE; n + REG_NODE_SIZE <= m_size; n = nodes.Following(n)) {
    const uint8_t op = nodes.Op(n);
    if (IsGroupOpen(op)) m_groupCount = std::max<int32_t>(m_groupCount, op - NodeGroupOpen);
    if (op != NodeAnyOf && op != NodeNoneOf) continue;
    TRegCharSet members;
    for (const unsigned char* c = nodes.OperandText(n); *c != 0; ++c) members.Add(*c);
    TRegCharSet set;
    if (op == NodeNoneOf) AddAllButZero(set);
    for (int i = 0; i < 4; ++i) set.bits[i] = op == NodeAnyOf ? members.bits[i] : set.bits[i] & ~members.bits[i];
    m_setOf[n] = static_cast<int16_t>(m_sets.size());
    m_sets.push_back(set);
  }
}

// The characters a match can start with, from every node reachable before the first character is
// consumed. Position 0 is always tried, so "^" adds nothing; "$" adds the terminating zero; reaching
// the end (a match that can be empty) means every position is a candidate.
void regexp::ComputeFirstSet() {
  CRegProgramAccessor nodes(m_program.data(), m_size);
  m_first = TRegCharSet();
  m_firstAll = false;
  m_firstAtStart = false;
  m_digrams.clear();
  bool literalsOnly = true;  // every first character comes from a literal of two or more
  std::vector<int> literals;
  std::vector<int> work{REG_FIRST_NODE};
  std::vector<bool> seen(static_cast<size_t>(m_size), false);
  while (!work.empty() && !m_firstAll) {
    const int n = work.back();
    work.pop_back();
    if (n == REG_NO_NODE) {
      m_firstAll = true;
      break;
    }
    if (seen[n]) continue;
    seen[n] = true;
    const uint8_t op = nodes.Op(n);
    if (op == NodeLiteral && nodes.OperandText(n)[0] != 0 && nodes.OperandText(n)[1] != 0)
      literals.push_back(n);
    else if (op != NodeLineStart && op != NodeAlternative && op != NodeEmpty && op != NodeBack && op != NodeWordStart &&
             op != NodeWordEnd && !IsGroupOpen(op) && !IsGroupClose(op))
      literalsOnly = false;
    switch (op) {
      case NodeEnd:
        m_firstAll = true;
        break;
      case NodeLineStart:
        m_firstAtStart = true;
        break;
      case NodeLineEnd:
        m_first.Add(0);
        break;
      case NodeAnyChar:
        AddAllButZero(m_first);
        break;
      case NodeAnyOf:
      case NodeNoneOf:
        for (int i = 0; i < 4; ++i) m_first.bits[i] |= NodeSet(n)->bits[i];
        break;
      case NodeLiteral:
        m_first.Add(*nodes.OperandText(n));
        break;
      case NodeAlternative: {
        work.push_back(CRegProgramAccessor::Operand(n));
        const int next = nodes.Next(n);
        if (next != REG_NO_NODE && nodes.Op(next) == NodeAlternative) work.push_back(next);
        break;
      }
      case NodeRepeatStar:
      case NodeRepeatPlus:
        work.push_back(CRegProgramAccessor::Operand(n));
        if (op == NodeRepeatStar) work.push_back(nodes.Next(n));
        break;
      default:  // no-ops, word edges and groups consume nothing
        work.push_back(nodes.Next(n));
        break;
    }
  }
  if (m_first.Count() >= 255) m_firstAll = true;
  for (int c = 0; c < 256; ++c) m_firstTable[c] = m_first.Has(static_cast<unsigned char>(c));
  if (literalsOnly && !m_firstAll && !literals.empty()) {
    m_digrams.assign(65536 / 64, 0);
    for (int n : literals) {
      const unsigned char* t = nodes.OperandText(n);
      const unsigned pair = t[0] * 256u + t[1];
      m_digrams[pair >> 6] |= uint64_t(1) << (pair & 63);
    }
  }
  m_firstSingle = -1;
  if (!m_firstAll && m_first.Count() == 1 && !m_first.Has(0))
    for (int c = 1; c < 256; ++c)
      if (m_first.Has(static_cast<unsigned char>(c))) m_firstSingle = c;
}

// The next position from `from` on where a match may start, or -1.
int32_t regexp::NextCandidate(const unsigned char* text, int32_t length, int32_t from) const {
  if (from > length) return -1;
  const auto rest = static_cast<size_t>(length - from);
  const void* hit;
  if (m_prefixLength == 1) {
    hit = std::memchr(text + from, m_program[m_prefix], rest);
  } else if (m_prefix >= 0) {
    hit = memmem(text + from, rest, m_program.data() + m_prefix, static_cast<size_t>(m_prefixLength));
  } else if (m_firstAll) {
    return from;
  } else if (m_firstSingle > 0) {
    for (hit = std::memchr(text + from, m_firstSingle, rest); hit && !Digram(static_cast<const unsigned char*>(hit));)
      hit = std::memchr(static_cast<const unsigned char*>(hit) + 1, m_firstSingle,
                        static_cast<size_t>(text + length - static_cast<const unsigned char*>(hit) - 1));
  } else {
    const bool* first = m_firstTable.data();
    for (int32_t p = from; p < length; ++p)
      if (first[text[p]] && Digram(text + p)) return p;
    return first[0] ? length : -1;
  }
  return hit ? static_cast<int32_t>(static_cast<const unsigned char*>(hit) - text) : -1;
}

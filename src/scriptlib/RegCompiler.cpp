// The regular-expression parser (expression, branch, piece, atom) and the emit operations of its
// sizing and emitting passes; also the ignore-case rewrite of a pattern.
#include "scriptlib/RegCompiler.h"

#include "scriptlib/RegProgram.h"

#include <cstring>

namespace {

bool IsRepeatOp(char c) { return c == '*' || c == '+' || c == '?'; }

// Characters that end a literal run (after its first character).
bool EndsRun(char c) { return c != '\0' && std::strchr("\n$().[^|", c) != nullptr; }

bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

void AppendFolded(std::string& out, unsigned char c) {
  out += '[';
  out += static_cast<char>(c & ~0x20);
  out += static_cast<char>(c | 0x20);
  out += ']';
}

}  // namespace

bool CRegCompilerBase::Parse(int& flags) {
  m_pos = 0;
  m_groups = 1;
  return Expression(false, flags) != REG_FAIL;
}

int CRegCompilerBase::Fail(int code) {
  SetError(code);
  return REG_FAIL;
}

// Top level or a parenthesised group: branches separated by "|", all joined at the group's close
// (or at the program's end).
int CRegCompilerBase::Expression(bool paren, int& flags) {
  flags = regHasWidth;
  int ret = REG_FAIL;
  int group = 0;
  if (paren) {
    if (m_groups > REG_MAX_GROUPS) return Fail(regTooManyGroups);
    group = m_groups++;
    ret = EmitNode(static_cast<uint8_t>(NodeGroupOpen + group));
  }
  std::vector<int> branches;
  do {
    if (!branches.empty()) ++m_pos;  // the "|"
    int branchFlags = 0;
    int br = Branch(branchFlags);
    if (br == REG_FAIL) return REG_FAIL;
    if (ret == REG_FAIL)
      ret = br;
    else
      LinkTail(ret, br);
    branches.push_back(br);
    if (!(branchFlags & regHasWidth)) flags &= ~regHasWidth;
    flags |= branchFlags & regSpStart;
  } while (Peek() == '|');

  int ender = EmitNode(paren ? static_cast<uint8_t>(NodeGroupClose + group) : static_cast<uint8_t>(NodeEnd));
  LinkTail(ret, ender);
  for (int br : branches) LinkOperandTail(br, ender);

  if (paren) {
    if (Peek() != ')') return Fail(regUnterminatedGroup);
    ++m_pos;
  } else if (Peek() != '\0') {
    return Fail(Peek() == ')' ? regUnmatchedGroup : regJunkOnEnd);
  }
  return ret;
}

// One alternative: an alternative node whose operand is the chain of its pieces.
int CRegCompilerBase::Branch(int& flags) {
  flags = regWorst;
  int ret = EmitNode(NodeAlternative);
  int chain = REG_FAIL;
  while (Peek() != '\0' && Peek() != '|' && Peek() != ')') {
    int pieceFlags = 0;
    int latest = Piece(pieceFlags);
    if (latest == REG_FAIL) return REG_FAIL;
    flags |= pieceFlags & regHasWidth;
    if (chain == REG_FAIL)
      flags |= pieceFlags & regSpStart;
    else
      LinkTail(chain, latest);
    chain = latest;
  }
  if (chain == REG_FAIL) EmitNode(NodeEmpty);
  return ret;
}

// An atom with an optional "*", "+" or "?".
int CRegCompilerBase::Piece(int& flags) {
  int atomFlags = 0;
  int ret = Atom(atomFlags);
  if (ret == REG_FAIL) return REG_FAIL;
  char op = Peek();
  if (!IsRepeatOp(op)) {
    flags = atomFlags;
    return ret;
  }
  if (!(atomFlags & regHasWidth) && op != '?') return Fail(regEmptyOperand);
  flags = op != '+' ? (regWorst | regSpStart) : (regWorst | regHasWidth);
  if (op == '*' && (atomFlags & regSimple))
    InsertNode(NodeRepeatStar, ret);
  else if (op == '+' && (atomFlags & regSimple))
    InsertNode(NodeRepeatPlus, ret);
  else
    Loop(static_cast<uint8_t>(op), ret);
  ++m_pos;
  if (IsRepeatOp(Peek())) return Fail(regNestedRepeat);
  return ret;
}

// Repetition of an atom that is not a single character, built from alternatives and a back link.
void CRegCompilerBase::Loop(uint8_t op, int atom) {
  if (op == '*') {  // x* as (x&|): x then back to the choice, or nothing
    InsertNode(NodeAlternative, atom);
    LinkOperandTail(atom, EmitNode(NodeBack));
    LinkOperandTail(atom, atom);
    LinkTail(atom, EmitNode(NodeAlternative));
    LinkTail(atom, EmitNode(NodeEmpty));
  } else if (op == '+') {  // x+ as x(&|): x, then back to x, or leave
    int next = EmitNode(NodeAlternative);
    LinkTail(atom, next);
    LinkTail(EmitNode(NodeBack), atom);
    LinkTail(next, EmitNode(NodeAlternative));
    LinkTail(atom, EmitNode(NodeEmpty));
  } else {  // x? as (x|)
    InsertNode(NodeAlternative, atom);
    LinkTail(atom, EmitNode(NodeAlternative));
    int next = EmitNode(NodeEmpty);
    LinkTail(atom, next);
    LinkOperandTail(atom, next);
  }
}

int CRegCompilerBase::Atom(int& flags) {
  flags = regWorst;
  switch (Peek()) {
    case '^':
      ++m_pos;
      return EmitNode(NodeLineStart);
    case '$':
      ++m_pos;
      return EmitNode(NodeLineEnd);
    case '.':
      ++m_pos;
      flags |= regHasWidth | regSimple;
      return EmitNode(NodeAnyChar);
    case '[':
      ++m_pos;
      return Bracket(flags);
    case '(': {
      ++m_pos;
      int groupFlags = 0;
      int ret = Expression(true, groupFlags);
      if (ret == REG_FAIL) return REG_FAIL;
      flags |= groupFlags & (regHasWidth | regSpStart);
      return ret;
    }
    case '\0':
    case '|':
    case ')':
      return Fail(regUnexpectedEnd);
    case '?':
    case '+':
    case '*':
      return Fail(regFollowsNothing);
    case '\\':
      if (Peek(1) == '\0') return Fail(regTrailingBackslash);
      if (Peek(1) == '<' || Peek(1) == '>') {
        m_pos += 2;
        return EmitNode(Peek(-1) == '<' ? NodeWordStart : NodeWordEnd);
      }
      return LiteralRun(flags);
    default:
      return LiteralRun(flags);
  }
}

// "[" already read: the member string of an any-of or none-of node.
int CRegCompilerBase::Bracket(int& flags) {
  int ret;
  if (Peek() == '^') {
    ret = EmitNode(NodeNoneOf);
    ++m_pos;
  } else {
    ret = EmitNode(NodeAnyOf);
  }
  if (Peek() == ']' || Peek() == '-') EmitByte(static_cast<uint8_t>(m_pattern[m_pos++]));
  while (Peek() != '\0' && Peek() != ']') {
    if (Peek() != '-') {
      EmitByte(static_cast<uint8_t>(m_pattern[m_pos++]));
      continue;
    }
    ++m_pos;
    if (Peek() == ']' || Peek() == '\0') {
      EmitByte('-');
      continue;
    }
    // The character before "-" is a member already; add the rest of the range (8-bit, unsigned).
    int from = static_cast<unsigned char>(m_pattern[m_pos - 2]) + 1;
    int to = static_cast<unsigned char>(Peek());
    if (from > to + 1) return Fail(regBadRange);
    for (int c = from; c <= to; ++c) EmitByte(static_cast<uint8_t>(c));
    ++m_pos;
  }
  EmitByte(0);
  if (Peek() != ']') return Fail(regUnmatchedBracket);
  ++m_pos;
  flags |= regHasWidth | regSimple;
  return ret;
}

// A run of literal characters. When an operator follows a character, the run ends before it so that
// the operator applies to that character alone (or the run is that one character).
int CRegCompilerBase::LiteralRun(int& flags) {
  int ret = EmitNode(NodeLiteral);
  int count = 0;
  for (char c = Peek(); c != '\0'; c = Peek()) {
    if (count > 0 && EndsRun(c)) break;
    int width = 1;
    char ch = c;
    if (c == '\\') {
      char escaped = Peek(1);
      if (escaped == '\0' || escaped == '<' || escaped == '>') break;
      width = 2;
      ch = escaped;
    }
    bool repeated = IsRepeatOp(Peek(width));
    if (repeated && count > 0) break;
    EmitByte(static_cast<uint8_t>(ch));
    m_pos += width;
    ++count;
    if (repeated) break;
  }
  if (count == 0) return Fail(regStrcspn);
  EmitByte(0);
  flags |= regHasWidth;
  if (count == 1) flags |= regSimple;
  return ret;
}

// ---- Sizing pass ----------------------------------------------------------------------------

namespace {
CRegValidator& Sizing(CRegCompilerBase& self) { return static_cast<CRegValidator&>(self); }
}  // namespace

const CRegCompilerBase::TEmitOps CRegValidator::kOps = {
    [](CRegCompilerBase& self, uint8_t) { Sizing(self).m_size += 1; },
    [](CRegCompilerBase& self, uint8_t) {
      Sizing(self).m_size += REG_NODE_SIZE;
      return 0;
    },
    [](CRegCompilerBase& self, uint8_t, int) { Sizing(self).m_size += REG_NODE_SIZE; },
    [](CRegCompilerBase&, int, int) {},
    [](CRegCompilerBase&, int, int) {},
};

CRegValidator::CRegValidator(const char* pattern) : CRegCompilerBase(pattern, kOps) {}

// ---- Emitting pass --------------------------------------------------------------------------
// Both passes make the same calls, so the buffer always has room; the checks only keep a damaged
// size from writing past it.

const CRegCompilerBase::TEmitOps CRegCompiler::kOps = {EmitByteOp, EmitNodeOp, InsertNodeOp, LinkTailOp,
                                                       LinkOperandTailOp};

CRegCompiler::CRegCompiler(const char* pattern, uint8_t* program, int size)
    : CRegCompilerBase(pattern, kOps), m_program(program), m_size(size) {
  if (Room(1)) m_program[m_used++] = REG_MAGIC;
}

void CRegCompiler::EmitByteOp(CRegCompilerBase& base, uint8_t b) {
  auto& self = static_cast<CRegCompiler&>(base);
  if (self.Room(1)) self.m_program[self.m_used++] = b;
}

int CRegCompiler::EmitNodeOp(CRegCompilerBase& base, uint8_t op) {
  auto& self = static_cast<CRegCompiler&>(base);
  int at = self.m_used;
  if (!self.Room(REG_NODE_SIZE)) return at;
  self.m_program[at] = op;
  self.m_program[at + 1] = 0;
  self.m_program[at + 2] = 0;
  self.m_used += REG_NODE_SIZE;
  return at;
}

// Moves the operand (and everything after it) up by one node and puts the new node in its place.
void CRegCompiler::InsertNodeOp(CRegCompilerBase& base, uint8_t op, int operand) {
  auto& self = static_cast<CRegCompiler&>(base);
  if (!self.Room(REG_NODE_SIZE) || operand < REG_FIRST_NODE || operand > self.m_used) return;
  uint8_t* at = self.m_program + operand;
  std::memmove(at + REG_NODE_SIZE, at, static_cast<size_t>(self.m_used - operand));
  at[0] = op;
  at[1] = 0;
  at[2] = 0;
  self.m_used += REG_NODE_SIZE;
}

void CRegCompiler::LinkTailOp(CRegCompilerBase& base, int chain, int target) {
  auto& self = static_cast<CRegCompiler&>(base);
  CRegProgramAccessor nodes(self.m_program, self.m_used);
  int scan = chain;
  for (int next = nodes.Next(scan); next != REG_NO_NODE; next = nodes.Next(scan)) scan = next;
  auto distance = static_cast<int16_t>(nodes.Op(scan) == NodeBack ? scan - target : target - scan);
  std::memcpy(self.m_program + scan + 1, &distance, sizeof distance);
}

void CRegCompiler::LinkOperandTailOp(CRegCompilerBase& base, int branch, int target) {
  auto& self = static_cast<CRegCompiler&>(base);
  if (self.m_program[branch] != NodeAlternative) return;
  LinkTailOp(base, CRegProgramAccessor::Operand(branch), target);
}

// ---- Ignore case ----------------------------------------------------------------------------
// Brackets are tracked the way the parser reads them: a "]" right after "[" or "[^" is a member,
// and an escaped "[" opens nothing. An escaped letter is folded like any other letter.
std::string RegFoldCase(const char* pattern) {
  std::string out;
  bool inBracket = false;
  for (size_t i = 0; pattern[i] != '\0'; ++i) {
    auto c = static_cast<unsigned char>(pattern[i]);
    if (inBracket) {
      if (c == ']') inBracket = false;
      out += static_cast<char>(c);
    } else if (c == '[') {
      inBracket = true;
      out += '[';
      if (pattern[i + 1] == '^') out += pattern[++i];
      if (pattern[i + 1] == ']') out += pattern[++i];
    } else if (c == '\\' && pattern[i + 1] != '\0') {
      auto escaped = static_cast<unsigned char>(pattern[++i]);
      if (IsAsciiLetter(escaped)) {
        AppendFolded(out, escaped);
      } else {
        out += '\\';
        out += static_cast<char>(escaped);
      }
    } else if (IsAsciiLetter(c)) {
      AppendFolded(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

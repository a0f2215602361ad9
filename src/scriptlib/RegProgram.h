// The regular-expression node program: header byte, node operations and layout, and read access
// to nodes. Shared by the compiler, the hint computation and the matcher.
#pragma once

#include <cstdint>
#include <cstring>

// Node operations (unsigned bytes).
enum TRegNodeOp : uint8_t {
  NodeEnd = 0,           // end of program: match succeeds
  NodeLineStart = 1,     // only at the start of the text
  NodeLineEnd = 2,       // only at the terminating zero
  NodeAnyChar = 3,       // any one character but the terminating zero
  NodeAnyOf = 4,         // one character of the operand string
  NodeNoneOf = 5,        // one character not in the operand string (not the terminating zero)
  NodeAlternative = 6,   // operand: the alternative's chain; successor: the next alternative or the join
  NodeBack = 7,          // no-op whose successor lies before it (closes loops)
  NodeLiteral = 8,       // the operand string, character for character
  NodeEmpty = 9,         // no-op (empty match, join point)
  NodeRepeatStar = 10,   // single-character operand, 0 or more times, greedy
  NodeRepeatPlus = 11,   // single-character operand, 1 or more times, greedy
  NodeWordStart = 12,    // start of a word
  NodeWordEnd = 13,      // end of a word
  NodeGroupOpen = 50,    // + n: start of group n (1..49)
  NodeGroupClose = 100,  // + n: end of group n (1..49)
};

constexpr uint8_t REG_MAGIC = 0x9C;
constexpr int REG_NODE_SIZE = 3;  // operation and 16-bit successor distance
constexpr int REG_FIRST_NODE = 1;
constexpr int REG_NO_NODE = -1;

inline bool IsGroupOpen(uint8_t op) { return op > NodeGroupOpen && op < NodeGroupOpen + 50; }
inline bool IsGroupClose(uint8_t op) { return op > NodeGroupClose && op < NodeGroupClose + 50; }
inline bool HasStringOperand(uint8_t op) { return op == NodeLiteral || op == NodeAnyOf || op == NodeNoneOf; }

// Read access to the nodes of a program of `size` bytes; successors outside the program read as none.
class CRegProgramAccessor {
 public:
  CRegProgramAccessor(const uint8_t* program, int size) : m_program(program), m_size(size) {}
  uint8_t Op(int node) const { return m_program[node]; }
  int Next(int node) const {
    int16_t d;
    std::memcpy(&d, m_program + node + 1, sizeof d);
    if (d == 0) return REG_NO_NODE;
    int n = Op(node) == NodeBack ? node - d : node + d;
    return (n >= REG_FIRST_NODE && n + REG_NODE_SIZE <= m_size) ? n : REG_NO_NODE;
  }
  static int Operand(int node) { return node + REG_NODE_SIZE; }
  const unsigned char* OperandText(int node) const { return m_program + node + REG_NODE_SIZE; }
  // The node after this one in memory (not its successor): for walking every node in order.
  int Following(int node) const {
    int at = node + REG_NODE_SIZE;
    if (HasStringOperand(Op(node)))
      at += static_cast<int>(std::strlen(reinterpret_cast<const char*>(m_program + at))) + 1;
    return at;
  }
  int Size() const { return m_size; }

 private:
  const uint8_t* m_program;
  int m_size;
};

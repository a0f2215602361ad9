// The regular-expression parser and its two passes: the sizing pass counts the program's bytes, the
// emitting pass writes them into a buffer of exactly that size. Both share one parser through a table
// of five emit operations, so that they cannot disagree about the layout.
#pragma once

#include "scriptlib/Cmdregexp.h"

#include <cstdint>
#include <string>
#include <vector>

// Flags each parse step returns.
enum TRegParseFlags : int {
  regWorst = 0,
  regHasWidth = 1,  // cannot match the empty string
  regSimple = 2,    // matches exactly one character
  regSpStart = 4    // may start with a repeated piece
};

constexpr int REG_FAIL = -1;  // what a parse step returns after setting an error

class CRegCompilerBase : public CRegErrorHandler {
 public:
  struct TEmitOps {
    void (*emitByte)(CRegCompilerBase& self, uint8_t b);
    int (*emitNode)(CRegCompilerBase& self, uint8_t op);  // returns the node's position
    void (*insertNode)(CRegCompilerBase& self, uint8_t op, int operand);
    void (*linkTail)(CRegCompilerBase& self, int chain, int target);
    void (*linkOperandTail)(CRegCompilerBase& self, int branch, int target);
  };

  // Parses the whole pattern; false with the error set. `flags` are the top level's flags.
  bool Parse(int& flags);

 protected:
  CRegCompilerBase(const char* pattern, const TEmitOps& ops) : m_pattern(pattern), m_ops(ops) {}

 private:
  int Expression(bool paren, int& flags);
  int Branch(int& flags);
  int Piece(int& flags);
  void Loop(uint8_t op, int atom);
  int Atom(int& flags);
  int Bracket(int& flags);
  int LiteralRun(int& flags);
  int Fail(int code);
  char Peek(int ahead = 0) const { return m_pattern[m_pos + ahead]; }

  void EmitByte(uint8_t b) { m_ops.emitByte(*this, b); }
  int EmitNode(uint8_t op) { return m_ops.emitNode(*this, op); }
  void InsertNode(uint8_t op, int operand) { m_ops.insertNode(*this, op, operand); }
  void LinkTail(int chain, int target) { m_ops.linkTail(*this, chain, target); }
  void LinkOperandTail(int branch, int target) { m_ops.linkOperandTail(*this, branch, target); }

  const char* m_pattern;
  int m_pos = 0;
  int m_groups = 1;  // the number the next group gets
  const TEmitOps& m_ops;
};

// Sizing pass: counts 1 per byte and 3 per node, starting with the header byte.
class CRegValidator : public CRegCompilerBase {
 public:
  explicit CRegValidator(const char* pattern);
  int64_t Size() const { return m_size; }

 private:
  static const TEmitOps kOps;
  int64_t m_size = 1;
};

// Emitting pass: writes the header and the nodes into `program` (exactly the counted size).
class CRegCompiler : public CRegCompilerBase {
 public:
  CRegCompiler(const char* pattern, uint8_t* program, int size);

 private:
  static const TEmitOps kOps;
  static void EmitByteOp(CRegCompilerBase& self, uint8_t b);
  static int EmitNodeOp(CRegCompilerBase& self, uint8_t op);
  static void InsertNodeOp(CRegCompilerBase& self, uint8_t op, int operand);
  static void LinkTailOp(CRegCompilerBase& self, int chain, int target);
  static void LinkOperandTailOp(CRegCompilerBase& self, int branch, int target);
  bool Room(int bytes) const { return m_used + bytes <= m_size; }

  uint8_t* m_program;
  int m_size;
  int m_used = 0;
};

// Ignore case: every letter outside a bracket expression becomes "[Xx]"; brackets keep theirs.
std::string RegFoldCase(const char* pattern);

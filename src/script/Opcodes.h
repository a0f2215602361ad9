// The interpreter's instruction set in one table: it drives the op-code enum, the run loop's dispatch,
// the names in listings, the operand words that follow an instruction and the operand checks at load.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// What an instruction field holds; the loader checks Slot, Label and Const fields before a run.
enum class THalField : uint8_t {
  None,   // unused (0 by convention)
  Slot,   // slot number
  Label,  // label number
  Const,  // constant index
  Imm,    // immediate number, meaning given by the op
  Host,   // host routine number (index in the registration table)
  Args    // next: one argument word per three parameters of host routine b (op, a, b hold slots)
};

// Instructions of a program image: X(name, code, a, b, next).
// The codes are the image format: the compiler writes them, so they never change.
// "next" is the operand word that follows (None: none; Slot: one word whose a is a slot).
// s[i] is slot i, k[i] constant i, L[i] the place of label i.
// clang-format off
#define HAL_IMAGE_OPS(X) \
  X(Add,          0, Slot,  Slot,  None)  /* s[a] := s[a] + s[b] */ \
  X(Sub,          1, Slot,  Slot,  None)  /* s[a] := s[a] - s[b] */ \
  X(Mul,          2, Slot,  Slot,  None)  /* s[a] := s[a] * s[b] */ \
  X(IntDiv,       3, Slot,  Slot,  None)  /* s[a] := s[a] div s[b] */ \
  X(Mod,          4, Slot,  Slot,  None)  /* s[a] := s[a] mod s[b] */ \
  X(Div,          5, Slot,  Slot,  None)  /* s[a] := s[a] / s[b] (real division) */ \
  X(Shl,          6, Slot,  Slot,  None)  /* s[a] := s[a] shl s[b] */ \
  X(Shr,          7, Slot,  Slot,  None)  /* s[a] := s[a] shr s[b] */ \
  X(Not,          8, Slot,  None,  None)  /* s[a] := not s[a] */ \
  X(Or,           9, Slot,  Slot,  None)  /* s[a] := s[a] or s[b] */ \
  X(Xor,         10, Slot,  Slot,  None)  /* s[a] := s[a] xor s[b] */ \
  X(And,         11, Slot,  Slot,  None)  /* s[a] := s[a] and s[b] */ \
  X(Ge,          12, Slot,  Slot,  None)  /* s[a] := s[a] >= s[b] */ \
  X(Eq,          13, Slot,  Slot,  None)  /* s[a] := s[a] = s[b] */ \
  X(Le,          14, Slot,  Slot,  None)  /* s[a] := s[a] <= s[b] */ \
  X(Ne,          15, Slot,  Slot,  None)  /* s[a] := s[a] <> s[b] */ \
  X(Gt,          16, Slot,  Slot,  None)  /* s[a] := s[a] > s[b] */ \
  X(Lt,          17, Slot,  Slot,  None)  /* s[a] := s[a] < s[b] */ \
  X(Neg,         18, Slot,  None,  None)  /* s[a] := -s[a] */ \
  X(Jump,        19, Label, None,  None)  /* pc := L[a] */ \
  X(JumpFalse,   20, Slot,  Label, None)  /* if s[a] is false (0, 0.0, False): pc := L[b] */ \
  X(LoadConst,   23, Slot,  Const, None)  /* s[a] := k[b] */ \
  X(Stop,        26, None,  None,  None)  /* end the run */ \
  X(Inc,         29, Slot,  None,  None)  /* s[a] := s[a] + 1 */ \
  X(Dec,         30, Slot,  None,  None)  /* s[a] := s[a] - 1 */ \
  X(CallHost,    42, Slot,  Host,  Args)  /* s[a] := host routine b (arguments from the words that follow) */ \
  X(SetSelf,     44, Imm,   None,  None)  /* self := the object handle a */ \
  X(LoadExt,     45, Imm,   Imm,   Slot)  /* s[next.a] := external variable a of provider b */ \
  X(StoreExt,    46, Imm,   Imm,   Slot)  /* external variable a of provider b := s[next.a] */ \
  X(SelfFromVar, 47, Slot,  None,  None)  /* self := the object held in s[a] */ \
  X(Copy,        48, Slot,  Slot,  None)  /* s[a] := s[b] */ \
  X(Call,        49, Label, None,  None)  /* push pc; pc := L[a] (script routine) */ \
  X(Return,      50, None,  None,  None)  /* pop pc; at the run's own depth, end the run */ \
  X(NewArray,    51, Slot,  Imm,   None)  /* s[a] := new array 0..b, elements unassigned */ \
  X(StoreElem,   52, Imm,   Slot,  Slot)  /* element a of the array in s[next.a] := s[b] */ \
  X(Line,        53, Imm,   None,  None)  /* current line := a (trace "line a" at debug level 2) */ \
  X(Entry,       54, Const, None,  None)  /* routine entry: trace "Entry k[a]" at debug level 1 */ \
  X(Exit,        55, Const, None,  None)  /* routine exit: trace "Exit k[a]" at debug level 1 */

// Fused instructions (superinstructions): never in an image, made at load time (BinProgFuse.cpp)
// from a sequence of plain ones: X(name, code). Fields a..d as given; each first performs the line
// marker it absorbed (ln); e is the number of plain instructions after it that it stands for,
// which the code that runs leaves out.
// A fused binary operation has the code ocFBin + its plain op, a fused compare-and-jump ocFJCmp +
// (its comparison - ocGe); the fusion pass computes these codes.
#define HAL_FUSED_OPS(X) \
  X(FAdd,     ocFBin + ocAdd)             /* s[a] := s[b] + s[c] */ \
  X(FSub,     ocFBin + ocSub)             /* s[a] := s[b] - s[c] */ \
  X(FMul,     ocFBin + ocMul)             /* s[a] := s[b] * s[c] */ \
  X(FIntDiv,  ocFBin + ocIntDiv)          /* s[a] := s[b] div s[c] */ \
  X(FMod,     ocFBin + ocMod)             /* s[a] := s[b] mod s[c] */ \
  X(FDiv,     ocFBin + ocDiv)             /* s[a] := s[b] / s[c] */ \
  X(FShl,     ocFBin + ocShl)             /* s[a] := s[b] shl s[c] */ \
  X(FShr,     ocFBin + ocShr)             /* s[a] := s[b] shr s[c] */ \
  X(FOr,      ocFBin + ocOr)              /* s[a] := s[b] or s[c] */ \
  X(FXor,     ocFBin + ocXor)             /* s[a] := s[b] xor s[c] */ \
  X(FAnd,     ocFBin + ocAnd)             /* s[a] := s[b] and s[c] */ \
  X(FGe,      ocFBin + ocGe)              /* s[a] := s[b] >= s[c] */ \
  X(FEq,      ocFBin + ocEq)              /* s[a] := s[b] = s[c] */ \
  X(FLe,      ocFBin + ocLe)              /* s[a] := s[b] <= s[c] */ \
  X(FNe,      ocFBin + ocNe)              /* s[a] := s[b] <> s[c] */ \
  X(FGt,      ocFBin + ocGt)              /* s[a] := s[b] > s[c] */ \
  X(FLt,      ocFBin + ocLt)              /* s[a] := s[b] < s[c] */ \
  X(JGe,      ocFJCmp + (ocGe - ocGe))    /* unless s[b] >= s[c]: pc := L[d] */ \
  X(JEq,      ocFJCmp + (ocEq - ocGe))    /* unless s[b] = s[c]: pc := L[d] */ \
  X(JLe,      ocFJCmp + (ocLe - ocGe))    /* unless s[b] <= s[c]: pc := L[d] */ \
  X(JNe,      ocFJCmp + (ocNe - ocGe))    /* unless s[b] <> s[c]: pc := L[d] */ \
  X(JGt,      ocFJCmp + (ocGt - ocGe))    /* unless s[b] > s[c]: pc := L[d] */ \
  X(JLt,      ocFJCmp + (ocLt - ocGe))    /* unless s[b] < s[c]: pc := L[d] */ \
  X(FCopy,    130)                        /* s[a] := s[b] */ \
  X(FIncJump, 131)                        /* s[a] := s[a] + 1; pc := L[d] */ \
  X(FDecJump, 132)                        /* s[a] := s[a] - 1; pc := L[d] */ \
  X(FEntry,   133)                        /* routine entry trace of k[a] */ \
  X(FExit,    134)                        /* routine exit trace of k[a] */ \
  X(FCopy2,   135)                        /* s[a] := s[b]; s[c] := s[d] */ \
  X(FIncLoop, 136)                        /* s[a] := s[a] + 1, then the JLe at x runs (loop step and test) */ \
  X(FDecLoop, 137)                        /* s[a] := s[a] - 1, then the JGe at x runs */ \
  X(FCall,    138)                        /* Call whose routine starts with an (F)Entry at a: runs it at once */ \
  X(FExitRet, 139)                        /* (F)Exit followed by a Return */ \
  X(FCallHost, 140)                       /* CallHost with its argument loads folded in: arguments from \
                                             hostArgs_[x..] (a negative entry ~s moves slot s), var \
                                             parameters written back to hostArgs_[c..] */ \
  HAL_CHAIN_OPS(X)

// Two fused binary operations in a row, the first into a temporary the second reads:
// F<op1><op2>R: s[a] := s[d] <op2> (s[b] <op1> s[c]); F<op1><op2>L: s[a] := (s[b] <op1> s[c]) <op2> s[d].
// The temporary is not written; x is 1 when s[a] is itself a temporary. Codes: ocFChain +
// (shape * 3 + second op) * 6 + first op, ops in the order of HalChainFirst and HalChainSecond.
#define HAL_CHAIN_OPS(X) \
  X(FAddAddR,    141) \
  X(FSubAddR,    142) \
  X(FMulAddR,    143) \
  X(FIntDivAddR, 144) \
  X(FModAddR,    145) \
  X(FDivAddR,    146) \
  X(FAddSubR,    147) \
  X(FSubSubR,    148) \
  X(FMulSubR,    149) \
  X(FIntDivSubR, 150) \
  X(FModSubR,    151) \
  X(FDivSubR,    152) \
  X(FAddMulR,    153) \
  X(FSubMulR,    154) \
  X(FMulMulR,    155) \
  X(FIntDivMulR, 156) \
  X(FModMulR,    157) \
  X(FDivMulR,    158) \
  X(FAddAddL,    159) \
  X(FSubAddL,    160) \
  X(FMulAddL,    161) \
  X(FIntDivAddL, 162) \
  X(FModAddL,    163) \
  X(FDivAddL,    164) \
  X(FAddSubL,    165) \
  X(FSubSubL,    166) \
  X(FMulSubL,    167) \
  X(FIntDivSubL, 168) \
  X(FModSubL,    169) \
  X(FDivSubL,    170) \
  X(FAddMulL,    171) \
  X(FSubMulL,    172) \
  X(FMulMulL,    173) \
  X(FIntDivMulL, 174) \
  X(FModMulL,    175) \
  X(FDivMulL,    176)

// Every instruction the run loop dispatches. Entries take (name, code, ...).
#define HAL_OPS(X) HAL_IMAGE_OPS(X) HAL_FUSED_OPS(X)

#define HAL_OP_ENUM(name, code, ...) oc##name = code,
enum THalOp : int32_t {
  HAL_IMAGE_OPS(HAL_OP_ENUM)
  ocOperand = 34,   // op field of a single operand word (never executed)
  ocFBin = 100,     // base of the fused binary operations
  ocFJCmp = 120,    // base of the fused compare-and-jumps
  ocFChain = 141,   // base of the chained binary operations
  HAL_FUSED_OPS(HAL_OP_ENUM)
  ocInvalid = 255   // what the loader turns any other op code into
};
// clang-format on
#undef HAL_OP_ENUM
inline constexpr int HalChainFirst[6] = {ocAdd, ocSub, ocMul, ocIntDiv, ocMod, ocDiv};
inline constexpr int HalChainSecond[3] = {ocAdd, ocSub, ocMul};
constexpr int HAL_CHAIN_COUNT = 36;

// What the table knows of one op code (all 256 codes of the dispatch table; unknown ones have no name).
struct THalOpInfo {
  const char* name = nullptr;
  bool image = false;  // may appear in an image
  THalField a = THalField::None, b = THalField::None, next = THalField::None;
};

constexpr int HAL_OP_CODES = 256;

inline constexpr std::array<THalOpInfo, HAL_OP_CODES> HalOpTable = [] {
  std::array<THalOpInfo, HAL_OP_CODES> t{};
#define HAL_OP_IMAGE_INFO(name, code, a, b, next) \
  t[code] = THalOpInfo{#name, true, THalField::a, THalField::b, THalField::next};
#define HAL_OP_FUSED_INFO(name, code) t[code] = THalOpInfo{#name, false};
  HAL_IMAGE_OPS(HAL_OP_IMAGE_INFO)
  HAL_FUSED_OPS(HAL_OP_FUSED_INFO)
#undef HAL_OP_IMAGE_INFO
#undef HAL_OP_FUSED_INFO
  return t;
}();

// Every entry has its own code; the operand-word filler and the invalid marker are none of them.
#define HAL_OP_COUNT(...) +1
static_assert([] {
  int named = 0;
  for (const THalOpInfo& i : HalOpTable) named += i.name != nullptr;
  return named;
}() == 0 HAL_OPS(HAL_OP_COUNT));
#undef HAL_OP_COUNT
static_assert(!HalOpTable[ocOperand].name && !HalOpTable[ocInvalid].name);

// Table entry of any op code, also one read from a damaged image.
inline const THalOpInfo& HalOpInfo(int32_t op) {
  static constexpr THalOpInfo unknown{};
  return op >= 0 && op < HAL_OP_CODES ? HalOpTable[static_cast<size_t>(op)] : unknown;
}

// Name of an op code for listings ("?" for codes that are no instruction).
inline const char* HalOpName(int32_t op) {
  const char* n = HalOpInfo(op).name;
  return n ? n : "?";
}

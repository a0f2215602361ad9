// The run loop of TBinProg: one stop-byte check per instruction, then dispatch by op code.
// Integer, real and boolean operations run inline without allocating; the rest goes to ValueOps.
#include <cmath>

#include "script/BinProg.h"
#include "script/BinProgFast.h"
#include "script/ScriptErrors.h"
#include "script/ValueOps.h"

// Dispatch: computed goto where the compiler has it (one indirect jump per op body, which the
// branch predictor handles far better than a single shared one), a switch otherwise. The op
// bodies are the same in both forms.
#if defined(__GNUC__) && !defined(HAL_SWITCH_DISPATCH)
#define HAL_COMPUTED_GOTO 1
#endif

// clang-format off
#define HAL_OPS(X) \
  X(Add, ocAdd) \
  X(Sub, ocSub) \
  X(Mul, ocMul) \
  X(IntDiv, ocIntDiv) \
  X(Mod, ocMod) \
  X(Div, ocDiv) \
  X(Shl, ocShl) \
  X(Shr, ocShr) \
  X(Not, ocNot) \
  X(Or, ocOr) \
  X(Xor, ocXor) \
  X(And, ocAnd) \
  X(Ge, ocGe) \
  X(Eq, ocEq) \
  X(Le, ocLe) \
  X(Ne, ocNe) \
  X(Gt, ocGt) \
  X(Lt, ocLt) \
  X(Neg, ocNeg) \
  X(Jump, ocJump) \
  X(JumpFalse, ocJumpFalse) \
  X(LoadConst, ocLoadConst) \
  X(Stop, ocStop) \
  X(Inc, ocInc) \
  X(Dec, ocDec) \
  X(CallHost, ocCallHost) \
  X(SetSelf, ocSetSelf) \
  X(LoadExt, ocLoadExt) \
  X(StoreExt, ocStoreExt) \
  X(SelfFromVar, ocSelfFromVar) \
  X(Copy, ocCopy) \
  X(Call, ocCall) \
  X(Return, ocReturn) \
  X(NewArray, ocNewArray) \
  X(StoreElem, ocStoreElem) \
  X(Line, ocLine) \
  X(Entry, ocEntry) \
  X(Exit, ocExit) \
  X(FAdd, ocFBin + ocAdd) \
  X(FSub, ocFBin + ocSub) \
  X(FMul, ocFBin + ocMul) \
  X(FDiv, ocFBin + ocDiv) \
  X(FIntDiv, ocFBin + ocIntDiv) \
  X(FMod, ocFBin + ocMod) \
  X(FShl, ocFBin + ocShl) \
  X(FShr, ocFBin + ocShr) \
  X(FOr, ocFBin + ocOr) \
  X(FXor, ocFBin + ocXor) \
  X(FAnd, ocFBin + ocAnd) \
  X(FGe, ocFBin + ocGe) \
  X(FEq, ocFBin + ocEq) \
  X(FLe, ocFBin + ocLe) \
  X(FNe, ocFBin + ocNe) \
  X(FGt, ocFBin + ocGt) \
  X(FLt, ocFBin + ocLt) \
  X(JGe, ocFJCmp + 0) \
  X(JEq, ocFJCmp + 1) \
  X(JLe, ocFJCmp + 2) \
  X(JNe, ocFJCmp + 3) \
  X(JGt, ocFJCmp + 4) \
  X(JLt, ocFJCmp + 5) \
  X(FCopy, ocFCopy) \
  X(FIncJump, ocFIncJump) \
  X(FDecJump, ocFDecJump) \
  X(FEntry, ocFEntry) \
  X(FExit, ocFExit) \
  X(FCopy2, ocFCopy2)
// clang-format on

#ifdef HAL_COMPUTED_GOTO
#define OP(name) op_##name:
#define DISPATCH()                                                \
  do {                                                            \
    if (stop.load(std::memory_order_relaxed) == HAL_STOP) return; \
    ip = &code[pc++];                                             \
    goto* table[ip->op];                                          \
  } while (0)
#define NEXT DISPATCH()
#else
#define OP(name) case op_##name:
#define NEXT break
#endif

// A fused instruction first performs the line marker it absorbed, then skips the plain
// instructions it stands for.
#define LINE_PREFIX()                                             \
  if (ip->ln) {                                                   \
    line_ = ip->ln;                                               \
    if (debugLevel_ >= 2) trace("line ", std::to_string(ip->ln)); \
  }
#define SKIP() pc += ip->e

namespace {
#ifndef HAL_COMPUTED_GOTO
enum : int32_t {
#define HAL_ENUM(name, code) op_##name = code,
  HAL_OPS(HAL_ENUM)
#undef HAL_ENUM
};
#endif
}  // namespace

void TBinProg::execute(int start, TStopFlag& stop) {
  TValue* const s = slots_.data();
  const TExec* const code = fusion_ ? exec_.data() : plain_.data();
  const int32_t* const labels = labels_.data();
  const TValue* const k = consts_.data();
  int pc = start;
  const TExec* ip;
#ifdef HAL_COMPUTED_GOTO
  void* table[256];  // filled per run: label addresses exist only inside this function
  for (auto& t : table) t = &&op_Invalid;
#define HAL_TABLE(name, code) table[code] = &&op_##name;
  HAL_OPS(HAL_TABLE)
#undef HAL_TABLE
  DISPATCH();
#else
  for (;;) {
    if (stop.load(std::memory_order_relaxed) == HAL_STOP) return;
    ip = &code[pc++];
    switch (ip->op) {
#endif
  OP(Add) fastAdd(s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] + s[b]
  OP(Sub) fastSub(s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] - s[b]
  OP(Mul) fastMul(s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] * s[b]
  OP(IntDiv) fastIntDiv(s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] div s[b]
  OP(Mod) fastMod(s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] mod s[b]
  OP(Div) fastDiv(s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] / s[b]
  OP(Shl) ValueBinary(voShl, s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] shl s[b]
  OP(Shr) ValueBinary(voShr, s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] shr s[b]
  OP(Not) ValueNot(s[ip->a]);
  NEXT;  // s[a] := not s[a]
  OP(Or) fastLogic(voOr, s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] or s[b]
  OP(Xor) fastLogic(voXor, s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] xor s[b]
  OP(And) fastLogic(voAnd, s[ip->a], s[ip->b]);
  NEXT;  // s[a] := s[a] and s[b]
  OP(Ge) s[ip->a].SetBool(fastCompare<voGe>(s[ip->a], s[ip->b]));
  NEXT;  // s[a] := s[a] >= s[b]
  OP(Eq) s[ip->a].SetBool(fastCompare<voEq>(s[ip->a], s[ip->b]));
  NEXT;  // s[a] := s[a] = s[b]
  OP(Le) s[ip->a].SetBool(fastCompare<voLe>(s[ip->a], s[ip->b]));
  NEXT;  // s[a] := s[a] <= s[b]
  OP(Ne) s[ip->a].SetBool(fastCompare<voNe>(s[ip->a], s[ip->b]));
  NEXT;  // s[a] := s[a] <> s[b]
  OP(Gt) s[ip->a].SetBool(fastCompare<voGt>(s[ip->a], s[ip->b]));
  NEXT;  // s[a] := s[a] > s[b]
  OP(Lt) s[ip->a].SetBool(fastCompare<voLt>(s[ip->a], s[ip->b]));
  NEXT;  // s[a] := s[a] < s[b]
  OP(Neg) ValueNegate(s[ip->a]);
  NEXT;  // s[a] := -s[a]
  OP(Jump) pc = labels[ip->a];
  NEXT;  // pc := labels[a]
  OP(JumpFalse) if (!isTrue(s[ip->a])) pc = labels[ip->b];
  NEXT;  // if not s[a]: pc := labels[b]
  OP(LoadConst) s[ip->a] = k[ip->b];
  NEXT;             // s[a] := constants[b]
  OP(Stop) return;  // end of the run
  OP(Inc) fastAdd(s[ip->a], TValue(int32_t(1)));
  NEXT;  // s[a] := s[a] + 1
  OP(Dec) fastSub(s[ip->a], TValue(int32_t(1)));
  NEXT;         // s[a] := s[a] - 1
  OP(CallHost)  // host routine b, result into s[a]; argument words follow
  callHost(ip->a, ip->b, pc);
  pc += ip->c;
  NEXT;
  OP(SetSelf) self_ = static_cast<TObjHandle>(ip->a);
  NEXT;  // self := object a
  OP(LoadExt) _ocloadextvar(s[ip->c], ip->b, ip->a);
  ++pc;
  NEXT;  // s[next.a] := provider b, id a
  OP(StoreExt) _ocstoreextvar(ip->b, ip->a, s[ip->c]);
  ++pc;
  NEXT;  // provider b, id a := s[next.a]
  OP(SelfFromVar) self_ = VarToObj(s[ip->a]);
  NEXT;  // self := object in s[a]
  OP(Copy) s[ip->a] = s[ip->b];
  NEXT;     // s[a] := s[b]
  OP(Call)  // push the return index, pc := labels[a]
  if (depth_ >= HAL_RETURN_STACK) throw ERunTimeError("Stack overflow: script routine calls nested too deeply");
  returnStack_[depth_++] = pc;
  pc = labels[ip->a];
  NEXT;
  OP(Return)  // pop the return index; at the run's own depth, end the run
  if (depth_ == base_) return;
  pc = returnStack_[--depth_];
  NEXT;
  OP(NewArray) newArray(s[ip->a], ip->b);
  NEXT;  // s[a] := array 0..b
  OP(StoreElem) storeElement(ip->c, ip->a, s[ip->b]);
  ++pc;
  NEXT;     // s[next.a][a] := s[b]
  OP(Line)  // current line := a
  line_ = ip->a;
  if (debugLevel_ >= 2) trace("line ", std::to_string(ip->a));
  NEXT;
  OP(Entry) if (debugLevel_ >= 1) trace("Entry ", k[ip->a].AsString());
  NEXT;  // routine entry trace
  OP(Exit) if (debugLevel_ >= 1) trace("Exit ", k[ip->a].AsString());
  NEXT;  // routine exit trace
  // ---- fused instructions (made at load time)
  OP(FAdd) LINE_PREFIX() fused3<voAdd>(s[ip->a], s[ip->b], s[ip->c]);
  SKIP();
  NEXT;  // s[a] := s[b] + s[c]
  OP(FSub) LINE_PREFIX() fused3<voSub>(s[ip->a], s[ip->b], s[ip->c]);
  SKIP();
  NEXT;  // s[a] := s[b] - s[c]
  OP(FMul) LINE_PREFIX() fused3<voMul>(s[ip->a], s[ip->b], s[ip->c]);
  SKIP();
  NEXT;  // s[a] := s[b] * s[c]
  OP(FDiv) LINE_PREFIX() fused3<voDiv>(s[ip->a], s[ip->b], s[ip->c]);
  SKIP();
  NEXT;  // s[a] := s[b] / s[c]
  OP(FIntDiv) LINE_PREFIX() fused3<voIntDiv>(s[ip->a], s[ip->b], s[ip->c]);
  SKIP();
  NEXT;  // s[a] := s[b] div s[c]
  OP(FMod) LINE_PREFIX() fused3<voMod>(s[ip->a], s[ip->b], s[ip->c]);
  SKIP();
  NEXT;  // s[a] := s[b] mod s[c]
  OP(FShl)
  OP(FShr)
  OP(FOr)
  OP(FXor)
  OP(FAnd)  // s[a] := s[b] <op> s[c]
  LINE_PREFIX() fusedSlow(ip->op - ocFBin, s[ip->a], s[ip->b], s[ip->c]);
  SKIP();
  NEXT;
  OP(FGe) LINE_PREFIX() s[ip->a].SetBool(fastCompare<voGe>(s[ip->b], s[ip->c]));
  SKIP();
  NEXT;  // s[a] := s[b] >= s[c]
  OP(FEq) LINE_PREFIX() s[ip->a].SetBool(fastCompare<voEq>(s[ip->b], s[ip->c]));
  SKIP();
  NEXT;  // s[a] := s[b] = s[c]
  OP(FLe) LINE_PREFIX() s[ip->a].SetBool(fastCompare<voLe>(s[ip->b], s[ip->c]));
  SKIP();
  NEXT;  // s[a] := s[b] <= s[c]
  OP(FNe) LINE_PREFIX() s[ip->a].SetBool(fastCompare<voNe>(s[ip->b], s[ip->c]));
  SKIP();
  NEXT;  // s[a] := s[b] <> s[c]
  OP(FGt) LINE_PREFIX() s[ip->a].SetBool(fastCompare<voGt>(s[ip->b], s[ip->c]));
  SKIP();
  NEXT;  // s[a] := s[b] > s[c]
  OP(FLt) LINE_PREFIX() s[ip->a].SetBool(fastCompare<voLt>(s[ip->b], s[ip->c]));
  SKIP();
  NEXT;  // s[a] := s[b] < s[c]
  OP(JGe) LINE_PREFIX() pc = fastCompare<voGe>(s[ip->b], s[ip->c]) ? pc + ip->e : labels[ip->d];
  NEXT;  // unless >=
  OP(JEq) LINE_PREFIX() pc = fastCompare<voEq>(s[ip->b], s[ip->c]) ? pc + ip->e : labels[ip->d];
  NEXT;  // unless =
  OP(JLe) LINE_PREFIX() pc = fastCompare<voLe>(s[ip->b], s[ip->c]) ? pc + ip->e : labels[ip->d];
  NEXT;  // unless <=
  OP(JNe) LINE_PREFIX() pc = fastCompare<voNe>(s[ip->b], s[ip->c]) ? pc + ip->e : labels[ip->d];
  NEXT;  // unless <>
  OP(JGt) LINE_PREFIX() pc = fastCompare<voGt>(s[ip->b], s[ip->c]) ? pc + ip->e : labels[ip->d];
  NEXT;  // unless >
  OP(JLt) LINE_PREFIX() pc = fastCompare<voLt>(s[ip->b], s[ip->c]) ? pc + ip->e : labels[ip->d];
  NEXT;  // unless <
  OP(FCopy) LINE_PREFIX() s[ip->a] = s[ip->b];
  SKIP();
  NEXT;  // s[a] := s[b]
  OP(FIncJump) LINE_PREFIX() fastAdd(s[ip->a], TValue(int32_t(1)));
  pc = labels[ip->d];
  NEXT;  // s[a] += 1; jump
  OP(FDecJump) LINE_PREFIX() fastSub(s[ip->a], TValue(int32_t(1)));
  pc = labels[ip->d];
  NEXT;  // s[a] -= 1; jump
  OP(FEntry) LINE_PREFIX() if (debugLevel_ >= 1) trace("Entry ", k[ip->a].AsString());
  SKIP();
  NEXT;  // entry trace
  OP(FExit) LINE_PREFIX() if (debugLevel_ >= 1) trace("Exit ", k[ip->a].AsString());
  SKIP();
  NEXT;  // exit trace
  OP(FCopy2) LINE_PREFIX() s[ip->a] = s[ip->b];
  s[ip->c] = s[ip->d];
  SKIP();
  NEXT;  // two copies
#ifdef HAL_COMPUTED_GOTO
op_Invalid:
  invalidOp();
#else
      default:
        invalidOp();
    }
  }
#endif
}

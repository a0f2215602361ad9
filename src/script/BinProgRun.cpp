// The run loop of TBinProg: one stop-byte check per instruction, then dispatch by op code.
// Integer, real and boolean operations run inline without allocating; the rest goes to ValueOps.
// What each instruction does is listed in script/Opcodes.h; every entry there has its body here.
#include <cmath>

#include "script/BinProg.h"
#include "script/BinProgFast.h"
#include "script/ScriptErrors.h"
#include "script/ValueOps.h"

// Dispatch: computed goto where the compiler has it (one indirect jump per op body, which the
// branch predictor handles far better than a single shared one), a switch otherwise. The op
// bodies are the same in both forms: OP(name) opens one, NEXT ends it by going to the next
// instruction; DISPATCH_BEGIN and DISPATCH_END hold all that differs.
#if defined(__GNUC__) && !defined(HAL_SWITCH_DISPATCH)
#define HAL_COMPUTED_GOTO 1
#endif

#ifdef HAL_COMPUTED_GOTO
#define OP(name) op_##name:
#define NEXT                                                      \
  do {                                                            \
    if (stop.load(std::memory_order_relaxed) == HAL_STOP) return; \
    ip = pc++;                                                    \
    goto* table[ip->op];                                          \
  } while (0)
// The table is filled per run: label addresses exist only inside the function.
#define HAL_TABLE_ENTRY(name, code, ...) table[code] = &&op_##name;
#define DISPATCH_BEGIN                    \
  void* table[HAL_OP_CODES];              \
  for (auto& t : table) t = &&op_Invalid; \
  HAL_OPS(HAL_TABLE_ENTRY)                \
  NEXT;
#define DISPATCH_END \
  op_Invalid:        \
  invalidOp();
#else
#define OP(name) case oc##name:
#define NEXT break
#define DISPATCH_BEGIN                                            \
  for (;;) {                                                      \
    if (stop.load(std::memory_order_relaxed) == HAL_STOP) return; \
    ip = pc++;                                                    \
    switch (ip->op) {
#define DISPATCH_END \
  default:           \
    invalidOp();     \
    }                \
    }
#endif

// A fused instruction first performs the line marker it absorbed. The plain instructions it stands
// for are not in the run code: the next entry is the next instruction.
#define LINE_PREFIX()                                             \
  if (ip->ln) {                                                   \
    line_ = ip->ln;                                               \
    if (debugLevel_ >= 2) trace("line ", std::to_string(ip->ln)); \
  }

void TBinProg::execute(int start, TStopFlag& stop) {
  TValue* const s = slots_.data();
  if (!fusion_ && runPlain_.code.empty()) layOut(buildPlain(), runPlain_);
  const TRunCode& run = fusion_ ? run_ : runPlain_;
  if (run.at[static_cast<size_t>(start)] < 0) Error("Damaged program image");  // inside a fused sequence
  const TExec* const code = run.code.data();
  const TValue* const k = consts_.data();
  const TExec* pc = code + run.at[static_cast<size_t>(start)];  // the next instruction
  const TExec* ip;                                              // the current one
  DISPATCH_BEGIN
  OP(Add) {
    fastAdd(s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Sub) {
    fastSub(s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Mul) {
    fastMul(s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(IntDiv) {
    fastIntDiv(s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Mod) {
    fastMod(s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Div) {
    fastDiv(s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Shl) {
    ValueBinary(voShl, s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Shr) {
    ValueBinary(voShr, s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Not) {
    ValueNot(s[ip->a]);
    NEXT;
  }
  OP(Or) {
    fastLogic(voOr, s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Xor) {
    fastLogic(voXor, s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(And) {
    fastLogic(voAnd, s[ip->a], s[ip->b]);
    NEXT;
  }
  OP(Ge) {
    s[ip->a].SetBool(fastCompare<voGe>(s[ip->a], s[ip->b]));
    NEXT;
  }
  OP(Eq) {
    s[ip->a].SetBool(fastCompare<voEq>(s[ip->a], s[ip->b]));
    NEXT;
  }
  OP(Le) {
    s[ip->a].SetBool(fastCompare<voLe>(s[ip->a], s[ip->b]));
    NEXT;
  }
  OP(Ne) {
    s[ip->a].SetBool(fastCompare<voNe>(s[ip->a], s[ip->b]));
    NEXT;
  }
  OP(Gt) {
    s[ip->a].SetBool(fastCompare<voGt>(s[ip->a], s[ip->b]));
    NEXT;
  }
  OP(Lt) {
    s[ip->a].SetBool(fastCompare<voLt>(s[ip->a], s[ip->b]));
    NEXT;
  }
  OP(Neg) {
    ValueNegate(s[ip->a]);
    NEXT;
  }
  OP(Jump) {
    pc = code + ip->a;
    NEXT;
  }
  OP(JumpFalse) {
    if (!isTrue(s[ip->a])) pc = code + ip->b;
    NEXT;
  }
  OP(LoadConst) {
    s[ip->a] = k[ip->b];
    NEXT;
  }
  OP(Stop) { return; }
  OP(Inc) {
    fastAdd(s[ip->a], TValue(int32_t(1)));
    NEXT;
  }
  OP(Dec) {
    fastSub(s[ip->a], TValue(int32_t(1)));
    NEXT;
  }
  OP(CallHost) {
    callHost(*ip);
    pc += ip->c;  // the argument words
    NEXT;
  }
  OP(SetSelf) {
    self_ = static_cast<TObjHandle>(ip->a);
    NEXT;
  }
  OP(LoadExt) {
    _ocloadextvar(s[ip->c], ip->b, ip->a);
    ++pc;
    NEXT;
  }
  OP(StoreExt) {
    _ocstoreextvar(ip->b, ip->a, s[ip->c]);
    ++pc;
    NEXT;
  }
  OP(SelfFromVar) {
    self_ = VarToObj(s[ip->a]);
    NEXT;
  }
  OP(Copy) {
    s[ip->a] = s[ip->b];
    NEXT;
  }
  OP(Call) {
    if (depth_ >= HAL_RETURN_STACK) throw ERunTimeError("Stack overflow: script routine calls nested too deeply");
    returnStack_[depth_++] = static_cast<int>(pc - code);
    pc = code + ip->a;
    NEXT;
  }
  OP(Return) {
  return_body:
    if (depth_ == base_) return;
    pc = code + returnStack_[--depth_];
    NEXT;
  }
  OP(NewArray) {
    newArray(s[ip->a], ip->b);
    NEXT;
  }
  OP(StoreElem) {
    storeElement(ip->c, ip->a, s[ip->b]);
    ++pc;
    NEXT;
  }
  OP(Line) {
    line_ = ip->a;
    if (debugLevel_ >= 2) trace("line ", std::to_string(ip->a));
    NEXT;
  }
  OP(Entry) {
    if (debugLevel_ >= 1) trace("Entry ", k[ip->a].AsString());
    NEXT;
  }
  OP(Exit) {
    if (debugLevel_ >= 1) trace("Exit ", k[ip->a].AsString());
    NEXT;
  }
  // ---- fused instructions (made at load time)
  OP(FAdd) {
    LINE_PREFIX()
    fused3<voAdd>(s[ip->a], s[ip->b], s[ip->c]);
    NEXT;
  }
  OP(FSub) {
    LINE_PREFIX()
    fused3<voSub>(s[ip->a], s[ip->b], s[ip->c]);
    NEXT;
  }
  OP(FMul) {
    LINE_PREFIX()
    fused3<voMul>(s[ip->a], s[ip->b], s[ip->c]);
    NEXT;
  }
  OP(FDiv) {
    LINE_PREFIX()
    fused3<voDiv>(s[ip->a], s[ip->b], s[ip->c]);
    NEXT;
  }
  OP(FIntDiv) {
    LINE_PREFIX()
    fused3<voIntDiv>(s[ip->a], s[ip->b], s[ip->c]);
    NEXT;
  }
  OP(FMod) {
    LINE_PREFIX()
    fused3<voMod>(s[ip->a], s[ip->b], s[ip->c]);
    NEXT;
  }
  OP(FShl)
  OP(FShr)
  OP(FOr)
  OP(FXor)
  OP(FAnd) {
    LINE_PREFIX()
    fusedSlow(ip->op - ocFBin, s[ip->a], s[ip->b], s[ip->c]);
    NEXT;
  }
  OP(FGe) {
    LINE_PREFIX()
    s[ip->a].SetBool(fastCompare<voGe>(s[ip->b], s[ip->c]));
    NEXT;
  }
  OP(FEq) {
    LINE_PREFIX()
    s[ip->a].SetBool(fastCompare<voEq>(s[ip->b], s[ip->c]));
    NEXT;
  }
  OP(FLe) {
    LINE_PREFIX()
    s[ip->a].SetBool(fastCompare<voLe>(s[ip->b], s[ip->c]));
    NEXT;
  }
  OP(FNe) {
    LINE_PREFIX()
    s[ip->a].SetBool(fastCompare<voNe>(s[ip->b], s[ip->c]));
    NEXT;
  }
  OP(FGt) {
    LINE_PREFIX()
    s[ip->a].SetBool(fastCompare<voGt>(s[ip->b], s[ip->c]));
    NEXT;
  }
  OP(FLt) {
    LINE_PREFIX()
    s[ip->a].SetBool(fastCompare<voLt>(s[ip->b], s[ip->c]));
    NEXT;
  }
  OP(JGe) {
  jge_body:
    LINE_PREFIX()
    pc = fastCompare<voGe>(s[ip->b], s[ip->c]) ? pc : code + ip->d;
    NEXT;
  }
  OP(JEq) {
    LINE_PREFIX()
    pc = fastCompare<voEq>(s[ip->b], s[ip->c]) ? pc : code + ip->d;
    NEXT;
  }
  OP(JLe) {
  jle_body:
    LINE_PREFIX()
    pc = fastCompare<voLe>(s[ip->b], s[ip->c]) ? pc : code + ip->d;
    NEXT;
  }
  OP(JNe) {
    LINE_PREFIX()
    pc = fastCompare<voNe>(s[ip->b], s[ip->c]) ? pc : code + ip->d;
    NEXT;
  }
  OP(JGt) {
    LINE_PREFIX()
    pc = fastCompare<voGt>(s[ip->b], s[ip->c]) ? pc : code + ip->d;
    NEXT;
  }
  OP(JLt) {
    LINE_PREFIX()
    pc = fastCompare<voLt>(s[ip->b], s[ip->c]) ? pc : code + ip->d;
    NEXT;
  }
  OP(FCopy) {
    LINE_PREFIX()
    s[ip->a] = s[ip->b];
    NEXT;
  }
  OP(FIncJump) {
    LINE_PREFIX()
    fastAdd(s[ip->a], TValue(int32_t(1)));
    pc = code + ip->d;
    NEXT;
  }
  OP(FDecJump) {
    LINE_PREFIX()
    fastSub(s[ip->a], TValue(int32_t(1)));
    pc = code + ip->d;
    NEXT;
  }
  OP(FEntry) {
  fentry_body:
    LINE_PREFIX()
    if (debugLevel_ >= 1) trace("Entry ", k[ip->a].AsString());
    NEXT;
  }
  OP(FExit) {
    LINE_PREFIX()
    if (debugLevel_ >= 1) trace("Exit ", k[ip->a].AsString());
    NEXT;
  }
  OP(FCopy2) {
    LINE_PREFIX()
    s[ip->a] = s[ip->b];
    s[ip->c] = s[ip->d];
    NEXT;
  }
  OP(FIncLoop) {
    LINE_PREFIX()
    fastAdd(s[ip->a], TValue(int32_t(1)));
    ip = code + ip->x;
    pc = ip + 1;
    goto jle_body;
  }
  OP(FDecLoop) {
    LINE_PREFIX()
    fastSub(s[ip->a], TValue(int32_t(1)));
    ip = code + ip->x;
    pc = ip + 1;
    goto jge_body;
  }
  OP(FCall) {
    if (depth_ >= HAL_RETURN_STACK) throw ERunTimeError("Stack overflow: script routine calls nested too deeply");
    returnStack_[depth_++] = static_cast<int>(pc - code);
    ip = code + ip->a;
    pc = ip + 1;
    goto fentry_body;
  }
  OP(FExitRet) {
    LINE_PREFIX()
    if (debugLevel_ >= 1) trace("Exit ", k[ip->a].AsString());
    ip = pc++;
    goto return_body;
  }
  OP(FCallHost) {
    LINE_PREFIX()
    callHostFused(*ip);
    NEXT;
  }
#define HAL_CHAIN_BODY(name, code)                            \
  OP(name) {                                                  \
    LINE_PREFIX()                                             \
    fusedChain<code>(s[ip->a], s[ip->b], s[ip->c], s[ip->d]); \
    NEXT;                                                     \
  }
  HAL_CHAIN_OPS(HAL_CHAIN_BODY)
#undef HAL_CHAIN_BODY
  DISPATCH_END
}

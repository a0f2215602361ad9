// TBinProg: reads a program image (constants, labels, code) and runs it on a flat array of slots.
// The stop byte is read before every instruction so that another thread can end a run.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "script/ScriptObjects.h"
#include "script/Value.h"

// Trace lines of debug levels 1 and 2 go here, with the tag given to Run.
using THalDebugOutput = std::function<void(int tag, const std::string& text)>;
// The caller's run-state byte: storing 'E' ends the run between two instructions.
using TStopFlag = std::atomic<char>;
constexpr char HAL_STOP = 'E';

constexpr int HAL_SLOTS = 3001;         // slots every program gets at least
constexpr int HAL_MAX_SLOTS = 1 << 22;  // programs needing more are rejected
constexpr int HAL_RETURN_STACK = 1001;
constexpr int HAL_ARGS = 101;

// Op codes.
enum THalOp : int32_t {
  ocAdd = 0,
  ocSub = 1,
  ocMul = 2,
  ocIntDiv = 3,
  ocMod = 4,
  ocDiv = 5,
  ocShl = 6,
  ocShr = 7,
  ocNot = 8,
  ocOr = 9,
  ocXor = 10,
  ocAnd = 11,
  ocGe = 12,
  ocEq = 13,
  ocLe = 14,
  ocNe = 15,
  ocGt = 16,
  ocLt = 17,
  ocNeg = 18,
  ocJump = 19,
  ocJumpFalse = 20,
  ocLoadConst = 23,
  ocStop = 26,
  ocInc = 29,
  ocDec = 30,
  ocOperand = 34,  // filler op of operand words
  ocCallHost = 42,
  ocSetSelf = 44,
  ocLoadExt = 45,
  ocStoreExt = 46,
  ocSelfFromVar = 47,
  ocCopy = 48,
  ocCall = 49,
  ocReturn = 50,
  ocNewArray = 51,
  ocStoreElem = 52,
  ocLine = 53,
  ocEntry = 54,
  ocExit = 55,
  // Fused instructions (never in an image; made at load time, see BinProgFuse.cpp).
  ocFBin = 100,      // 100 + op (0..17): s[a] := s[b] <op> s[c]
  ocFJCmp = 120,     // 120 + (op - 12): if not (s[b] <op> s[c]) then pc := labels[d]
  ocFCopy = 130,     // s[a] := s[b]
  ocFIncJump = 131,  // s[a] := s[a] + 1; pc := labels[d]
  ocFDecJump = 132,  // s[a] := s[a] - 1; pc := labels[d]
  ocFEntry = 133,    // routine entry trace of constants[a] (after its line prefix)
  ocFExit = 134,     // routine exit trace of constants[a] (after its line prefix)
  ocFCopy2 = 135,    // s[a] := s[b]; s[c] := s[d]
  ocInvalid = 255    // any op code that is not an instruction
};

// One instruction of the image.
struct TProgItem {
  int32_t op = 0, a = 0, b = 0;
};

// Number of operand words that follow an instruction (host calls depend on the registration table).
int HalOperandWords(const TProgItem& it);

class TBinProg {
 public:
  // Reads an image; raises ECompilerError ("Unknown reader type", or a damaged-image message).
  // variableSlots: the slots of declared variables, parameters and results (from the compiler);
  // when given, copies through temporaries can be fused as well.
  explicit TBinProg(std::string_view image, const std::vector<int>* variableSlots = nullptr);
  ~TBinProg();
  TBinProg(const TBinProg&) = delete;
  TBinProg& operator=(const TBinProg&) = delete;

  void Run(TStopFlag& stop, void* userData, THalDebugOutput output = nullptr, int tag = 0);
  void RunFrom(int start, TStopFlag& stop, void* userData);
  void SetDebugLevel(int level) { debugLevel_ = level; }
  int DebugLevel() const { return debugLevel_; }
  void DebugOutput(const std::string& text);
  [[noreturn]] static void Error(const std::string& message);

  void _ocsetself(TObjHandle obj) { self_ = obj; }
  void _ocselffromvar(const TValue& v) { self_ = VarToObj(v); }
  void _ocloadextvar(TValue& dest, int provider, int id);
  void _ocstoreextvar(int provider, int id, const TValue& value);
  // Calls a first-style handler with the current self object and the argument slots.
  void _CallExtFun(TValue& result, const std::string& name,
                   const std::function<TValue(TObjHandle, const std::string&, TValue*, int)>& handler);

  // Inspection (tests, the event bridge, debugging tools).
  TValue& Slot(int i) { return slots_[i]; }
  int SlotCount() const { return static_cast<int>(slots_.size()); }
  int LabelPlace(int label) const { return labels_[label]; }
  int LabelCount() const { return static_cast<int>(labels_.size()); }
  int CodeCount() const { return static_cast<int>(code_.size()); }
  const TProgItem& Code(int i) const { return code_[i]; }
  const std::vector<TValue>& Constants() const { return consts_; }
  int CurrentLine() const { return line_; }
  TValue* Args() { return args_; }
  TObjHandle Self() const { return self_; }
  // Number of instruction sequences the load-time pass fused (for benchmarks and tests).
  int FusedCount() const { return fusedCount_; }
  // One line per instruction of the decoded program ("index: op a b c d +skip"), for tests and tuning.
  std::string Listing(bool fused = true) const;
  // Turns the fused instructions off (the plain instruction list then runs as written).
  void SetFusion(bool on) { fusion_ = on; }

  // Decoded instruction: op, a, b as in the image; c, d carry pre-read operands and fused fields;
  // e is the number of plain instructions a fused one skips; ln a line marker it performs first.
  struct TExec {
    int32_t op, a, b, c, d, e, ln;
  };

 private:
  void readImage(std::string_view image);
  void decode();
  void fuse();
  void execute(int start, TStopFlag& stop);
  void callHost(int resultSlot, int entry, int pc);
  void newArray(TValue& dest, int high);
  void storeElement(int arraySlot, int index, const TValue& v);
  void trace(const char* prefix, const std::string& text);
  [[noreturn]] static void invalidOp();
  [[noreturn]] static void compareError();

  std::vector<TValue> consts_;
  std::vector<int32_t> labels_;
  std::vector<TProgItem> code_;
  std::vector<TExec> exec_;
  std::vector<TExec> plain_;  // the same code without fusion
  std::vector<bool> variableSlots_;
  int constBase_ = 0;         // constants are mirrored in read-only slots from here on
  std::vector<bool> starts_;  // which indices begin an instruction (labels must point at one)
  std::vector<TValue> slots_;
  TValue args_[HAL_ARGS];
  int returnStack_[HAL_RETURN_STACK] = {};
  int depth_ = 0;
  int base_ = 0;  // return-stack depth at which the current run ends
  int line_ = 1;
  TObjHandle self_ = 0;
  int debugLevel_ = 0;
  THalDebugOutput output_;
  int tag_ = 0;
  void* userData_ = nullptr;
  int fusedCount_ = 0;
  bool fusion_ = true;
};

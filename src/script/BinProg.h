// TBinProg: reads a program image (constants, labels, code) and runs it on a flat array of slots.
// The stop byte is read before every instruction so that another thread can end a run.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/Opcodes.h"
#include "script/ScriptObjects.h"
#include "script/Value.h"

class TFunList;
TFunList& Funs();

// Trace lines of debug levels 1 and 2 go here, with the tag given to Run.
using THalDebugOutput = std::function<void(int tag, const std::string& text)>;
// The caller's run-state byte: storing 'E' ends the run between two instructions.
using TStopFlag = std::atomic<char>;
constexpr char HAL_STOP = 'E';

constexpr int HAL_SLOTS = 3001;         // slots every program gets at least
constexpr int HAL_MAX_SLOTS = 1 << 22;  // programs needing more are rejected
constexpr int HAL_RETURN_STACK = 1001;
constexpr int HAL_ARGS = 101;

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
  // when given, copies through temporaries can be fused as well. slotLimit: images naming a slot at
  // or past it are damaged (the slot array is sized by the highest slot named, before anything runs).
  explicit TBinProg(std::string_view image, const std::vector<int>* variableSlots = nullptr,
                    int slotLimit = HAL_MAX_SLOTS);
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
  int CodeCount() const { return static_cast<int>(code_.size()); }
  const TProgItem& Code(int i) const { return code_[i]; }
  const std::vector<TValue>& Constants() const { return consts_; }
  TValue* Args() { return args_; }
  TObjHandle Self() const { return self_; }
  // Number of instruction sequences the load-time pass fused (for benchmarks and tests).
  // One line per instruction of the decoded program ("index: name a b c d +skip line n"), for tuning;
  // plain instructions show the image's fields, fused ones their jump targets as instruction indices.
  std::string Listing(bool fused = true) const;
  // Turns the fused instructions off (the plain instruction list then runs as written).
  void SetFusion(bool on) { fusion_ = on; }

  // Decoded instruction: op, a, b as in the image; c, d carry pre-read operands and fused fields;
  // e is the number of plain instructions a fused one skips; ln a line marker it performs first;
  // x: where a host call's argument slots start in hostArgs_. Jump targets are instruction indices
  // (labels resolved at load). 32 bytes, so that stepping through the code is a shift.
  struct TExec {
    int32_t op, a, b, c, d, e, ln, x;
  };
  static_assert(sizeof(TExec) == 32);

 private:
  void readImage(std::string_view image);
  void decode(int slotLimit);
  void fuse();
  void execute(int start, TStopFlag& stop);
  void callHost(const TExec& e);
  void callHostFused(const TExec& e);
  template <bool Fused>
  void callHostWith(const TExec& e);
  template <bool Fused>
  void callReader(const TExec& e, TValue (*reader)(const TValue*));
  void resolveLabels(std::vector<TExec>& code) const;
  void newArray(TValue& dest, int high);
  void storeElement(int arraySlot, int index, const TValue& v);
  void trace(const char* prefix, const std::string& text);
  [[noreturn]] static void invalidOp();
  [[noreturn]] static void compareError();

  std::vector<TValue> consts_;
  std::vector<int32_t> labels_;
  std::vector<TProgItem> code_;
  std::vector<TExec> exec_;
  // The code that runs: the fused (or plain) code without the instructions a fused one stands for,
  // so that every step is to the next entry and no step waits for a skip count read from memory;
  // jump fields hold run indices. at: instruction index -> run index (-1 inside a fused sequence).
  struct TRunCode {
    std::vector<TExec> code;
    std::vector<int32_t> at;
  };
  TRunCode run_;
  TRunCode runPlain_;  // made when first asked for
  void layOut(const std::vector<TExec>& from, TRunCode& to) const;
  // What fusion replaced: first instructions of fused sequences (label fields unresolved), and
  // the op codes of plain instructions that became fused forms in place.
  std::vector<std::pair<int, TExec>> unfused_;
  std::vector<std::pair<int, int32_t>> unfusedOps_;
  std::vector<TExec> buildPlain() const;
  void resolveOne(TExec& x) const;
  std::vector<int32_t> hostArgs_;  // argument slots of every host call, decoded once
  std::vector<bool> variableSlots_;
  int constBase_ = 0;         // constants are mirrored in read-only slots from here on
  std::vector<bool> starts_;  // which indices begin an instruction (labels must point at one)
  std::vector<TValue> slots_;
  TValue args_[HAL_ARGS];
  TValue lent_[HAL_ARGS];          // views of the argument slots while a reading-style function runs
  const TFunList& funs_ = Funs();  // the process-wide routine table, looked up once
  int returnStack_[HAL_RETURN_STACK] = {};
  int depth_ = 0;
  int base_ = 0;  // return-stack depth at which the current run ends
  int line_ = 1;
  TObjHandle self_ = 0;
  int debugLevel_ = 0;
  THalDebugOutput output_;
  int tag_ = 0;
  void* userData_ = nullptr;
  bool fusion_ = true;
};

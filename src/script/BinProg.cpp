// TBinProg: image reader, load-time validation and decoding, and everything around the run loop.
// The run loop itself is in BinProgRun.cpp, the load-time fusion of common sequences in BinProgFuse.cpp.
#include "script/BinProg.h"
#include "script/BinProgFast.h"

#include <algorithm>
#include <cstring>

#include "script/DynaVars.h"
#include "script/Registration.h"
#include "script/ScriptErrors.h"
#include "script/SpareBuffers.h"

namespace {
class TImageReader {
 public:
  explicit TImageReader(std::string_view d) : d_(d) {}
  int32_t Int() {
    need(4);
    int32_t v;
    std::memcpy(&v, d_.data() + p_, 4);
    p_ += 4;
    return v;
  }
  uint8_t Byte() {
    need(1);
    return static_cast<uint8_t>(d_[p_++]);
  }
  double Double() {
    need(8);
    double v;
    std::memcpy(&v, d_.data() + p_, 8);
    p_ += 8;
    return v;
  }
  std::string Text(size_t n) {
    need(n);
    std::string s(d_.substr(p_, n));
    p_ += n;
    return s;
  }
  // A count read from the image, checked against the bytes that remain.
  size_t Count(size_t minBytesEach) {
    const int32_t n = Int();
    if (n < 0 || static_cast<size_t>(n) * minBytesEach > d_.size() - p_) TBinProg::Error("Damaged program image");
    return static_cast<size_t>(n);
  }

 private:
  void need(size_t n) {
    if (d_.size() - p_ < n) TBinProg::Error("Damaged program image");
  }
  std::string_view d_;
  size_t p_ = 0;
};

}  // namespace

int HalOperandWords(const TProgItem& it) {
  switch (HalOpInfo(it.op).next) {
    case THalField::Slot:
      return 1;
    case THalField::Args:
      if (it.b < 0 || it.b >= Funs().Count()) return 0;
      return (Funs().Item(it.b).ParamCount + 2) / 3;
    default:
      return 0;
  }
}

TBinProg::TBinProg(std::string_view image, const std::vector<int>* variableSlots, int slotLimit)
    : code_(spare::Take<TProgItem>()),
      exec_(spare::Take<TExec>()),
      run_{spare::Take<TExec>(), spare::Take<int32_t>()},
      unfused_(spare::Take<std::pair<int, TExec>>()),
      hostArgs_(spare::Take<int32_t>()),
      slots_(spare::Take<TValue>()) {
  slotLimit = std::min(slotLimit, HAL_MAX_SLOTS);
  readImage(image);
  if (variableSlots) {
    for (int v : *variableSlots) {
      if (v < 0 || v >= slotLimit) continue;
      if (static_cast<size_t>(v) >= variableSlots_.size()) variableSlots_.resize(static_cast<size_t>(v) + 1, false);
      variableSlots_[static_cast<size_t>(v)] = true;
    }
    if (variableSlots_.empty()) variableSlots_.push_back(false);  // known: no variables (slots past the end are none)
  }
  decode(slotLimit);
}

TBinProg::~TBinProg() {
  spare::Give(code_);
  spare::Give(exec_);
  spare::Give(unfused_);
  spare::Give(hostArgs_);
  spare::Give(slots_);
  spare::Give(run_.code);
  spare::Give(run_.at);
}

void TBinProg::Error(const std::string& message) { throw ECompilerError(message); }

void TBinProg::readImage(std::string_view image) {
  TImageReader r(image);
  const size_t nc = r.Count(2);
  consts_.reserve(nc);
  for (size_t i = 0; i < nc; ++i) {
    switch (r.Byte()) {
      case 1:
        consts_.emplace_back(r.Int());
        break;
      case 2:
        consts_.emplace_back(r.Double());
        break;
      case 3:
        consts_.emplace_back(r.Text(r.Byte()));
        break;
      case 4:
        consts_.emplace_back(r.Byte() != 0);
        break;
      case 5: {
        const int32_t n = r.Int();
        if (n < 0) Error("Damaged program image");
        consts_.emplace_back(r.Text(static_cast<size_t>(n)));
        break;
      }
      default:
        Error("Unknown reader type");
    }
  }
  const size_t nl = r.Count(4);
  labels_.resize(nl);
  for (auto& l : labels_) l = r.Int();
  const size_t n = r.Count(12);
  code_.resize(n);
  for (auto& it : code_) {
    it.a = r.Int();
    it.b = r.Int();
    it.op = r.Int();
  }
}

// Checks every operand that the run loop uses unchecked, and sizes the slot array.
void TBinProg::decode(int slotLimit) {
  const int n = static_cast<int>(code_.size());
  std::vector<bool> start(static_cast<size_t>(n) + 1, false);
  int maxSlot = HAL_SLOTS - 1;
  // Field kinds come from the instruction table; immediates and host numbers are checked where used.
  auto field = [&](THalField kind, int v) {
    if ((kind == THalField::Slot && (v < 0 || v >= slotLimit)) ||
        (kind == THalField::Label && (v < 0 || v >= static_cast<int>(labels_.size()))) ||
        (kind == THalField::Const && (v < 0 || v >= static_cast<int>(consts_.size()))))
      Error("Damaged program image");
    if (kind == THalField::Slot && v > maxSlot) maxSlot = v;
  };
  exec_.assign(static_cast<size_t>(n) + 1, TExec{ocStop, 0, 0, 0, 0, 0, 0, 0});  // runs off the end into a stop
  for (int i = 0; i < n;) {
    const TProgItem& it = code_[static_cast<size_t>(i)];
    const THalOpInfo& info = HalOpInfo(it.op);
    start[static_cast<size_t>(i)] = true;
    TExec& e = exec_[static_cast<size_t>(i)];
    e = TExec{info.image ? it.op : ocInvalid, it.a, it.b, 0, 0, 0, 0, 0};
    const int words = HalOperandWords(it);
    if (i + words >= n) Error("Damaged program image");
    field(info.a, it.a);
    field(info.b, it.b);
    if (info.next == THalField::Slot) {  // pre-read, so that the run loop need not look at the word
      e.c = code_[static_cast<size_t>(i) + 1].a;
      field(THalField::Slot, e.c);
    }
    if (it.op == ocNewArray && (it.b < -1 || it.b > (1 << 24))) Error("Damaged program image");
    if (info.next == THalField::Args) {
      e.c = words;
      e.d = Funs().Count() > it.b && it.b >= 0 ? Funs().Item(it.b).ParamCount : 0;
      e.x = static_cast<int32_t>(hostArgs_.size());
      for (int k = 0; k < e.d; ++k) {
        const TProgItem& w = code_[static_cast<size_t>(i + 1 + k / 3)];
        hostArgs_.push_back(k % 3 == 0 ? w.op : k % 3 == 1 ? w.a : w.b);
        field(THalField::Slot, hostArgs_.back());
      }
    }
    i += 1 + words;
  }
  start[static_cast<size_t>(n)] = true;
  for (int32_t place : labels_)
    if (place < 0 || place > n || !start[static_cast<size_t>(place)]) Error("Damaged program image");
  starts_ = std::move(start);
  constBase_ = maxSlot + 1;
  slots_.assign(static_cast<size_t>(constBase_) + consts_.size(), TValue(int32_t(0)));
  for (size_t k = 0; k < consts_.size(); ++k) slots_[static_cast<size_t>(constBase_) + k] = consts_[k];
  fuse();
}

void TBinProg::Run(TStopFlag& stop, void* userData, THalDebugOutput output, int tag) {
  output_ = std::move(output);
  tag_ = tag;
  RunFrom(0, stop, userData);
}

void TBinProg::RunFrom(int start, TStopFlag& stop, void* userData) {
  if (start < 0 || start >= static_cast<int>(starts_.size()) || !starts_[static_cast<size_t>(start)])
    Error("Damaged program image");
  void* savedUser = userData_;
  const int savedBase = base_;
  userData_ = userData;
  base_ = depth_;  // a nested run (an event during a host call) ends at its own return
  line_ = 1;
  struct TRestore {
    TBinProg& p;
    void* user;
    int base;
    ~TRestore() {
      p.depth_ = p.base_;
      p.base_ = base;
      p.userData_ = user;
    }
  } restore{*this, savedUser, savedBase};
  try {
    execute(start, stop);
  } catch (const ERunTimeError& e) {
    throw ERunTimeError("Runtime error line " + std::to_string(line_) + ": " + e.what());
  }
}

void TBinProg::DebugOutput(const std::string& text) {
  if (output_) output_(tag_, text);
}

void TBinProg::_ocloadextvar(TValue& dest, int provider, int id) {
  if (provider < 0 || provider >= DynaVars().Count() || !DynaVars().Item(provider).GetVar)
    throw ERunTimeError("Unknown external variable provider");
  dest = DynaVars().Item(provider).GetVar(id);
}

void TBinProg::_ocstoreextvar(int provider, int id, const TValue& value) {
  if (provider < 0 || provider >= DynaVars().Count() || !DynaVars().Item(provider).SetVar)
    throw ERunTimeError("Unknown external variable provider");
  DynaVars().Item(provider).SetVar(id, value);
}

void TBinProg::_CallExtFun(TValue& result, const std::string& name,
                           const std::function<TValue(TObjHandle, const std::string&, TValue*, int)>& handler) {
  result = handler(self_, name, args_, HAL_ARG_HIGH);
}

// Plain and fused host calls: the fused form's argument list may move a temporary (a negative
// entry ~s moves slot s) and writes var parameters back to the plain slots listed from e.c on.
template <bool Fused>
void TBinProg::callHostWith(const TExec& e) {
  const TFunList& funs = funs_;
  const int entry = e.b;
  if (entry < 0 || entry >= funs.Count() || funs.Item(entry).ParamCount != e.d) [[unlikely]]
    throw ERunTimeError("Host routine table changed since the script was compiled");
  const TFunListItem& item = funs.Item(entry);
  if (item.Reader) return callReader<Fused>(e, item.Reader);
  const int n = e.d;
  TValue* s = slots_.data();
  const int32_t* argSlot = hostArgs_.data() + e.x;
  for (int k = 0; k < n; ++k) {
    const int32_t v = argSlot[k];
    if (!Fused || v >= 0)
      args_[k] = s[v];
    else
      args_[k] = std::move(s[~v]);
  }
  s[e.a] = item.Style2 ? item.Handler2(self_, userData_, args_, HAL_ARG_HIGH)
                       : item.Handler(self_, item.MethodName, args_, HAL_ARG_HIGH);
  const int32_t* backSlot = hostArgs_.data() + (Fused ? e.c : e.x);
  for (int k = 0; k < n; ++k)
    if (item.Kinds[k] == pkVar) s[backSlot[k]] = args_[k];
}

// A function that only reads its arguments sees the slots themselves: no reference counting per
// argument. It runs no script code, so nothing can change a slot while it looks.
template <bool Fused>
void TBinProg::callReader(const TExec& e, TValue (*reader)(const TValue*)) {
  const int n = e.d;
  TValue* s = slots_.data();
  const int32_t* argSlot = hostArgs_.data() + e.x;
  for (int k = 0; k < n; ++k) lent_[k].LendFrom(s[Fused && argSlot[k] < 0 ? ~argSlot[k] : argSlot[k]]);
  TValue result;
  try {
    result = reader(lent_);
  } catch (...) {
    for (int k = 0; k < n; ++k) lent_[k].EndLend();
    throw;
  }
  for (int k = 0; k < n; ++k) lent_[k].EndLend();
  if constexpr (Fused) {  // a temporary handed over is used up, as if it had been moved
    for (int k = 0; k < n; ++k)
      if (argSlot[k] < 0) s[~argSlot[k]] = TValue();
  }
  s[e.a] = std::move(result);
}

void TBinProg::callHost(const TExec& e) { callHostWith<false>(e); }

void TBinProg::callHostFused(const TExec& e) { callHostWith<true>(e); }

// The plain code: the fused code with what fusion replaced put back.
std::vector<TBinProg::TExec> TBinProg::buildPlain() const {
  std::vector<TExec> plain = exec_;
  for (const auto& [i, op] : unfusedOps_) plain[static_cast<size_t>(i)].op = op;
  for (const auto& [i, x] : unfused_) {
    plain[static_cast<size_t>(i)] = x;
    resolveOne(plain[static_cast<size_t>(i)]);
  }
  return plain;
}

namespace {
// Calls f on every field of x that holds a code place: a label number, then an instruction index,
// then a run index.
template <class F>
void forEachPlace(TBinProg::TExec& x, F&& f) {
  switch (x.op) {
    case ocJump:
    case ocCall:
    case ocFCall:
      f(x.a);
      break;
    case ocJumpFalse:
      f(x.b);
      break;
    case ocFIncLoop:
    case ocFDecLoop:
      f(x.x);
      f(x.d);
      break;
    case ocJGe:
    case ocJEq:
    case ocJLe:
    case ocJNe:
    case ocJGt:
    case ocJLt:
    case ocFIncJump:
    case ocFDecJump:
      f(x.d);
      break;
    default:
      break;
  }
}
}  // namespace

// Copies instruction starts and the operand words of plain instructions; a fused instruction
// comes without the e instructions it stands for, and jump fields become run indices.
void TBinProg::layOut(const std::vector<TExec>& from, TRunCode& to) const {
  const int n = static_cast<int>(code_.size());
  to.at.assign(static_cast<size_t>(n) + 1, -1);
  to.code.clear();
  to.code.reserve(from.size());
  int skipTo = 0;
  for (int i = 0; i < n; ++i) {
    if (i < skipTo) continue;
    const TExec& x = from[static_cast<size_t>(i)];
    if (!starts_[static_cast<size_t>(i)]) {  // an operand word: the run loop steps over it
      to.code.push_back(x);
      continue;
    }
    to.at[static_cast<size_t>(i)] = static_cast<int32_t>(to.code.size());
    to.code.push_back(x);
    if (!HalOpInfo(x.op).image) {
      skipTo = i + 1 + x.e;
      to.code.back().e = 0;
    }
  }
  to.at[static_cast<size_t>(n)] = static_cast<int32_t>(to.code.size());
  to.code.push_back(from[static_cast<size_t>(n)]);  // the stop after the end
  auto runIndex = [&](int32_t& place) {
    if (place < 0 || place > n || to.at[static_cast<size_t>(place)] < 0) Error("Damaged program image");
    place = to.at[static_cast<size_t>(place)];
  };
  for (int i = 0; i < n; ++i)
    if (to.at[static_cast<size_t>(i)] >= 0)
      forEachPlace(to.code[static_cast<size_t>(to.at[static_cast<size_t>(i)])], runIndex);
}

// Label numbers in jump fields become instruction indices, so that a jump is one add.
void TBinProg::resolveLabels(std::vector<TExec>& code) const {
  for (TExec& x : code) resolveOne(x);
}

void TBinProg::resolveOne(TExec& x) const {
  forEachPlace(x, [this](int32_t& label) { label = labels_[static_cast<size_t>(label)]; });
}

[[noreturn]] void TBinProg::invalidOp() { throw ECompilerError("Invalid opcode"); }

[[noreturn]] void TBinProg::compareError() { HalCompareError(); }

[[noreturn]] void HalCompareError() { throw ERunTimeError("Comparison of incompatible or invalid types"); }

void TBinProg::storeElement(int arraySlot, int index, const TValue& v) {
  slots_[static_cast<size_t>(arraySlot)].SetItem(index, v);
}

void TBinProg::newArray(TValue& dest, int high) { dest = TValue::NewArray(0, high); }

void TBinProg::trace(const char* prefix, const std::string& text) { DebugOutput(prefix + text); }

std::string TBinProg::Listing(bool fused) const {
  const std::vector<TExec> plain = fused ? std::vector<TExec>() : buildPlain();
  const std::vector<TExec>& code = fused ? exec_ : plain;
  std::string out;
  for (int i = 0; i < CodeCount();) {
    TExec x = code[static_cast<size_t>(i)];
    if (HalOpInfo(x.op).image) {  // the image's own fields (labels as numbers, not resolved places)
      x.a = code_[static_cast<size_t>(i)].a;
      x.b = code_[static_cast<size_t>(i)].b;
    }
    out += std::to_string(i) + ": " + HalOpName(x.op) + " " + std::to_string(x.a) + " " + std::to_string(x.b) + " " +
           std::to_string(x.c) + " " + std::to_string(x.d) + (x.e ? " +" + std::to_string(x.e) : "") +
           (x.ln ? " line " + std::to_string(x.ln) : "") + "\n";
    i += 1 + (HalOpInfo(x.op).image ? HalOperandWords(code_[static_cast<size_t>(i)]) : x.e);
  }
  return out;
}

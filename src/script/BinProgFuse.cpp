// Load-time fusion of common instruction sequences into single instructions (superinstructions).
// A fused instruction replaces the first instruction of its sequence; the rest stay in place for
// listings and the plain code, and the run code leaves them out. Sequences never contain a line
// marker, a call or a return, and no label or return address points inside one, so line numbers in
// errors and traces are exactly those of the plain code.
//
// Operands that the compiler always gives temporaries (the left and right operand of an operator,
// a condition, a constant load's destination) may be left unwritten, since the compiler never
// reads a temporary again after its consumer. Constants are read from read-only slots placed
// after the program's own slots, so that any operand can be a slot number.
#include <vector>

#include "script/BinProg.h"
#include "script/Registration.h"

namespace {
struct TMicro {
  int start, len;
  TBinProg::TExec x;
  bool fused = false;  // x differs from the plain instruction at start
  bool fresh = true;   // made (or first seen) in this pass or the one before
};

bool isBinary(int op) { return op >= ocAdd && op <= ocLt && op != ocNot; }
bool isCompare(int op) { return op >= ocGe && op <= ocLt; }
bool isFBin(int op) { return op >= ocFBin && op < ocFBin + 18; }
bool isChain(int op) { return op >= ocFChain && op < ocFChain + HAL_CHAIN_COUNT; }
int chainFirst(int op) {
  for (int i = 0; i < 6; ++i)
    if (HalChainFirst[i] == op) return i;
  return -1;
}
int chainSecond(int op) {
  for (int i = 0; i < 3; ++i)
    if (HalChainSecond[i] == op) return i;
  return -1;
}
// Field d of a fused binary operation: its destination is the operator's own temporary (which
// nothing reads after its consumer), not a variable.
constexpr int kTempDest = 1;

class TFuser {
 public:
  TFuser(const std::vector<bool>& target, const std::vector<bool>& variable, int constBase)
      : target_(target), variable_(variable), constBase_(constBase) {}

  // Returns true and sets out when x followed by y can run as one instruction.
  bool merge(const TBinProg::TExec& x, const TBinProg::TExec& y, TBinProg::TExec& out) const {
    if (y.ln) return false;  // a line marker inside a sequence must keep its place
    if (x.op == ocLine) return withLine(x.a, y, out);
    if (!mergeOps(x, y, out)) return false;
    out.ln = x.ln;
    return true;
  }

 private:
  // A line marker becomes a prefix of the fused form of the instruction after it.
  bool withLine(int line, const TBinProg::TExec& y, TBinProg::TExec& out) const {
    if (y.op >= ocFBin)
      out = y;
    else if (y.op == ocCopy)
      set(out, ocFCopy, y.a, y.b);
    else if (y.op == ocLoadConst)
      set(out, ocFCopy, y.a, constBase_ + y.b);
    else if (isBinary(y.op))
      set(out, ocFBin + y.op, y.a, y.a, y.b, kTempDest);
    else if (y.op == ocEntry || y.op == ocExit)
      set(out, y.op == ocEntry ? ocFEntry : ocFExit, y.a, 0);
    else
      return false;
    out.ln = line;
    return true;
  }

  bool mergeOps(const TBinProg::TExec& x, const TBinProg::TExec& y, TBinProg::TExec& out) const {
    // constant load into a temporary, read by the next instruction
    if (x.op == ocLoadConst && isTemp(x.a)) {
      const int u = x.a, k = constBase_ + x.b;
      if (isBinary(y.op) && y.b == u && y.a != u) return set(out, ocFBin + y.op, y.a, y.a, k, kTempDest);
      if (isBinary(y.op) && y.a == u && y.b != u) return set(out, ocFBin + y.op, u, k, y.b, kTempDest);
      if (isFBin(y.op) && (y.b == u || y.c == u))
        return set(out, y.op, y.a, y.b == u ? k : y.b, y.c == u ? k : y.c, y.d);
      if (isJCmp(y.op) && (y.b == u || y.c == u)) return set(out, y.op, 0, y.b == u ? k : y.b, y.c == u ? k : y.c, y.d);
      if ((y.op == ocCopy || y.op == ocFCopy) && y.b == u && y.a != u) return set(out, ocFCopy, y.a, k);
    }
    // variable (or constant) loaded into an operand's temporary
    if (x.op == ocCopy || x.op == ocFCopy) {
      if (isBinary(y.op) && y.a == x.a && y.b != x.a) return set(out, ocFBin + y.op, x.a, x.b, y.b, kTempDest);
      if (isFBin(y.op) && y.d == kTempDest && y.a == x.a && y.b == x.a && y.c != x.a)
        return set(out, y.op, x.a, x.b, y.c, kTempDest);
      // the copy is not written: only when it went to a temporary (after fusion a right operand may be
      // a variable, as in "k := 3; n := n + k") or the operation overwrites it anyway
      if (isFBin(y.op) && y.c == x.a && y.b != x.a && (isTemp(x.a) || y.a == x.a))
        return set(out, y.op, y.a, y.b, x.b, y.d);
      if (isFBin(y.op) && y.b == x.a && y.c != x.a && isTemp(x.a)) return set(out, y.op, y.a, x.b, y.c, y.d);
      // right operand copied into its temporary: read it where it is
      if (isBinary(y.op) && y.b == x.a && y.a != x.a && isTemp(x.a))
        return set(out, ocFBin + y.op, y.a, y.a, x.b, kTempDest);
    }
    // result stored into a variable: the temporary is not written
    if (y.op == ocCopy && y.a != y.b) {
      if (isBinary(x.op) && y.b == x.a) return set(out, ocFBin + x.op, y.a, x.a, x.b);
      if (isFBin(x.op) && x.d == kTempDest && y.b == x.a) return set(out, x.op, y.a, x.b, x.c);
    }
    // two operations, the second reading the first's temporary
    if (isFBin(x.op) && isFBin(y.op) && x.d == kTempDest && isTemp(x.a) && chainFirst(x.op - ocFBin) >= 0 &&
        chainSecond(y.op - ocFBin) >= 0) {
      const int first = chainFirst(x.op - ocFBin), second = chainSecond(y.op - ocFBin);
      int shape = -1, other = 0;
      if (y.c == x.a && y.b != x.a) shape = 0, other = y.b;
      if (y.b == x.a && y.c != x.a) shape = 1, other = y.c;
      if (shape >= 0) {
        set(out, ocFChain + (shape * 3 + second) * 6 + first, y.a, x.b, x.c, other);
        out.x = y.d;
        return true;
      }
    }
    // a chain's result stored into a variable
    if (isChain(x.op) && x.x == kTempDest && y.op == ocCopy && y.b == x.a && y.a != y.b) {
      out = x;
      out.a = y.a;
      out.x = 0;
      return true;
    }
    // comparison followed by a jump on its result
    if (y.op == ocJumpFalse) {
      if (isCompare(x.op) && y.a == x.a) return set(out, ocFJCmp + (x.op - ocGe), 0, x.a, x.b, y.b);
      if (isFBin(x.op) && x.d == kTempDest && isCompare(x.op - ocFBin) && y.a == x.a)
        return set(out, ocFJCmp + (x.op - ocFBin - ocGe), 0, x.b, x.c, y.b);
    }
    // loop step and jump back
    if ((x.op == ocInc || x.op == ocDec) && y.op == ocJump)
      return set(out, x.op == ocInc ? ocFIncJump : ocFDecJump, x.a, 0, 0, y.a);
    // copy through a temporary
    if ((x.op == ocCopy || x.op == ocFCopy) && y.op == ocCopy && y.b == x.a && isTemp(x.a) && y.a != x.a)
      return set(out, ocFCopy, y.a, x.b);
    // two copies in a row (arguments into parameters)
    if (copyPairs_ && (x.op == ocCopy || x.op == ocFCopy) && (y.op == ocCopy || y.op == ocFCopy))
      return set(out, ocFCopy2, x.a, x.b, y.a, y.b);
    return false;
  }

 public:
  // "t := x; u := <op>; t := t <op2> u" becomes "u := <op>; t := x <op2> u" (two instructions), when
  // the middle one neither reads t nor writes x. t and u are temporaries.
  bool reorder(const TMicro& x, const TMicro& y, const TMicro& z, TMicro& a, TMicro& b) const {
    if (target_[static_cast<size_t>(y.start)] || target_[static_cast<size_t>(z.start)]) return false;
    if (!fusable(x) || !fusable(y) || !fusable(z) || y.x.ln || z.x.ln) return false;
    if (x.x.op != ocCopy && x.x.op != ocFCopy) return false;
    const int t = x.x.a, src = x.x.b;
    const TBinProg::TExec& m = y.x;
    if (!isFBin(m.op) || m.d != kTempDest || m.a == t || m.b == t || m.c == t || m.a == src) return false;
    const int u = m.a;
    TBinProg::TExec out;
    if (isBinary(z.x.op) && z.x.a == t && z.x.b == u)
      set(out, ocFBin + z.x.op, t, src, u, kTempDest);
    else if (isFBin(z.x.op) && z.x.b == t && z.x.c == u && z.x.a != u && isTemp(t))  // t may be a variable here
      set(out, z.x.op, z.x.a, src, u, z.x.d);
    else
      return false;
    a = TMicro{x.start, x.len + y.len, m, true};
    a.x.ln = x.x.ln;
    b = TMicro{z.start, z.len, out, true};
    return true;
  }

  // One pass over list, compacted in place (an entry is written no later than it is read). Only a
  // window with a fresh entry can fuse: every other window was tried in an earlier pass of this
  // round, with the same entries and so the same outcome.
  void pass(std::vector<TMicro>& list, bool& changed) const {
    const size_t n = list.size();
    size_t w = 0;
    for (size_t j = 0; j < n; ++j) {
      TMicro ra, rb;
      if (j + 2 < n && (list[j].fresh || list[j + 1].fresh || list[j + 2].fresh) &&
          reorder(list[j], list[j + 1], list[j + 2], ra, rb)) {
        list[w++] = ra;
        list[w++] = rb;
        j += 2;
        changed = true;
        continue;
      }
      TBinProg::TExec m;
      if (j + 1 < n && (list[j].fresh || list[j + 1].fresh) && !target_[static_cast<size_t>(list[j + 1].start)] &&
          fusable(list[j]) && fusable(list[j + 1]) && merge(list[j].x, list[j + 1].x, m)) {
        const TMicro f{list[j].start, list[j].len + list[j + 1].len, m, true, true};
        list[w++] = f;
        ++j;
        changed = true;
      } else {
        if (w != j) list[w] = list[j];
        list[w++].fresh = false;
      }
    }
    list.resize(w);
  }

 private:
  static bool isJCmp(int op) { return op >= ocFJCmp && op < ocFJCmp + 6; }

 public:
  bool isTemp(int slot) const {
    return !variable_.empty() && (slot >= static_cast<int>(variable_.size()) || !variable_[static_cast<size_t>(slot)]);
  }

 private:
  static bool fusable(const TMicro& m) {
    const int op = m.x.op;
    return op != ocCall && op != ocReturn && op != ocCallHost && op != ocFCallHost && op != ocLoadExt &&
           op != ocStoreExt && op != ocStoreElem && op != ocStop;
  }
  static bool set(TBinProg::TExec& out, int op, int a, int b, int c = 0, int d = 0) {
    out = TBinProg::TExec{op, a, b, c, d, 0, 0, 0};
    return true;
  }

 public:
  bool copyPairs_ = false;  // last round only: pairs of copies would hide the better fusions above

 private:
  const std::vector<bool>& target_;
  const std::vector<bool>& variable_;
  int constBase_;
};
// A host call's argument loads (constants and copies into temporaries) straight before it are
// folded into it: the call reads the constant or variable where it is. Temporaries passed by
// value are moved into the argument array (nothing reads a temporary after its consumer), which
// spares the reference counting of strings. Parameters by reference keep their plain slots.
void fuseHostCalls(std::vector<TMicro>& list, const std::vector<bool>& target, const TFuser& fuser, int constBase,
                   std::vector<int32_t>& hostArgs, std::vector<TMicro>& out) {
  out.clear();
  for (size_t j = 0; j < list.size(); ++j) {
    const TMicro& call = list[j];
    const int entry = call.x.b;
    if (call.x.op != ocCallHost || call.fused || entry < 0 || entry >= Funs().Count() ||
        Funs().Item(entry).ParamCount != call.x.d) {
      out.push_back(call);
      continue;
    }
    const TFunListItem& item = Funs().Item(entry);
    const int n = call.x.d;
    std::vector<int32_t> args(hostArgs.begin() + call.x.x, hostArgs.begin() + call.x.x + n);
    auto valueArgOnly = [&](int slot) {  // slot is an argument, and never one by reference
      bool used = false;
      for (int k = 0; k < n; ++k)
        if (args[static_cast<size_t>(k)] == slot) {
          if (item.Kinds[k] == pkVar) return false;
          used = true;
        }
      return used;
    };
    // walk back over the loads; what they load into is read from their source instead
    std::vector<std::pair<int, int>> subst;  // temporary, source
    size_t first = out.size();
    int len = call.len;
    while (first > 0 && !target[static_cast<size_t>(first == out.size() ? call.start : out[first].start)]) {
      const TMicro& m = out[first - 1];
      const bool load = m.x.op == ocLoadConst || m.x.op == ocCopy || m.x.op == ocFCopy;
      if (!load || !fuser.isTemp(m.x.a) || !valueArgOnly(m.x.a)) break;
      const int dest = m.x.a, src = m.x.op == ocLoadConst ? constBase + m.x.b : m.x.b;
      bool clash = false;
      for (const auto& [d, sr] : subst) clash = clash || d == dest || sr == dest || d == src;
      if (clash) break;
      subst.emplace_back(dest, src);
      len += m.len;
      --first;
      if (m.x.ln) break;  // its line marker becomes the fused call's prefix
    }
    std::vector<int32_t> fused = args;
    std::vector<bool> replaced(static_cast<size_t>(n), false);
    for (int k = 0; k < n; ++k)
      for (const auto& [d, sr] : subst)
        if (fused[static_cast<size_t>(k)] == d) {
          fused[static_cast<size_t>(k)] = sr;
          replaced[static_cast<size_t>(k)] = true;
        }
    bool changed = !subst.empty();
    // a temporary read once (after the substitutions) can be moved
    for (int k = 0; k < n; ++k) {
      const int32_t a = fused[static_cast<size_t>(k)];
      if (replaced[static_cast<size_t>(k)] || item.Kinds[k] == pkVar || !fuser.isTemp(a)) continue;
      int uses = 0;
      for (int32_t other : fused) uses += other == a || other == ~a;
      if (uses == 1) {
        fused[static_cast<size_t>(k)] = ~a;
        changed = true;
      }
    }
    if (!changed) {
      out.push_back(call);
      continue;
    }
    TBinProg::TExec x = call.x;
    x.op = ocFCallHost;
    x.ln = first < out.size() ? out[first].x.ln : 0;
    x.c = call.x.x;  // the plain slots, for writing back parameters by reference
    x.x = static_cast<int32_t>(hostArgs.size());
    hostArgs.insert(hostArgs.end(), fused.begin(), fused.end());
    const int start = first < out.size() ? out[first].start : call.start;
    out.resize(first);
    out.push_back(TMicro{start, len, x, true});
  }
  list.swap(out);
}
}  // namespace

void TBinProg::fuse() {
  const int n = static_cast<int>(code_.size());
  std::vector<bool> target(static_cast<size_t>(n) + 1, false);
  for (int32_t place : labels_) target[static_cast<size_t>(place)] = true;
  // The pass buffers stay with the thread: fresh pages for every load cost more than the fusion.
  thread_local std::vector<TMicro> list, spare;  // they swap: both keep room for the whole program
  list.clear();
  list.reserve(static_cast<size_t>(n));
  spare.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n;) {
    const int len = 1 + HalOperandWords(code_[static_cast<size_t>(i)]);
    if (code_[static_cast<size_t>(i)].op == ocCall) target[static_cast<size_t>(i + len)] = true;  // return address
    list.push_back({i, len, exec_[static_cast<size_t>(i)], false});
    i += len;
  }
  TFuser fuser(target, variableSlots_, constBase_);
  for (int round = 0; round < 2; ++round) {
    fuser.copyPairs_ = round == 1;
    for (TMicro& m : list) m.fresh = true;  // the rules changed: every window is new
    for (bool changed = true; changed;) {
      changed = false;
      fuser.pass(list, changed);
    }
    if (round == 0) fuseHostCalls(list, target, fuser, constBase_, hostArgs_, spare);
  }
  size_t fusedCount = 0;
  for (const TMicro& m : list) fusedCount += m.fused;
  unfused_.reserve(fusedCount);
  for (const TMicro& m : list) {
    if (!m.fused) continue;
    TExec x = m.x;
    x.e = m.len - 1;  // instructions to skip after this one
    unfused_.emplace_back(m.start, exec_[static_cast<size_t>(m.start)]);
    exec_[static_cast<size_t>(m.start)] = x;
  }
  resolveLabels(exec_);
  // Jumps into a known next instruction: the loop step runs the loop test, a call the routine's
  // entry, an exit its return, without a dispatch in between.
  for (int i = 0; i < n;) {
    TExec& x = exec_[static_cast<size_t>(i)];
    const int len = 1 + (HalOpInfo(x.op).image ? HalOperandWords(code_[static_cast<size_t>(i)]) : x.e);
    if (x.op == ocFIncJump && exec_[static_cast<size_t>(x.d)].op == ocJLe) {
      x.op = ocFIncLoop;
      x.x = x.d;
    } else if (x.op == ocFDecJump && exec_[static_cast<size_t>(x.d)].op == ocJGe) {
      x.op = ocFDecLoop;
      x.x = x.d;
    } else if (x.op == ocCall &&
               (exec_[static_cast<size_t>(x.a)].op == ocFEntry || exec_[static_cast<size_t>(x.a)].op == ocEntry)) {
      unfusedOps_.emplace_back(i, x.op);
      x.op = ocFCall;
    } else if ((x.op == ocFExit || x.op == ocExit) && exec_[static_cast<size_t>(i + len)].op == ocReturn) {
      if (x.op == ocExit) unfusedOps_.emplace_back(i, x.op);
      x.op = ocFExitRet;
    }
    i += len;
  }
  layOut(exec_, run_);
}

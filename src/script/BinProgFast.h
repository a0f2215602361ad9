// Inline fast paths of the run loop for integers, reals and booleans; everything else falls back
// to the value type's general operators. Internal to the interpreter.
#pragma once
#include "script/Opcodes.h"
#include "script/ScriptErrors.h"
#include "script/Value.h"
#include "script/ValueOps.h"

[[noreturn]] void HalCompareError();

inline bool isNum(TVarKind k) { return k == TVarKind::Integer || k == TVarKind::Real; }
inline double numOf(const TValue& v) { return v.Kind() == TVarKind::Integer ? v.IntVal() : v.RealVal(); }

inline void fastAdd(TValue& x, const TValue& y) {
  if (x.Kind() == TVarKind::Integer && y.Kind() == TVarKind::Integer) {
    int32_t r;
    if (!__builtin_add_overflow(x.IntVal(), y.IntVal(), &r)) return x.SetIntRaw(r);
  } else if (isNum(x.Kind()) && isNum(y.Kind())) {
    return x.SetRealRaw(numOf(x) + numOf(y));
  }
  ValueBinary(voAdd, x, y);
}

inline void fastSub(TValue& x, const TValue& y) {
  if (x.Kind() == TVarKind::Integer && y.Kind() == TVarKind::Integer) {
    int32_t r;
    if (!__builtin_sub_overflow(x.IntVal(), y.IntVal(), &r)) return x.SetIntRaw(r);
  } else if (isNum(x.Kind()) && isNum(y.Kind())) {
    return x.SetRealRaw(numOf(x) - numOf(y));
  }
  ValueBinary(voSub, x, y);
}

inline void fastMul(TValue& x, const TValue& y) {
  if (x.Kind() == TVarKind::Integer && y.Kind() == TVarKind::Integer) {
    int32_t r;
    if (!__builtin_mul_overflow(x.IntVal(), y.IntVal(), &r)) return x.SetIntRaw(r);
  } else if (isNum(x.Kind()) && isNum(y.Kind())) {
    return x.SetRealRaw(numOf(x) * numOf(y));
  }
  ValueBinary(voMul, x, y);
}

inline void fastDiv(TValue& x, const TValue& y) {
  if (isNum(x.Kind()) && isNum(y.Kind()) && numOf(y) != 0.0) return x.SetRealRaw(numOf(x) / numOf(y));
  ValueBinary(voDiv, x, y);
}

// div and mod truncate toward zero; zero divisors and the one overflowing case take the slow path.
inline void fastIntDiv(TValue& x, const TValue& y) {
  if (x.Kind() == TVarKind::Integer && y.Kind() == TVarKind::Integer && y.IntVal() != 0 && y.IntVal() != -1)
    return x.SetIntRaw(x.IntVal() / y.IntVal());
  ValueBinary(voIntDiv, x, y);
}

inline void fastMod(TValue& x, const TValue& y) {
  if (x.Kind() == TVarKind::Integer && y.Kind() == TVarKind::Integer && y.IntVal() != 0 && y.IntVal() != -1)
    return x.SetIntRaw(x.IntVal() % y.IntVal());
  ValueBinary(voMod, x, y);
}

inline void fastLogic(int op, TValue& x, const TValue& y) {
  if (x.Kind() == TVarKind::Boolean && y.Kind() == TVarKind::Boolean) {
    const bool a = x.BoolVal(), b = y.BoolVal();
    return x.SetBoolRaw(op == voAnd ? (a && b) : op == voOr ? (a || b) : (a != b));
  }
  if (x.Kind() == TVarKind::Integer && y.Kind() == TVarKind::Integer) {
    const int32_t a = x.IntVal(), b = y.IntVal();
    return x.SetIntRaw(op == voAnd ? (a & b) : op == voOr ? (a | b) : (a ^ b));
  }
  ValueBinary(op, x, y);
}

template <int OP, class T>
inline bool orderResult(T a, T b) {
  if constexpr (OP == voGe) return a >= b;
  if constexpr (OP == voEq) return a == b;
  if constexpr (OP == voLe) return a <= b;
  if constexpr (OP == voNe) return a != b;
  if constexpr (OP == voGt) return a > b;
  if constexpr (OP == voLt) return a < b;
}

// The interpreter admits equal kinds, or a real with an integer or a boolean (converted to real).
template <int OP>
inline bool fastCompare(const TValue& x, const TValue& y) {
  const TVarKind kx = x.Kind(), ky = y.Kind();
  if (kx == ky) {
    if (kx == TVarKind::Integer) return orderResult<OP>(x.IntVal(), y.IntVal());
    if (kx == TVarKind::Real) return ValueCompare(OP, x, y);
    return ValueCompare(OP, x, y);
  }
  if (kx == TVarKind::Real && (ky == TVarKind::Integer || ky == TVarKind::Boolean))
    return ValueCompare(OP, x, TValue(y.AsReal()));
  if (ky == TVarKind::Real && (kx == TVarKind::Integer || kx == TVarKind::Boolean))
    return ValueCompare(OP, TValue(x.AsReal()), y);
  HalCompareError();
}

// Truth of a condition: non-zero integers and reals, true booleans; other kinds are an error.
inline bool isTrue(const TValue& v) {
  switch (v.Kind()) {
    case TVarKind::Integer:
      return v.IntVal() != 0;
    case TVarKind::Real:
      return v.RealVal() != 0.0;
    case TVarKind::Boolean:
      return v.BoolVal();
    default:
      HalCompareError();
  }
}

// d := x <op> y for +, -, *: integers and reals inline, everything else through the general rules.
// x and y are read before d is written (they may alias it).
template <int OP>
inline void fused3(TValue& d, const TValue& x, const TValue& y) {
  const TVarKind kx = x.Kind(), ky = y.Kind();
  if (kx == TVarKind::Integer && ky == TVarKind::Integer) {
    int32_t r = 0;
    bool overflow = true;
    if constexpr (OP == voAdd) overflow = __builtin_add_overflow(x.IntVal(), y.IntVal(), &r);
    if constexpr (OP == voSub) overflow = __builtin_sub_overflow(x.IntVal(), y.IntVal(), &r);
    if constexpr (OP == voMul) overflow = __builtin_mul_overflow(x.IntVal(), y.IntVal(), &r);
    if constexpr (OP == voIntDiv || OP == voMod) {
      overflow = y.IntVal() == 0 || y.IntVal() == -1;
      if (!overflow) r = OP == voIntDiv ? x.IntVal() / y.IntVal() : x.IntVal() % y.IntVal();
    }
    if constexpr (OP == voDiv) overflow = true;
    if (!overflow) {
      if (d.IsInline()) return d.SetIntRaw(r);
      return d.SetInt(r);
    }
  }
  if constexpr (OP == voAdd || OP == voSub || OP == voMul || OP == voDiv) {
    if (isNum(kx) && isNum(ky) && (OP != voDiv || numOf(y) != 0.0)) {
      const double a = numOf(x), b = numOf(y);
      const double r = OP == voAdd ? a + b : OP == voSub ? a - b : OP == voMul ? a * b : a / b;
      if (d.IsInline()) return d.SetRealRaw(r);
      return d.SetReal(r);
    }
  }
  // s := s + t: the general rule appends in place, or fails before it changes d
  if constexpr (OP == voAdd)
    if (&d == &x && kx == TVarKind::String && ky == TVarKind::String) return ValueBinary(voAdd, d, y);
  TValue t = x;
  ValueBinary(OP, t, y);
  d = std::move(t);
}

inline void fusedSlow(int op, TValue& d, const TValue& x, const TValue& y) {
  TValue t = x;
  ValueBinary(op, t, y);
  d = std::move(t);
}

// A chained pair of operations (see HAL_CHAIN_OPS): the first result stays in a local.
template <int CODE>
inline void fusedChain(TValue& a, const TValue& b, const TValue& c, const TValue& d) {
  constexpr int i = CODE - ocFChain;
  constexpr int first = HalChainFirst[i % 6], second = HalChainSecond[(i / 6) % 3];
  // integers throughout: no intermediate value at all
  if (b.Kind() == TVarKind::Integer && c.Kind() == TVarKind::Integer && d.Kind() == TVarKind::Integer && a.IsInline()) {
    int32_t t = 0, r = 0;
    bool bad = true;
    if constexpr (first == voAdd) bad = __builtin_add_overflow(b.IntVal(), c.IntVal(), &t);
    if constexpr (first == voSub) bad = __builtin_sub_overflow(b.IntVal(), c.IntVal(), &t);
    if constexpr (first == voMul) bad = __builtin_mul_overflow(b.IntVal(), c.IntVal(), &t);
    if constexpr (first == voIntDiv || first == voMod) {
      bad = c.IntVal() == 0 || c.IntVal() == -1;
      if (!bad) t = first == voIntDiv ? b.IntVal() / c.IntVal() : b.IntVal() % c.IntVal();
    }
    if (!bad) {
      const int32_t x = i / 18 == 0 ? d.IntVal() : t, y = i / 18 == 0 ? t : d.IntVal();
      if constexpr (second == voAdd) bad = __builtin_add_overflow(x, y, &r);
      if constexpr (second == voSub) bad = __builtin_sub_overflow(x, y, &r);
      if constexpr (second == voMul) bad = __builtin_mul_overflow(x, y, &r);
      if (!bad) return a.SetIntRaw(r);
    }
  }
  // a real first result (a real operand, or a division): the second operation is real too
  if constexpr (first != voIntDiv && first != voMod) {
    const TVarKind kb = b.Kind(), kc = c.Kind();
    if (isNum(kb) && isNum(kc) && isNum(d.Kind()) && a.IsInline() &&
        (first == voDiv || kb == TVarKind::Real || kc == TVarKind::Real) && (first != voDiv || numOf(c) != 0.0)) {
      const double x = numOf(b), y = numOf(c), z = numOf(d);
      const double t = first == voAdd ? x + y : first == voSub ? x - y : first == voMul ? x * y : x / y;
      const double p = i / 18 == 0 ? z : t, q = i / 18 == 0 ? t : z;
      return a.SetRealRaw(second == voAdd ? p + q : second == voSub ? p - q : p * q);
    }
  }
  TValue t;
  fused3<first>(t, b, c);
  if constexpr (i / 18 == 0)
    fused3<second>(a, d, t);
  else
    fused3<second>(a, t, d);
}

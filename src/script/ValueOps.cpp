// Operators of the value type: the category table and the rules per category.
#include "script/ValueOps.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "script/ScriptErrors.h"

namespace {
enum TCat { cNone, cNull, cInt, cReal, cCur, cStr, cBool, cDate };

TCat category(TVarKind k) {
  switch (k) {
    case TVarKind::Null:
      return cNull;
    case TVarKind::Integer:
      return cInt;
    case TVarKind::Real:
      return cReal;
    case TVarKind::Currency:
      return cCur;
    case TVarKind::String:
      return cStr;
    case TVarKind::Boolean:
      return cBool;
    case TVarKind::Date:
      return cDate;
    default:
      return cNone;
  }
}

// R[left][right], in the order none, null, integer, real, currency, string, boolean, date.
constexpr TCat kRule[8][8] = {
    {cNone, cNone, cNone, cNone, cNone, cNone, cNone, cNone}, {cNone, cNull, cNull, cNull, cNull, cNull, cNull, cNull},
    {cNone, cNull, cInt, cReal, cCur, cReal, cInt, cDate},    {cNone, cNull, cReal, cReal, cCur, cReal, cReal, cDate},
    {cNone, cNull, cCur, cCur, cCur, cCur, cCur, cDate},      {cNone, cNull, cReal, cReal, cCur, cStr, cBool, cDate},
    {cNone, cNull, cInt, cReal, cCur, cBool, cBool, cDate},   {cNone, cNull, cDate, cDate, cDate, cDate, cDate, cDate},
};

constexpr size_t kMaxText = size_t(1) << 28;

[[noreturn]] void invalidOp() { throw EVariantError("Invalid variant operation"); }
[[noreturn]] void divZero() { throw EVariantError("Division by zero"); }

// div, mod, shl, shr, and, or, xor on 32-bit integers.
int32_t intOp(int op, int32_t x, int32_t y) {
  switch (op) {
    case voIntDiv:
      if (y == 0) divZero();
      if (x == INT32_MIN && y == -1) throw EVariantError("Arithmetic overflow");
      return x / y;  // truncates toward zero
    case voMod:
      if (y == 0) divZero();
      if (y == -1) return 0;
      return x % y;
    case voShl:
      return static_cast<int32_t>(static_cast<uint32_t>(x) << (y & 31));
    case voShr:
      return static_cast<int32_t>(static_cast<uint32_t>(x) >> (y & 31));
    case voAnd:
      return x & y;
    case voOr:
      return x | y;
    case voXor:
      return x ^ y;
  }
  invalidOp();
}

bool isIntOnly(int op) {
  return op == voIntDiv || op == voMod || op == voShl || op == voShr || op == voAnd || op == voOr || op == voXor;
}

void integerRule(int op, TValue& l, const TValue& r) {
  const int32_t x = l.AsInteger(), y = r.AsInteger();
  int64_t w;
  switch (op) {
    case voAdd:
      w = int64_t(x) + y;
      break;
    case voSub:
      w = int64_t(x) - y;
      break;
    case voMul:
      w = int64_t(x) * y;
      break;
    case voDiv:
      if (y == 0) divZero();
      l.SetReal(double(x) / double(y));
      return;
    default:
      l.SetInt(intOp(op, x, y));
      return;
  }
  if (w < INT32_MIN || w > INT32_MAX)
    l.SetReal(double(w));
  else
    l.SetInt(static_cast<int32_t>(w));
}

double realArith(int op, double x, double y) {
  switch (op) {
    case voAdd:
      return x + y;
    case voSub:
      return x - y;
    case voMul:
      return x * y;
    case voDiv:
      if (y == 0.0) divZero();
      return x / y;
  }
  invalidOp();
}

void realRule(int op, TValue& l, const TValue& r) {
  if (isIntOnly(op)) {
    l.SetInt(intOp(op, l.AsInteger(), r.AsInteger()));
    return;
  }
  l.SetReal(realArith(op, l.AsReal(), r.AsReal()));
}

void currencyRule(int op, TValue& l, const TValue& r) {
  if (isIntOnly(op)) {
    l.SetInt(intOp(op, l.AsInteger(), r.AsInteger()));
    return;
  }
  const double x = l.AsReal(), y = r.AsReal();
  if (op == voDiv && l.Kind() == TVarKind::Currency && r.Kind() == TVarKind::Currency) {
    l.SetReal(realArith(op, x, y));  // currency / currency is a plain ratio
    return;
  }
  l = TValue::Currency(realArith(op, x, y));
}

void dateRule(int op, TValue& l, const TValue& r) {
  if (isIntOnly(op)) {
    l.SetInt(intOp(op, l.AsInteger(), r.AsInteger()));
    return;
  }
  const bool bothDates = l.Kind() == TVarKind::Date && r.Kind() == TVarKind::Date;
  const double v = realArith(op, l.AsReal(), r.AsReal());
  if ((op == voAdd || op == voSub) && !(op == voSub && bothDates))
    l = TValue::Date(v);
  else
    l.SetReal(v);
}

void booleanRule(int op, TValue& l, const TValue& r) {
  if (op == voAnd || op == voOr || op == voXor) {
    const bool x = l.AsBoolean(), y = r.AsBoolean();
    l.SetBool(op == voAnd ? (x && y) : op == voOr ? (x || y) : (x != y));
    return;
  }
  realRule(op, l, r);
}

int compareStrings(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

template <class T>
int cmp3(T x, T y) {
  return x < y ? -1 : (y < x ? 1 : 0);
}

bool fromOrder(int op, int c) {
  switch (op) {
    case voGe:
      return c >= 0;
    case voEq:
      return c == 0;
    case voLe:
      return c <= 0;
    case voNe:
      return c != 0;
    case voGt:
      return c > 0;
    case voLt:
      return c < 0;
  }
  invalidOp();
}

// Reals compare unordered (NaN) as unequal to everything.
bool realCompare(int op, double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return op == voNe;
  return fromOrder(op, cmp3(x, y));
}
}  // namespace

void ValueBinary(int op, TValue& left, const TValue& right) {
  switch (kRule[category(left.Kind())][category(right.Kind())]) {
    case cNone:
      invalidOp();
    case cNull:
      left = TValue::Null();
      return;
    case cInt:
      integerRule(op, left, right);
      return;
    case cReal:
      realRule(op, left, right);
      return;
    case cCur:
      currencyRule(op, left, right);
      return;
    case cStr:
      if (op == voAdd) {
        // a script that keeps doubling a text gets an error instead of exhausting memory
        if (left.StrVal().size() + right.StrVal().size() > kMaxText) throw ERunTimeError("String too long");
        if (left.AppendUnique(right.StrVal())) return;  // a text built piece by piece grows in place
        left = TValue(left.StrVal() + right.StrVal());
        return;
      }
      realRule(op, left, right);
      return;
    case cBool:
      booleanRule(op, left, right);
      return;
    case cDate:
      dateRule(op, left, right);
      return;
  }
}

void ValueNegate(TValue& v) {
  switch (v.Kind()) {
    case TVarKind::Integer:
      if (v.IntVal() == INT32_MIN)
        v.SetReal(2147483648.0);
      else
        v.SetInt(-v.IntVal());
      return;
    case TVarKind::Real:
      v.SetReal(-v.RealVal());
      return;
    case TVarKind::Date:
      v = TValue::Date(-v.RealVal());
      return;
    case TVarKind::Currency:
      v = TValue::CurrencyScaled(-v.CurrencyScaledVal());
      return;
    case TVarKind::Boolean:
      v.SetInt(v.BoolVal() ? 1 : 0);
      return;
    case TVarKind::String:
      v.SetReal(-v.AsReal());
      return;
    case TVarKind::Null:
      return;
    default:
      invalidOp();
  }
}

void ValueNot(TValue& v) {
  switch (v.Kind()) {
    case TVarKind::Boolean:
      v.SetBool(!v.BoolVal());
      return;
    case TVarKind::Integer:
      v.SetInt(~v.IntVal());
      return;
    case TVarKind::Real:
    case TVarKind::Date:
    case TVarKind::Currency:
      v.SetInt(~v.AsInteger());
      return;
    case TVarKind::String: {
      int32_t i;
      if (TextToInt(v.StrVal(), i)) {
        v.SetInt(~i);
        return;
      }
      double d;
      if (TextToReal(v.StrVal(), d)) {
        v.SetInt(~RoundToInt32(d));
        return;
      }
      v.SetBool(!v.AsBoolean());
      return;
    }
    case TVarKind::Null:
      return;
    default:
      invalidOp();
  }
}

bool ValueCompare(int op, const TValue& left, const TValue& right) {
  const TCat rule = kRule[category(left.Kind())][category(right.Kind())];
  switch (rule) {
    case cNone:
      invalidOp();
    case cNull:
      // Null equals only Null; every ordering with Null is false
      if (op == voEq) return left.IsNull() && right.IsNull();
      if (op == voNe) return !(left.IsNull() && right.IsNull());
      return false;
    case cInt:
      return fromOrder(op, cmp3(left.AsInteger(), right.AsInteger()));
    case cBool:
      return fromOrder(op, cmp3(left.AsBoolean() ? -1 : 0, right.AsBoolean() ? -1 : 0));
    case cStr:
      return fromOrder(op, compareStrings(left.StrVal(), right.StrVal()));
    case cCur:
      return fromOrder(op, cmp3(left.AsReal(), right.AsReal()));
    default:
      return realCompare(op, left.AsReal(), right.AsReal());
  }
}

bool ValueEquals(const TValue& left, const TValue& right) { return ValueCompare(voEq, left, right); }

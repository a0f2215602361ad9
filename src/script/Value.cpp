// TValue: construction, buffers, conversions and the text forms of numbers.
#include "script/Value.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "script/ScriptErrors.h"

using valuedetail::TArrBuf;
using valuedetail::TStrBuf;

namespace {
[[noreturn]] void convError(TVarKind from, const char* to) {
  throw EVariantError(std::string("Could not convert variant of type (") + TValue::KindName(from) + ") into type (" +
                      to + ")");
}
[[noreturn]] void notArray() { throw EVariantError("Variant is not an array"); }

std::string_view trimBlanks(std::string_view t) {
  while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
  while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ') t.remove_suffix(1);
  return t;
}

// Buffers of short strings are kept per thread for reuse: text routines make many small strings,
// and the allocator took a good share of their time. Off under the address checker, so that it
// still sees every buffer's end.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kStrPoolSize = 0;
#else
constexpr int kStrPoolSize = 32;
#endif
struct TStrPool {
  TStrBuf* bufs[kStrPoolSize > 0 ? kStrPoolSize : 1];
  int count;
  bool armed;   // the closer below is registered for this thread
  bool closed;  // the thread is ending: buffers go straight back
};
thread_local TStrPool tStrPool{};
struct TStrPoolCloser {
  void Arm() {}
  ~TStrPoolCloser() {
    while (tStrPool.count > 0) delete tStrPool.bufs[--tStrPool.count];
    tStrPool.closed = true;
  }
};
thread_local TStrPoolCloser tStrPoolCloser;

TStrBuf* newStrBuf() {
  TStrPool& p = tStrPool;
  if (p.count == 0) return new TStrBuf;
  TStrBuf* b = p.bufs[--p.count];
  b->refs.store(1, std::memory_order_relaxed);
  return b;
}

void freeStrBuf(TStrBuf* b) {
  TStrPool& p = tStrPool;
  if (p.count < kStrPoolSize && !p.closed && b->s.capacity() <= std::string().capacity()) {
    if (!p.armed) {
      p.armed = true;
      tStrPoolCloser.Arm();
    }
    b->s.clear();
    p.bufs[p.count++] = b;
    return;
  }
  delete b;
}
}  // namespace

TValue::TValue(const char* s) : TValue(std::string(s ? s : "")) {}

TValue::TValue(std::string s) : kind_(TVarKind::String) {
  TStrBuf* b = newStrBuf();
  b->s = std::move(s);
  u_.s = b;
}

void TValue::release() noexcept {
  // The sole owner needs no atomic decrement: no other holder exists that could copy it meanwhile.
  if (u_.r->refs.load(std::memory_order_acquire) == 1 || u_.r->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    if (kind_ == TVarKind::String)
      freeStrBuf(u_.s);
    else
      delete u_.a;
  }
}

bool TValue::AppendUnique(const std::string& tail) {
  // the sole owner: nobody else can take a reference while this one appends
  if (kind_ != TVarKind::String || u_.r->refs.load(std::memory_order_acquire) != 1) return false;
  u_.s->s.append(tail);
  return true;
}

TValue TValue::Currency(double d) {
  double scaled = std::nearbyint(d * 10000.0);
  if (!(scaled > -9.2e18 && scaled < 9.2e18)) throw EVariantError("Arithmetic overflow");
  return CurrencyScaled(static_cast<int64_t>(scaled));
}

TValue TValue::NewArray(int low, int high) {
  if (high < low - 1) high = low - 1;
  if (static_cast<int64_t>(high) - low >= (1 << 26)) throw EVariantError("Variant array too large");
  TValue v;
  auto* b = new TArrBuf;
  b->low = low;
  b->items.resize(static_cast<size_t>(high - low + 1));
  v.kind_ = TVarKind::Array;
  v.u_.a = b;
  return v;
}

TValue TValue::OpenArray(const std::vector<TValue>& items) {
  const int n = static_cast<int>(items.size());
  TValue v = NewArray(0, n);
  v.u_.a->items[0] = TValue(static_cast<int32_t>(n));
  for (int i = 0; i < n; ++i) v.u_.a->items[i + 1] = items[i];
  return v;
}

const char* TValue::KindName(TVarKind k) {
  switch (k) {
    case TVarKind::Empty:
      return "Empty";
    case TVarKind::Null:
      return "Null";
    case TVarKind::Integer:
      return "Integer";
    case TVarKind::Real:
      return "Double";
    case TVarKind::Currency:
      return "Currency";
    case TVarKind::Date:
      return "Date";
    case TVarKind::Boolean:
      return "Boolean";
    case TVarKind::String:
      return "String";
    case TVarKind::Array:
      return "Array";
  }
  return "Unknown";
}

int32_t RoundToInt32(double d) {
  if (!(d > -2147483648.5 && d < 2147483647.5)) {
    // the two halves at the ends still round to an integer in range
    if (d == -2147483648.5) return std::numeric_limits<int32_t>::min();
    throw EVariantError("Could not convert variant of type (Double) into type (Integer)");
  }
  return static_cast<int32_t>(std::nearbyint(d));  // default rounding: halves to even
}

bool TextToReal(std::string_view text, double& out) {
  text = trimBlanks(text);
  if (text.empty() || text.size() > 400) return false;
  std::string s(text);
  // only decimal notation: digits, one ".", an optional exponent; no hex, inf or nan
  for (char c : s)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
      return false;
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE) return false;
  out = d;
  return true;
}

bool TextToInt(std::string_view text, int32_t& out) {
  text = trimBlanks(text);
  if (text.empty()) return false;
  bool neg = false;
  if (text[0] == '-' || text[0] == '+') {
    neg = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 20) return false;
  int64_t v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * base + d;
    if (v > 0xFFFFFFFFLL) return false;
  }
  if (base == 16) {
    uint32_t u = static_cast<uint32_t>(v);
    out = static_cast<int32_t>(neg ? 0u - u : u);
    return true;
  }
  if (neg) v = -v;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
  out = static_cast<int32_t>(v);
  return true;
}

std::string FloatToStrValue(double d) {
  if (std::isnan(d)) return "NAN";
  if (std::isinf(d)) return d > 0 ? "INF" : "-INF";
  if (d == 0) return "0";
  char buf[64];
  int prec = 1;
  for (; prec < 15; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*e", prec - 1, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  std::snprintf(buf, sizeof buf, "%.*e", prec - 1, d);
  // buf: [-]D.DDDe[+-]XX -> digits and decimal exponent
  std::string digits;
  const char* p = buf;
  bool neg = false;
  if (*p == '-') {
    neg = true;
    ++p;
  }
  for (; *p && *p != 'e'; ++p)
    if (*p != '.') digits += *p;
  int exp = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = neg ? "-" : "";
  const int n = static_cast<int>(digits.size());
  if (exp >= 15 || exp < -5) {
    out.push_back(digits[0]);
    if (n > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    out.push_back('E');
    out.append(std::to_string(exp));
  } else if (exp < 0) {
    out.append("0.");
    out.append(static_cast<size_t>(-exp - 1), '0');
    out.append(digits);
  } else if (n <= exp + 1) {
    out.append(digits);
    out.append(static_cast<size_t>(exp + 1 - n), '0');
  } else {
    out.append(digits, 0, static_cast<size_t>(exp + 1));
    out.push_back('.');
    out.append(digits, static_cast<size_t>(exp + 1), std::string::npos);
  }
  return out;
}

int32_t TValue::AsInteger() const {
  switch (kind_) {
    case TVarKind::Integer:
      return u_.i;
    case TVarKind::Boolean:
      return u_.b ? -1 : 0;
    case TVarKind::Real:
    case TVarKind::Date:
      return RoundToInt32(u_.d);
    case TVarKind::Currency:
      return RoundToInt32(static_cast<double>(u_.c) / 10000.0);
    case TVarKind::Empty:
      return 0;
    case TVarKind::String: {
      int32_t i;
      if (TextToInt(u_.s->s, i)) return i;
      double d;
      if (TextToReal(u_.s->s, d)) return RoundToInt32(d);
      convError(kind_, "Integer");
    }
    default:
      convError(kind_, "Integer");
  }
}

int64_t TValue::asInt64Slow() const {
  if (kind_ == TVarKind::Real || kind_ == TVarKind::Date) {
    if (!(u_.d > -9.2e18 && u_.d < 9.2e18)) convError(kind_, "Int64");
    return static_cast<int64_t>(std::nearbyint(u_.d));
  }
  return AsInteger();
}

double TValue::AsReal() const {
  switch (kind_) {
    case TVarKind::Integer:
      return u_.i;
    case TVarKind::Boolean:
      return u_.b ? -1.0 : 0.0;
    case TVarKind::Real:
    case TVarKind::Date:
      return u_.d;
    case TVarKind::Currency:
      return static_cast<double>(u_.c) / 10000.0;
    case TVarKind::Empty:
      return 0.0;
    case TVarKind::String: {
      double d;
      if (TextToReal(u_.s->s, d)) return d;
      int32_t i;
      if (TextToInt(u_.s->s, i)) return i;
      convError(kind_, "Double");
    }
    default:
      convError(kind_, "Double");
  }
}

bool TValue::AsBoolean() const {
  switch (kind_) {
    case TVarKind::Boolean:
      return u_.b;
    case TVarKind::Integer:
      return u_.i != 0;
    case TVarKind::Real:
    case TVarKind::Date:
      return u_.d != 0.0;
    case TVarKind::Currency:
      return u_.c != 0;
    case TVarKind::Empty:
      return false;
    case TVarKind::String: {
      std::string_view t = trimBlanks(u_.s->s);
      if (t.size() == 4 && strncasecmp(t.data(), "TRUE", 4) == 0) return true;
      if (t.size() == 5 && strncasecmp(t.data(), "FALSE", 5) == 0) return false;
      double d;
      if (TextToReal(t, d)) return d != 0.0;
      convError(kind_, "Boolean");
    }
    default:
      convError(kind_, "Boolean");
  }
}

std::string TValue::AsString() const {
  switch (kind_) {
    case TVarKind::String:
      return u_.s->s;
    case TVarKind::Integer:
      return std::to_string(u_.i);
    case TVarKind::Real:
    case TVarKind::Date:
      return FloatToStrValue(u_.d);
    case TVarKind::Currency:
      return FloatToStrValue(static_cast<double>(u_.c) / 10000.0);
    case TVarKind::Boolean:
      return u_.b ? "True" : "False";
    case TVarKind::Empty:
    case TVarKind::Null:
      return "";
    default:
      convError(kind_, "String");
  }
}

int TValue::ArrayLow() const {
  if (kind_ != TVarKind::Array) notArray();
  return u_.a->low;
}

int TValue::ArrayHigh() const {
  if (kind_ != TVarKind::Array) notArray();
  return u_.a->low + static_cast<int>(u_.a->items.size()) - 1;
}

const TValue& TValue::Item(int index) const {
  if (kind_ != TVarKind::Array) notArray();
  const int64_t k = static_cast<int64_t>(index) - u_.a->low;
  if (k < 0 || k >= static_cast<int64_t>(u_.a->items.size())) throw EVariantError("Variant array index out of bounds");
  return u_.a->items[static_cast<size_t>(k)];
}

void TValue::SetItem(int index, const TValue& v) {
  if (kind_ != TVarKind::Array) notArray();
  const int64_t k = static_cast<int64_t>(index) - u_.a->low;
  if (k < 0 || k >= static_cast<int64_t>(u_.a->items.size())) throw EVariantError("Variant array index out of bounds");
  if (u_.a->refs.load(std::memory_order_acquire) != 1) {  // arrays are values: copy before writing
    auto* b = new TArrBuf;
    b->low = u_.a->low;
    b->items = u_.a->items;
    release();
    u_.a = b;
  }
  TValue keep = v;  // v may live inside this array
  u_.a->items[static_cast<size_t>(k)] = std::move(keep);
}

int OpenArrayCount(const TValue& arr) {
  if (!arr.IsArray()) throw EVariantError("Variant is not an array");
  int n = arr.Item(arr.ArrayLow()).AsInteger();
  const int room = arr.ArrayHigh() - arr.ArrayLow();
  if (n < 0) n = 0;
  return n > room ? room : n;
}

std::vector<TValue> OpenArrayItems(const TValue& arr) {
  const int n = OpenArrayCount(arr);
  std::vector<TValue> out;
  out.reserve(static_cast<size_t>(n));
  for (int i = 1; i <= n; ++i) out.push_back(arr.Item(arr.ArrayLow() + i));
  return out;
}

void VarToStringS(const TValue& arr, std::vector<std::string>& texts, int& count) {
  count = OpenArrayCount(arr);
  texts.clear();
  for (int i = 1; i <= count; ++i) texts.push_back(arr.Item(arr.ArrayLow() + i).AsString());
}

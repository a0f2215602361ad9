// TValue: the tagged value every script slot, constant, argument and result holds.
// Numbers and booleans live inline (no allocation); strings and arrays share reference-counted buffers.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TVarKind : uint8_t {
  Empty,     // results of host routines that return nothing; new array elements
  Null,      // host routines only
  Integer,   // 32-bit signed
  Real,      // 64-bit IEEE double; also carries object references
  Currency,  // 64-bit fixed point, four decimals
  Date,      // days since 30.12.1899 as a double
  Boolean,
  String,  // byte string
  Array    // one-dimensional array of values with an index range
};

class TValue;
namespace valuedetail {
struct TRefBuf {
  std::atomic<int> refs{1};
};
struct TStrBuf : TRefBuf {
  std::string s;
};
struct TArrBuf : TRefBuf {
  int low = 0;
  std::vector<TValue> items;
};
}  // namespace valuedetail

class TValue {
 public:
  TValue() noexcept : kind_(TVarKind::Empty) { u_.bits = 0; }
  TValue(int32_t i) noexcept : kind_(TVarKind::Integer) {
    u_.bits = 0;
    u_.i = i;
  }
  TValue(double d) noexcept : kind_(TVarKind::Real) { u_.d = d; }
  TValue(bool b) noexcept : kind_(TVarKind::Boolean) {
    u_.bits = 0;
    u_.b = b;
  }
  TValue(const char* s);
  TValue(std::string s);
  TValue(std::string_view s) : TValue(std::string(s)) {}
  TValue(const TValue& o) noexcept : kind_(o.kind_), u_(o.u_) {
    if (kind_ >= TVarKind::String) retain();
  }
  TValue(TValue&& o) noexcept : kind_(o.kind_), u_(o.u_) {
    o.kind_ = TVarKind::Empty;
    o.u_.bits = 0;
  }
  ~TValue() {
    if (kind_ >= TVarKind::String) release();
  }
  TValue& operator=(const TValue& o) noexcept {
    if (o.kind_ >= TVarKind::String) o.retain();
    if (kind_ >= TVarKind::String) release();
    kind_ = o.kind_;
    u_ = o.u_;
    return *this;
  }
  TValue& operator=(TValue&& o) noexcept {
    if (this != &o) {
      if (kind_ >= TVarKind::String) release();
      kind_ = o.kind_;
      u_ = o.u_;
      o.kind_ = TVarKind::Empty;
      o.u_.bits = 0;
    }
    return *this;
  }

  static TValue Null() {
    TValue v;
    v.kind_ = TVarKind::Null;
    return v;
  }
  static TValue Currency(double d);
  static TValue CurrencyScaled(int64_t c) {
    TValue v;
    v.kind_ = TVarKind::Currency;
    v.u_.c = c;
    return v;
  }
  static TValue Date(double d) {
    TValue v(d);
    v.kind_ = TVarKind::Date;
    return v;
  }
  static TValue FromBits(TVarKind k, uint64_t bits) {
    TValue v;
    v.kind_ = k;
    v.u_.bits = bits;
    return v;
  }
  // A new array with index range low..high, every element empty.
  static TValue NewArray(int low, int high);
  // An open array: element 0 holds the count, elements 1..n the values.
  static TValue OpenArray(const std::vector<TValue>& items);

  TVarKind Kind() const noexcept { return kind_; }
  bool IsEmpty() const noexcept { return kind_ == TVarKind::Empty; }
  bool IsNull() const noexcept { return kind_ == TVarKind::Null; }
  bool IsInteger() const noexcept { return kind_ == TVarKind::Integer; }
  bool IsReal() const noexcept { return kind_ == TVarKind::Real; }
  bool IsBoolean() const noexcept { return kind_ == TVarKind::Boolean; }
  bool IsString() const noexcept { return kind_ == TVarKind::String; }
  bool IsArray() const noexcept { return kind_ == TVarKind::Array; }
  bool IsNumeric() const noexcept {
    return kind_ == TVarKind::Integer || kind_ == TVarKind::Real || kind_ == TVarKind::Currency ||
           kind_ == TVarKind::Date;
  }

  // Raw payload access; valid only for the matching kind.
  int32_t IntVal() const noexcept { return u_.i; }
  double RealVal() const noexcept { return u_.d; }
  bool BoolVal() const noexcept { return u_.b; }
  int64_t CurrencyScaledVal() const noexcept { return u_.c; }
  const std::string& StrVal() const noexcept { return u_.s->s; }
  uint64_t Bits() const noexcept { return u_.bits; }

  // Conversions by the value rules; they raise EVariantError when the value does not convert.
  int32_t AsInteger() const;  // reals round to nearest, halves to even; True is -1
  double AsReal() const;
  bool AsBoolean() const;
  std::string AsString() const;  // reals by FloatToStr's rule, "." separator
  int64_t AsInt64() const { return kind_ == TVarKind::Integer ? u_.i : asInt64Slow(); }

  // Arrays (kind Array only; others raise EVariantError "Variant is not an array").
  int ArrayLow() const;
  int ArrayHigh() const;
  const TValue& Item(int index) const;
  void SetItem(int index, const TValue& v);  // copies the array first when it is shared

  // Fast in-place setters for the interpreter (no allocation when the old value is inline).
  void SetInt(int32_t i) noexcept {
    clear();
    kind_ = TVarKind::Integer;
    u_.bits = 0;
    u_.i = i;
  }
  void SetReal(double d) noexcept {
    clear();
    kind_ = TVarKind::Real;
    u_.d = d;
  }
  void SetBool(bool b) noexcept {
    clear();
    kind_ = TVarKind::Boolean;
    u_.bits = 0;
    u_.b = b;
  }

  // Same, for a value known to be inline (not a string or array): no release check.
  void SetIntRaw(int32_t i) noexcept {
    kind_ = TVarKind::Integer;
    u_.bits = 0;
    u_.i = i;
  }
  void SetRealRaw(double d) noexcept {
    kind_ = TVarKind::Real;
    u_.d = d;
  }
  void SetBoolRaw(bool b) noexcept {
    kind_ = TVarKind::Boolean;
    u_.bits = 0;
    u_.b = b;
  }
  bool IsInline() const noexcept { return kind_ < TVarKind::String; }
  // Copies an inline value into an inline value (both must be inline).
  void SetRawFrom(const TValue& o) noexcept {
    kind_ = o.kind_;
    u_ = o.u_;
  }

  // Appends to a string that this value alone holds, in place; false (and nothing done) when the
  // value is not a string or its text is shared.
  bool AppendUnique(const std::string& tail);

  // Lending: an empty value becomes a view of o without a reference of its own, and EndLend
  // forgets the view without releasing it. o must stay unchanged while the view is used.
  void LendFrom(const TValue& o) noexcept {
    kind_ = o.kind_;
    u_ = o.u_;
  }
  void EndLend() noexcept {
    kind_ = TVarKind::Empty;
    u_.bits = 0;
  }

  static const char* KindName(TVarKind k);

 private:
  void retain() const noexcept { u_.r->refs.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept;
  int64_t asInt64Slow() const;
  void clear() noexcept {
    if (kind_ >= TVarKind::String) {
      release();
      kind_ = TVarKind::Empty;
    }
  }

  TVarKind kind_;
  union {
    int32_t i;
    double d;
    bool b;
    int64_t c;
    uint64_t bits;
    valuedetail::TRefBuf* r;
    valuedetail::TStrBuf* s;
    valuedetail::TArrBuf* a;
  } u_;
};

// Text of a real: the shortest form that reads back to the same value, at most 15 significant
// digits, "." as the separator, exponent written as in 1E-5 and 1.5E20.
std::string FloatToStrValue(double d);
// Parses a number written with "." as the separator (surrounding blanks allowed); false when it is not one.
bool TextToReal(std::string_view text, double& out);
// Parses a decimal or "$"-hexadecimal 32-bit integer (surrounding blanks allowed).
bool TextToInt(std::string_view text, int32_t& out);
// Real to integer: nearest, halves to even; raises EVariantError when out of the 32-bit range.
int32_t RoundToInt32(double d);

// Open arrays as host routines receive them (element 0 is the count).
int OpenArrayCount(const TValue& arr);
std::vector<TValue> OpenArrayItems(const TValue& arr);
// Element 0 is the count; the texts are elements 1..count converted to text.
void VarToStringS(const TValue& arr, std::vector<std::string>& texts, int& count);

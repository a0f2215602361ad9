// Reading and writing form files: the binary component stream ("TPF0", typed values) behind an
// optional resource header, and the text form with object/inherited/inline blocks.
#include "script/Formfile.h"

#include <cmath>
#include <cstring>

namespace {

// Value type bytes of the binary stream.
enum : uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20,
  vaDouble = 21
};

constexpr int kMaxDepth = 200;  // nesting of components, lists and collections
constexpr std::string_view kSignature = "TPF0";

// 80-bit extended precision to double (sign, 15-bit exponent, 64-bit mantissa with explicit one).
double ExtendedToDouble(const uint8_t* p) {
  uint64_t mant = 0;
  for (int i = 7; i >= 0; --i) mant = (mant << 8) | p[i];
  const int exp = ((p[9] & 0x7F) << 8) | p[8];
  const bool neg = p[9] & 0x80;
  if (exp == 0 && mant == 0) return neg ? -0.0 : 0.0;
  if (exp == 0x7FFF) return std::copysign(mant << 1 ? NAN : INFINITY, neg ? -1.0 : 1.0);
  const double v = std::ldexp(static_cast<double>(mant), exp - 16383 - 63);
  return neg ? -v : v;
}

void DoubleToExtended(double d, uint8_t* p) {
  std::memset(p, 0, 10);
  const bool neg = std::signbit(d);
  d = std::fabs(d);
  int exp = 0;
  uint64_t mant = 0;
  if (std::isinf(d)) {
    exp = 0x7FFF;
    mant = uint64_t(1) << 63;
  } else if (std::isnan(d)) {
    exp = 0x7FFF;
    mant = uint64_t(3) << 62;
  } else if (d != 0) {
    int e2 = 0;
    const double f = std::frexp(d, &e2);  // d = f * 2^e2, 0.5 <= f < 1
    mant = static_cast<uint64_t>(std::ldexp(f, 64));
    exp = e2 - 1 + 16383;
  }
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(mant >> (8 * i));
  p[8] = static_cast<uint8_t>(exp);
  p[9] = static_cast<uint8_t>((exp >> 8) | (neg ? 0x80 : 0));
}

class CStreamReader {
 public:
  explicit CStreamReader(std::string_view b) : b_(b) {}

  TFormNode Root() {
    if (b_.substr(pos_, 4) != kSignature) Fail("Invalid stream format");
    pos_ += 4;
    TFormNode n = Component(0);
    return n;
  }
  void SkipResourceHeader() {
    // 0xFF and the type word (data resource), the name (0-terminated, or 0xFF and an ordinal word),
    // the flags word and the data size.
    if (Byte() != 0xFF) Fail("Invalid resource header");
    Le(2);
    if (Peek() == 0xFF) {
      Le(3);
    } else {
      while (Byte() != 0) {
      }
    }
    Le(2);
    const uint64_t size = Le(4);
    if (size > b_.size() - pos_) Fail("resource larger than the file");
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw EFormFileError("Form stream at byte " + std::to_string(pos_) + ": " + what);
  }
  void Need(size_t n) const {
    if (b_.size() - pos_ < n) throw EFormFileError("Form stream ends unexpectedly");
  }
  uint8_t Byte() {
    Need(1);
    return static_cast<uint8_t>(b_[pos_++]);
  }
  uint8_t Peek() const {
    Need(1);
    return static_cast<uint8_t>(b_[pos_]);
  }
  uint64_t Le(int n) {
    Need(static_cast<size_t>(n));
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b_[pos_ + static_cast<size_t>(i)]);
    pos_ += static_cast<size_t>(n);
    return v;
  }
  std::string Bytes(size_t n) {
    Need(n);
    std::string s(b_.substr(pos_, n));
    pos_ += n;
    return s;
  }
  std::string Short() { return Bytes(Byte()); }

  TFormNode Component(int depth) {
    if (depth > kMaxDepth) Fail("components nested too deeply");
    TFormNode n;
    if ((Peek() & 0xF0) == 0xF0) {
      n.flags = Byte() & 0x0F;
      if (n.flags & 2) n.childPos = static_cast<int>(Integer(Byte()));
    }
    n.className = Short();
    // Written back, an empty class name would end the list of children: the component and all
    // after it would be lost. No component is made without a class anyway.
    if (n.className.empty()) Fail("component without a class name");
    n.name = Short();
    while (Peek() != 0) n.props.push_back(Property(depth));
    ++pos_;
    while (Peek() != 0) n.children.push_back(Component(depth + 1));
    ++pos_;
    return n;
  }
  TFormProperty Property(int depth) {
    TFormProperty p;
    p.name = Short();
    p.value = Value(Byte(), depth);
    return p;
  }
  int64_t Integer(uint8_t type) {
    switch (type) {
      case vaInt8:
        return static_cast<int8_t>(Le(1));
      case vaInt16:
        return static_cast<int16_t>(Le(2));
      case vaInt32:
        return static_cast<int32_t>(Le(4));
      case vaInt64:
        return static_cast<int64_t>(Le(8));
      default:
        Fail("integer expected");
    }
  }
  TFormValue Value(uint8_t type, int depth) {
    if (depth > kMaxDepth) Fail("values nested too deeply");
    TFormValue v;
    using K = TFormValue::TKind;
    switch (type) {
      case vaNull:
        v.kind = K::Null;
        break;
      case vaList:
        v.kind = K::List;
        while (Peek() != vaNull) v.items.push_back(Value(Byte(), depth + 1));
        ++pos_;
        break;
      case vaInt8:
      case vaInt16:
      case vaInt32:
      case vaInt64:
        v = TFormValue::Int(Integer(type));
        break;
      case vaExtended: {
        Need(10);
        v.kind = K::Real;
        v.real = ExtendedToDouble(reinterpret_cast<const uint8_t*>(b_.data() + pos_));
        pos_ += 10;
        break;
      }
      case vaSingle: {
        const uint32_t bits = static_cast<uint32_t>(Le(4));
        float f;
        std::memcpy(&f, &bits, 4);
        v.kind = K::Real;
        v.real = f;
        break;
      }
      case vaDouble:
      case vaDate: {
        const uint64_t bits = Le(8);
        v.kind = K::Real;
        std::memcpy(&v.real, &bits, 8);
        break;
      }
      case vaCurrency:
        v.kind = K::Real;
        v.real = static_cast<double>(static_cast<int64_t>(Le(8))) / 10000.0;
        break;
      case vaString:
        v = TFormValue::Str(Short());
        break;
      case vaLString:
      case vaUTF8String:
        v = TFormValue::Str(Bytes(Le(4)));
        break;
      case vaWString: {
        const uint64_t n = Le(4);
        if (n > b_.size()) Fail("string too long");
        std::string s;
        for (uint64_t i = 0; i < n; ++i) {
          const uint32_t c = static_cast<uint32_t>(Le(2));
          s += c < 256 ? static_cast<char>(c) : '?';  // texts are 8-bit in this system
        }
        v = TFormValue::Str(std::move(s));
        break;
      }
      case vaIdent:
        v = TFormValue::Ident(Short());
        break;
      case vaFalse:
      case vaTrue:
        v = TFormValue::Bool(type == vaTrue);
        break;
      case vaNil:
        v.kind = K::Nil;
        break;
      case vaBinary:
        v.kind = K::Binary;
        v.text = Bytes(Le(4));
        break;
      case vaSet:
        v.kind = K::Set;
        for (std::string s = Short(); !s.empty(); s = Short()) v.idents.push_back(std::move(s));
        break;
      case vaCollection:
        v.kind = K::Collection;
        while (Peek() != vaNull) {
          TFormItem item;
          const uint8_t t = Byte();
          if (t == vaInt8 || t == vaInt16 || t == vaInt32) {
            item.hasIndex = true;
            item.index = Integer(t);
            if (Byte() != vaList) Fail("collection item expected");
          } else if (t != vaList) {
            Fail("collection item expected");
          }
          while (Peek() != 0) item.props.push_back(Property(depth + 1));
          ++pos_;
          v.collection.push_back(std::move(item));
        }
        ++pos_;
        break;
      default:
        --pos_;
        Fail("unknown value type " + std::to_string(type));
    }
    return v;
  }

  std::string_view b_;
  size_t pos_ = 0;
};

// ---- text form --------------------------------------------------------------------------------

class CTextReader {
 public:
  explicit CTextReader(std::string_view t) : t_(t) {}

  TFormNode Root() {
    TFormNode n = Object(0);
    Skip();
    if (pos_ < t_.size()) Fail("text after the last end");
    return n;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw EFormFileError("Form text line " + std::to_string(line_) + ": " + what);
  }
  void Skip() {
    while (pos_ < t_.size()) {
      const char c = t_[pos_];
      if (c == '\n') ++line_;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
        ++pos_;
      else if (c == '/' && pos_ + 1 < t_.size() && t_[pos_ + 1] == '/')
        while (pos_ < t_.size() && t_[pos_] != '\n') ++pos_;
      else
        break;
    }
  }
  char Peek() {
    Skip();
    return pos_ < t_.size() ? t_[pos_] : '\0';
  }
  void Expect(char c) {
    if (Peek() != c) Fail(std::string("'") + c + "' expected");
    ++pos_;
  }
  static bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
  std::string Word() {
    Skip();
    const size_t start = pos_;
    while (pos_ < t_.size() && IdentChar(t_[pos_])) ++pos_;
    if (start == pos_) Fail("identifier expected");
    return std::string(t_.substr(start, pos_ - start));
  }
  std::string DottedWord() {
    std::string w = Word();
    while (pos_ < t_.size() && t_[pos_] == '.') {
      ++pos_;
      w += "." + Word();
    }
    return w;
  }
  static bool Is(const std::string& w, const char* kw) {
    if (w.size() != std::strlen(kw)) return false;
    for (size_t i = 0; i < w.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(w[i])) != kw[i]) return false;
    return true;
  }

  TFormNode Object(int depth) {
    if (depth > kMaxDepth) Fail("objects nested too deeply");
    TFormNode n;
    const std::string kw = Word();
    if (Is(kw, "inherited"))
      n.flags = 1;
    else if (Is(kw, "inline"))
      n.flags = 4;
    else if (!Is(kw, "object"))
      Fail("'object' expected");
    std::string first = Word();
    if (Peek() == ':') {
      ++pos_;
      n.name = first;
      n.className = Word();
    } else {
      n.className = first;  // an unnamed component
    }
    if (Peek() == '[') {
      ++pos_;
      n.flags |= 2;
      n.childPos = static_cast<int>(Number().integer);
      Expect(']');
    }
    for (;;) {
      const size_t save = pos_;
      const int saveLine = line_;
      const std::string w = DottedWord();
      if (Is(w, "end")) break;
      if (Is(w, "object") || Is(w, "inherited") || Is(w, "inline")) {
        pos_ = save;
        line_ = saveLine;
        n.children.push_back(Object(depth + 1));
        continue;
      }
      Expect('=');
      n.props.push_back({w, Value(depth)});
    }
    return n;
  }

  TFormValue Number() {
    Skip();
    const size_t start = pos_;
    if (pos_ < t_.size() && (t_[pos_] == '-' || t_[pos_] == '+')) ++pos_;
    if (pos_ < t_.size() && t_[pos_] == '$') {
      ++pos_;
      const size_t digits = pos_;
      while (pos_ < t_.size() && std::isxdigit(static_cast<unsigned char>(t_[pos_]))) ++pos_;
      if (digits == pos_ || pos_ - digits > 16) Fail("hexadecimal number expected");
      const uint64_t u = std::stoull(std::string(t_.substr(digits, pos_ - digits)), nullptr, 16);
      int64_t v = pos_ - digits <= 8 ? static_cast<int64_t>(static_cast<int32_t>(u)) : static_cast<int64_t>(u);
      return TFormValue::Int(t_[start] == '-' ? -v : v);
    }
    bool real = false;
    while (pos_ < t_.size()) {
      const char c = t_[pos_];
      if (std::isdigit(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E') {
        real = true;
        ++pos_;
        if ((c == 'e' || c == 'E') && pos_ < t_.size() && (t_[pos_] == '-' || t_[pos_] == '+')) ++pos_;
      } else {
        break;
      }
    }
    const std::string s(t_.substr(start, pos_ - start));
    if (s.empty() || s == "-" || s == "+") Fail("number expected");
    try {
      if (real) {
        TFormValue v;
        v.kind = TFormValue::TKind::Real;
        v.real = std::stod(s);
        return v;
      }
      return TFormValue::Int(std::stoll(s));
    } catch (const std::exception&) {
      Fail("number out of range: " + s);
    }
  }

  // 'text'#13'more' + 'continued': quoted parts, character codes and "+" joins.
  std::string StringValue() {
    std::string s;
    for (;;) {
      Skip();
      if (pos_ >= t_.size()) Fail("string expected");
      if (t_[pos_] == '\'') {
        ++pos_;
        for (;;) {
          if (pos_ >= t_.size() || t_[pos_] == '\n') Fail("unterminated string");
          if (t_[pos_] == '\'') {
            if (pos_ + 1 < t_.size() && t_[pos_ + 1] == '\'') {
              s += '\'';
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          s += t_[pos_++];
        }
      } else if (t_[pos_] == '#') {
        ++pos_;
        const TFormValue code = Number();
        if (code.kind != TFormValue::TKind::Integer || code.integer < 0 || code.integer > 255)
          Fail("character code expected");
        s += static_cast<char>(code.integer);
      } else {
        Fail("string expected");
      }
      if (pos_ < t_.size() && (t_[pos_] == '\'' || t_[pos_] == '#')) continue;
      if (Peek() == '+') {
        ++pos_;
        continue;
      }
      return s;
    }
  }

  TFormValue Value(int depth) {
    if (depth > kMaxDepth) Fail("values nested too deeply");
    const char c = Peek();
    using K = TFormValue::TKind;
    if (c == '\'' || c == '#') return TFormValue::Str(StringValue());
    if (c == '-' || c == '+' || c == '$' || std::isdigit(static_cast<unsigned char>(c))) return Number();
    TFormValue v;
    if (c == '[') {
      ++pos_;
      v.kind = K::Set;
      if (Peek() != ']') {
        for (;;) {
          v.idents.push_back(Word());
          if (Peek() != ',') break;
          ++pos_;
        }
      }
      Expect(']');
      return v;
    }
    if (c == '(') {
      ++pos_;
      v.kind = K::List;
      while (Peek() != ')') {
        if (pos_ >= t_.size()) Fail("')' expected");
        v.items.push_back(Value(depth + 1));
      }
      ++pos_;
      return v;
    }
    if (c == '{') {
      ++pos_;
      v.kind = K::Binary;
      std::string hex;
      while (Peek() != '}') {
        if (pos_ >= t_.size() || !std::isxdigit(static_cast<unsigned char>(t_[pos_]))) Fail("'}' expected");
        hex += t_[pos_++];
      }
      ++pos_;
      if (hex.size() % 2) Fail("odd number of hexadecimal digits");
      for (size_t i = 0; i < hex.size(); i += 2) v.text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
      return v;
    }
    if (c == '<') {
      ++pos_;
      v.kind = K::Collection;
      while (Peek() != '>') {
        TFormItem item;
        std::string w = Word();
        if (Is(w, "item") && Peek() == '[') {
          ++pos_;
          item.hasIndex = true;
          item.index = Number().integer;
          Expect(']');
        } else if (!Is(w, "item")) {
          Fail("'item' expected");
        }
        for (;;) {
          const std::string p = DottedWord();
          if (Is(p, "end")) break;
          Expect('=');
          item.props.push_back({p, Value(depth + 1)});
        }
        v.collection.push_back(std::move(item));
      }
      ++pos_;
      return v;
    }
    const std::string w = DottedWord();
    if (Is(w, "true")) return TFormValue::Bool(true);
    if (Is(w, "false")) return TFormValue::Bool(false);
    if (Is(w, "nil")) {
      v.kind = K::Nil;
      return v;
    }
    return TFormValue::Ident(w);
  }

  std::string_view t_;
  size_t pos_ = 0;
  int line_ = 1;
};

// ---- writer -----------------------------------------------------------------------------------

class CStreamWriter {
 public:
  std::string out;

  void Component(const TFormNode& n) {
    // A class name of 240 to 255 bytes has a length byte that reads as a flags byte: an explicit
    // flags byte in front keeps it a name.
    if (n.flags || (n.className.size() & 0xF0) == 0xF0) {
      out += static_cast<char>(0xF0 | (n.flags & 0x0F));
      if (n.flags & 2) Int(n.childPos);
    }
    Short(n.className);
    Short(n.name);
    for (const TFormProperty& p : n.props) Property(p);
    out += '\0';
    for (const TFormNode& c : n.children) Component(c);
    out += '\0';
  }

 private:
  void Le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i));
  }
  void Short(const std::string& s) {
    if (s.size() > 255) throw EFormFileError("Name too long for a form stream: " + s.substr(0, 40));
    out += static_cast<char>(s.size());
    out += s;
  }
  void Int(int64_t v) {
    if (v >= -128 && v <= 127) {
      out += static_cast<char>(vaInt8);
      Le(static_cast<uint64_t>(v), 1);
    } else if (v >= -32768 && v <= 32767) {
      out += static_cast<char>(vaInt16);
      Le(static_cast<uint64_t>(v), 2);
    } else if (v >= INT32_MIN && v <= INT32_MAX) {
      out += static_cast<char>(vaInt32);
      Le(static_cast<uint64_t>(v), 4);
    } else {
      out += static_cast<char>(vaInt64);
      Le(static_cast<uint64_t>(v), 8);
    }
  }
  void Property(const TFormProperty& p) {
    Short(p.name);
    Value(p.value);
  }
  void Value(const TFormValue& v) {
    using K = TFormValue::TKind;
    switch (v.kind) {
      case K::Null:
        out += static_cast<char>(vaNull);
        break;
      case K::Integer:
        Int(v.integer);
        break;
      case K::Real: {
        out += static_cast<char>(vaExtended);
        uint8_t b[10];
        DoubleToExtended(v.real, b);
        out.append(reinterpret_cast<const char*>(b), 10);
        break;
      }
      case K::String:
        if (v.text.size() <= 255) {
          out += static_cast<char>(vaString);
          Short(v.text);
        } else {
          out += static_cast<char>(vaLString);
          Le(v.text.size(), 4);
          out += v.text;
        }
        break;
      case K::Ident:
        out += static_cast<char>(vaIdent);
        Short(v.text);
        break;
      case K::False:
        out += static_cast<char>(vaFalse);
        break;
      case K::True:
        out += static_cast<char>(vaTrue);
        break;
      case K::Nil:
        out += static_cast<char>(vaNil);
        break;
      case K::Set:
        out += static_cast<char>(vaSet);
        for (const std::string& s : v.idents) Short(s);
        out += '\0';
        break;
      case K::List:
        out += static_cast<char>(vaList);
        for (const TFormValue& i : v.items) Value(i);
        out += static_cast<char>(vaNull);
        break;
      case K::Binary:
        out += static_cast<char>(vaBinary);
        Le(v.text.size(), 4);
        out += v.text;
        break;
      case K::Collection:
        out += static_cast<char>(vaCollection);
        for (const TFormItem& item : v.collection) {
          if (item.hasIndex) Int(item.index);
          out += static_cast<char>(vaList);
          for (const TFormProperty& p : item.props) Property(p);
          out += '\0';
        }
        out += static_cast<char>(vaNull);
        break;
    }
  }
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

TFormValue TFormValue::Int(int64_t v) {
  TFormValue f;
  f.kind = TKind::Integer;
  f.integer = v;
  return f;
}
TFormValue TFormValue::Str(std::string s) {
  TFormValue f;
  f.kind = TKind::String;
  f.text = std::move(s);
  return f;
}
TFormValue TFormValue::Ident(std::string s) {
  TFormValue f;
  f.kind = TKind::Ident;
  f.text = std::move(s);
  return f;
}
TFormValue TFormValue::Bool(bool b) {
  TFormValue f;
  f.kind = b ? TKind::True : TKind::False;
  return f;
}

bool IsBinaryForm(std::string_view bytes) {
  return bytes.substr(0, 4) == kSignature || (!bytes.empty() && static_cast<uint8_t>(bytes[0]) == 0xFF);
}

TFormNode ReadFormStream(std::string_view bytes) {
  CStreamReader r(bytes);
  if (!bytes.empty() && static_cast<uint8_t>(bytes[0]) == 0xFF) r.SkipResourceHeader();
  return r.Root();
}

TFormNode ParseFormText(std::string_view text) { return CTextReader(text).Root(); }

TFormNode ReadFormFile(std::string_view bytes) {
  return IsBinaryForm(bytes) ? ReadFormStream(bytes) : ParseFormText(bytes);
}

std::string WriteFormStream(const TFormNode& root, bool withResourceHeader) {
  CStreamWriter w;
  w.out = std::string(kSignature);
  w.Component(root);
  if (!withResourceHeader) return w.out;
  std::string h("\xFF\x0A\x00", 3);
  // The resource name ends at its first zero byte and a leading 0xFF makes it an ordinal: a class name
  // read from a damaged stream may hold either, so only its printable characters name the resource.
  for (const char c : Upper(root.className))
    if (c > ' ' && c < 0x7F) h += c;
  h += '\0';
  h += std::string("\x30\x10", 2);
  const uint32_t size = static_cast<uint32_t>(w.out.size());
  for (int i = 0; i < 4; ++i) h += static_cast<char>(size >> (8 * i));
  return h + w.out;
}

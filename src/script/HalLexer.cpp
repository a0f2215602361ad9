// The compiler's reader: bytes with line counting, comments, tokens, the reserved-word table.
#include <bitset>
#include <cstdlib>
#include <unordered_map>

#include "script/HalCompiler.h"
#include "script/Registration.h"
#include "script/SpareBuffers.h"

namespace {
using TCharSet = std::bitset<256>;

TCharSet makeSet(const char* chars, int from = -1, int to = -1) {
  TCharSet s;
  for (const char* p = chars; *p; ++p) s.set(static_cast<unsigned char>(*p));
  for (int c = from; c >= 0 && c <= to; ++c) s.set(static_cast<size_t>(c));
  return s;
}

const TCharSet WhiteSpaces = makeSet("#$%&()*+,-./:;<=>@[]^|~");
const TCharSet StopChars = makeSet("\"#$%&'()*+,-./:;<=>@[]^{|}~", 0, 32);
const TCharSet FirstIdentChar = makeSet("ABCDEFGHIJKLMNOPQRSTUVWXYZ_", 192, 223);
const TCharSet IdentBackChars = makeSet("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_", 192, 223);
const TCharSet Digit = makeSet("0123456789");
const TCharSet HexDigit = makeSet("0123456789ABCDEF");

bool in(const TCharSet& s, int c) { return c >= 0 && c < 256 && s.test(static_cast<size_t>(c)); }

const std::unordered_map<std::string_view, int32_t>& resWords() {
  static const std::unordered_map<std::string_view, int32_t> words = {{"PROGRAM", 1000},
                                                                      {"LABEL", 1001},
                                                                      {"GOTO", 1002},
                                                                      {"VAR", 1003},
                                                                      {"BEGIN", 1004},
                                                                      {"END", 1005},
                                                                      {"AND", 1006},
                                                                      {"OR", 1007},
                                                                      {"XOR", 1008},
                                                                      {"NOT", 1009},
                                                                      {"SHL", 1010},
                                                                      {"SHR", 1011},
                                                                      {"DIV", 1012},
                                                                      {"MOD", 1013},
                                                                      {"TRUE", 1014},
                                                                      {"FALSE", 1015},
                                                                      {"IF", 1016},
                                                                      {"THEN", 1017},
                                                                      {"ELSE", 1018},
                                                                      {"WHILE", 1019},
                                                                      {"REPEAT", 1020},
                                                                      {"UNTIL", 1021},
                                                                      {"FOR", 1022},
                                                                      {"TO", 1023},
                                                                      {"DOWNTO", 1024},
                                                                      {"DO", 1025},
                                                                      {"HALT", 1026},
                                                                      {"NIL", 1027},
                                                                      {"INITIALIZATION", 1031},
                                                                      {"FINALIZATION", 1032},
                                                                      {"CLASS", 1033},
                                                                      {"TYPE", 1034},
                                                                      {"CONSTRUCTOR", 1035},
                                                                      {"DESTRUCTOR", 1036},
                                                                      {"USES", 1037},
                                                                      {"UNIT", 1038},
                                                                      {"INTERFACE", 1039},
                                                                      {"IMPLEMENTATION", 1040},
                                                                      {"PROCEDURE", 1041},
                                                                      {"PRIVATE", 1042},
                                                                      {"PUBLIC", 1043},
                                                                      {"PROTECTED", 1044},
                                                                      {"PUBLISHED", 1045},
                                                                      {"FUNCTION", 1046},
                                                                      {"CONST", 1047},
                                                                      {"PROPERTY", 1048},
                                                                      {"VIRTUAL", 1049},
                                                                      {"OVERRIDE", 1050},
                                                                      {"DYNAMIC", 1051},
                                                                      {"RECORD", 1052},
                                                                      {"FORWARD", 1053},
                                                                      {"INDEX", 1054},
                                                                      {"STORED", 1057},
                                                                      {"DEFAULT", 1058},
                                                                      {"ABSTRACT", 1059},
                                                                      {"INCLUDES", 1060},
                                                                      {"STDCALL", 1069}};
  return words;
}
}  // namespace

void FillResWords() { (void)resWords(); }

namespace {
// Open addressing on length and three letters: every word the reader meets is looked up here.
struct TResWordTable {
  static constexpr size_t kSize = 256;
  std::string_view word[kSize];
  int32_t code[kSize] = {};
  static size_t hash(std::string_view w) {
    const auto c = [&](size_t i) { return static_cast<size_t>(static_cast<unsigned char>(w[i])); };
    return (w.size() * 61 + c(0) * 7 + c(w.size() - 1) * 3 + c(w.size() / 2)) % kSize;
  }
  TResWordTable() {
    for (const auto& [w, c] : resWords()) {
      size_t h = hash(w);
      while (!word[h].empty()) h = (h + 1) % kSize;
      word[h] = w;
      code[h] = c;
    }
  }
  int32_t find(std::string_view w) const {
    if (w.size() < 2 || w.size() > 14) return 0;  // the shortest and longest reserved words
    for (size_t h = hash(w);; h = (h + 1) % kSize) {
      if (word[h].empty()) return 0;
      if (word[h] == w) return code[h];
    }
  }
};
}  // namespace

int ResWordCode(std::string_view upperWord) {
  static const TResWordTable table;
  return table.find(upperWord);
}

int32_t Hex2Dec(std::string_view text) {
  std::string t(text);
  if (t.find('$') == std::string::npos) t = "$" + t;
  int32_t v = 0;
  return TextToInt(t, v) ? v : 0;
}

THalCompiler::THalCompiler(std::string_view source, std::string& output)
    : src_(source), code_(spare::Take<TProgItem>()), output_(output) {}

THalCompiler::~THalCompiler() { spare::Give(code_); }

int THalCompiler::ReadByte() {
  const int p = pos_;
  pos_ = p + 1;
  if (p + 1 > static_cast<int>(src_.size())) {
    pos_ = static_cast<int>(src_.size()) + 1;  // stays just past the end however often it is called
    return 0;
  }
  const int c = static_cast<unsigned char>(src_[static_cast<size_t>(p)]);
  if (p + 1 > furthest_ && c == 10) {
    ++line_;
    putcode(ocLine, line_, 0);
  }
  if (pos_ > furthest_) furthest_ = pos_;
  return c;
}

int THalCompiler::NextByte() {
  if (pos_ < 0 || pos_ >= static_cast<int>(src_.size())) return 0;
  return static_cast<unsigned char>(src_[static_cast<size_t>(pos_)]);
}

void THalCompiler::BackBytes(int n) {
  if (pos_ - n >= 0) pos_ -= n;
}

void THalCompiler::error(const std::string& message) {
  throw ECompilerError("Syntax error line " + std::to_string(line_) + ": " + message);
}

void THalCompiler::ConvertCurPos(int& line, int& column) const {
  line = line_;
  int p = pos_ > static_cast<int>(src_.size()) ? static_cast<int>(src_.size()) : pos_;
  int start = p;
  while (start > 0 && src_[static_cast<size_t>(start - 1)] != '\r' && src_[static_cast<size_t>(start - 1)] != '\n')
    --start;
  column = pos_ - start + 1;
}

void THalCompiler::skipLineComment() {
  int c;
  do {
    c = ReadByte();
  } while (c >= 32);  // any control character (or the end) ends the comment
}

void THalCompiler::skipBlockComment(int opener) {
  const int closer = opener == '(' ? ')' : '/';  // "(*" closes at "*)", "/*" at "*/"
  ReadByte();                                    // the "*" of the opener
  for (;;) {
    const int c = ReadByte();
    if (c == 0) error("Unexpected EOF in comment block");
    if (c == '*' && NextByte() == closer) {
      ReadByte();
      return;
    }
  }
}

void THalCompiler::readString(int quote, TToken& t) {
  std::string s;
  for (;;) {
    const int c = ReadByte();
    if (c == 0) error("Unexpected EOF in string constant declaration");
    if (c == quote) {
      if (NextByte() != quote) break;
      ReadByte();
    }
    s += static_cast<char>(c);
  }
  t.code = tkString;
  t.value = TValue(std::move(s));
}

void THalCompiler::readWord(int first, TToken& t) {
  // The word's own bytes hold no line break (those stop it), so they are taken straight from
  // the text; the byte that stops it is read and put back as before (it may count a line).
  const size_t begin = static_cast<size_t>(pos_) - 1;
  size_t end = static_cast<size_t>(pos_);
  while (end < src_.size() && !StopChars.test(static_cast<unsigned char>(src_[end]))) ++end;
  pos_ = static_cast<int>(end);
  if (pos_ > furthest_) furthest_ = pos_;
  ReadByte();
  BackBytes(1);
  lexedWord_ = true;
  std::string& w = lastWord_;
  w.assign(1, static_cast<char>(first));
  w.append(src_.substr(begin + 1, end - begin - 1));
  for (char& ch : w) {  // as HalUpper
    const unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 224 && c <= 254)) ch = static_cast<char>(c - 32);
  }
  const int c0 = static_cast<unsigned char>(w[0]);
  if (in(FirstIdentChar, c0)) {
    for (size_t i = 1; i < w.size(); ++i)
      if (!in(IdentBackChars, static_cast<unsigned char>(w[i]))) error("Bad identifier name <" + w + ">");
    if (const int rw = ResWordCode(w)) {
      t.code = rw;
      t.value = TValue(w);
    } else if (const int rc = ResConsts().IndexOf(w); rc >= 0) {
      t.code = tkResConst;
      t.value = TValue(int32_t(rc));
    } else {
      t.code = tkIdent;
      t.value = TValue(w);
    }
    return;
  }
  if (w.size() > 1 && w[1] == 'X') {
    t.code = tkHex;
    t.value = TValue(w.substr(2));
    return;
  }
  for (char ch : w)
    if (!in(hexFlag_ ? HexDigit : Digit, static_cast<unsigned char>(ch))) error("Bad identifier <" + w + ">");
  t.code = tkNumber;
  if (hexFlag_)
    t.value = TValue(w);
  else
    t.value = TValue(std::strtod(w.c_str(), nullptr));
}

void THalCompiler::ReadToken(TToken& t) {
  if (takePeeked(t)) {
    pos_ = peeked_.to;
    return;
  }
  lexToken(t);
}

bool THalCompiler::takePeeked(TToken& t) {
  if (!peeked_.valid || peeked_.from != pos_ || peeked_.hexIn != hexFlag_ || peeked_.src != src_.data()) return false;
  t = peeked_.token;
  hexFlag_ = peeked_.hexOut;
  if (peeked_.word) lastWord_ = peeked_.lastWord;
  return true;
}

void THalCompiler::lexToken(TToken& t) {
  lexedWord_ = false;
  for (;;) {
    int c;
    do {
      c = ReadByte();
    } while (c >= 1 && c <= 32);
    if ((c == '/' || c == '-') && NextByte() == c) {
      skipLineComment();
      continue;
    }
    if ((c == '(' || c == '/') && NextByte() == '*') {
      skipBlockComment(c);
      continue;
    }
    if (in(WhiteSpaces, c)) {
      t.code = c;
      t.value = TValue(int32_t(0));
      hexFlag_ = c == '$';
      return;
    }
    if (c == 0) {
      t.code = tkEOF;
      t.value = TValue(int32_t(0));
      return;
    }
    if (c == '\'' || c == '"') {
      readString(c, t);
      return;
    }
    if (c == '{') {
      int d;
      do {
        d = ReadByte();
        if (d == 0) error("Unexpected EOF in comment block");
      } while (d != '}');
      continue;
    }
    readWord(c, t);
    return;
  }
}

void THalCompiler::NextToken(TToken& t) {
  peeking_ = true;
  const int saved = pos_;
  if (!takePeeked(t)) {
    peeked_.valid = false;
    peeked_.from = pos_;
    peeked_.hexIn = hexFlag_;
    peeked_.src = src_.data();
    lexToken(t);
    peeked_.to = pos_;
    peeked_.hexOut = hexFlag_;
    peeked_.token = t;
    peeked_.word = lexedWord_;
    if (lexedWord_) peeked_.lastWord = lastWord_;
    peeked_.valid = true;
  }
  pos_ = saved;
  peeking_ = false;
}

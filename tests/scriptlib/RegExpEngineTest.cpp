// The regular-expression engine on its own: a table of patterns, texts and expected groups over
// every node kind, the error texts, the hints, the shortcuts against a plain walk and against the C
// library's matcher, long texts, the backtracking limit and aborting a runaway match.
#include "scriptlib/Cmdregexp.h"
#include "scriptlib/RegProgram.h"

#include <gtest/gtest.h>

#include <regex.h>
#include <atomic>
#include <future>
#include <random>
#include <thread>

namespace {

constexpr const char* kNone = nullptr;  // a group that did not take part

struct TMatchCase {
  const char* pattern;
  const char* text;
  bool ignoreCase;
  int start;                        // SubStart(0); 0 when nothing matches
  std::vector<const char*> groups;  // SubString(0), SubString(1), ...
};

// clang-format off
const TMatchCase kCases[] = {
    // literals, runs split before an operator, escapes, 8-bit characters
    {"abc", "xxabcx", false, 3, {"abc"}},
    {"abc", "abd", false, 0, {}},
    {"abc*", "abccc", false, 1, {"abccc"}},
    {"abc*", "abx", false, 1, {"ab"}},
    {"ab+c", "abbbc", false, 1, {"abbbc"}},
    {"colou?r", "color colour", false, 1, {"color"}},
    {"a\\.b", "axb a.b", false, 5, {"a.b"}},
    {"\\(x\\)\\*", "(x)*", false, 1, {"(x)*"}},
    {"a\\\\b", "a\\b", false, 1, {"a\\b"}},
    {"\xe4+", "x\xe4\xe4y", false, 2, {"\xe4\xe4"}},
    {"[\x80-\xff]+", "ab\x81\xfe", false, 3, {"\x81\xfe"}},
    // any character, brackets
    {"a.c", "abc", false, 1, {"abc"}},
    {"a.c", "ac", false, 0, {}},
    {"[bc]+", "abcbd", false, 2, {"bcb"}},
    {"[]a]+", "x]a]", false, 2, {"]a]"}},
    {"[-a]+", "b-a", false, 2, {"-a"}},
    {"[a-]+", "b-a", false, 2, {"-a"}},
    {"[a-c-e]+", "xdeb", false, 2, {"deb"}},
    {"[^a-c]+", "abcdef", false, 4, {"def"}},
    {"[^]]", "]]x", false, 3, {"x"}},
    {"[^a]*$", "aaa", false, 4, {""}},
    // anchors and word edges
    {"^ab", "ab", false, 1, {"ab"}},
    {"^ab", "cab", false, 0, {}},
    {"x|^a", "ab", false, 1, {"a"}},
    {"x|^a", "ba", false, 0, {}},
    {"a^b", "a^b", false, 0, {}},
    {"ab$", "abcab", false, 4, {"ab"}},
    {"$", "abc", false, 4, {""}},
    {"a$b", "a$b", false, 0, {}},
    {"\\<word\\>", "a word here", false, 3, {"word"}},
    {"\\<word\\>", "swordfish", false, 0, {}},
    {"\\>", "  ab", false, 5, {""}},
    {"o\\>", "foo bar", false, 3, {"o"}},
    {"\\<b", "ab b", false, 4, {"b"}},
    // alternatives: leftmost first, then the first alternative that succeeds
    {"cat|dog|bird", "hotdog", false, 4, {"dog"}},
    {"b|ab", "ab", false, 1, {"ab"}},
    {"a|ab", "ab", false, 1, {"a"}},
    {"a|", "b", false, 1, {""}},
    {"(|a)b", "ab", false, 1, {"ab", "a"}},
    // single-character repetition: count, back off to the look-ahead
    {"a*b", "xxaaab", false, 3, {"aaab"}},
    {"x*", "abc", false, 1, {""}},
    {"a+", "baaa", false, 2, {"aaa"}},
    {"a*ab", "aaab", false, 1, {"aaab"}},
    {".*b", "abab", false, 1, {"abab"}},
    {"[ab]*b", "abab x", false, 1, {"abab"}},
    {"[^x]+x", "abxcdx", false, 1, {"abx"}},
    {".+", "", false, 0, {}},
    // groups: loops, nesting, groups that do not take part, the last iteration wins
    {"(a)|(b)", "b", false, 1, {"b", kNone, "b"}},
    {"(ab)*c", "ababc", false, 1, {"ababc", "ab"}},
    {"(ab)+", "xabab", false, 2, {"abab", "ab"}},
    {"(ab)?c", "c", false, 1, {"c", kNone}},
    {"((a)(b))", "ab", false, 1, {"ab", "ab", "a", "b"}},
    {"(a|b)*", "ab", false, 1, {"ab", "b"}},
    {"((a)|b)+", "ab", false, 1, {"ab", "b", "a"}},
    {"(a+)(a+)", "aaaa", false, 1, {"aaaa", "aaa", "a"}},
    {"(a*)b", "b", false, 1, {"b", ""}},
    {"x(a|ab)(c|bcd)", "xabcd", false, 1, {"xabcd", "a", "bcd"}},
    // ignore case: letters outside brackets only; escaped letters fold too
    {"abc", "xABC", true, 2, {"ABC"}},
    {"[a-c]+", "ABCabc", true, 4, {"abc"}},
    {"\\a", "A", true, 1, {"A"}},
    {"\\a", "A", false, 0, {}},
    {"[]a]", "A]", true, 2, {"]"}},
    {"\\[a\\]", "[A]", true, 1, {"[A]"}},
    // the empty pattern
    {"", "abc", false, 1, {""}},
    {"", "", false, 1, {""}},
};
// clang-format on

std::string Show(const char* s) { return s ? std::string("\"") + s + "\"" : "(none)"; }

TEST(RegExpEngine, PatternTable) {
  for (const TMatchCase& c : kCases) {
    SCOPED_TRACE(std::string("pattern ") + c.pattern + " text " + c.text);
    Regexp re;
    ASSERT_TRUE(re.SetPattern(c.pattern, c.ignoreCase)) << re.ErrorText();
    const bool found = re.Match(std::string_view(c.text));
    EXPECT_EQ(found, c.start != 0);
    EXPECT_EQ(re.SubStart(0), c.start);
    int highest = 0;
    for (size_t n = 0; n < c.groups.size(); ++n) {
      const int g = static_cast<int>(n);
      EXPECT_EQ(Show(re.SubStart(g) != 0 ? re.SubString(g).c_str() : kNone), Show(c.groups[n])) << "group " << n;
      if (n > 0 && c.groups[n]) highest = static_cast<int>(n);
    }
    EXPECT_EQ(re.NumSubStrings(), highest);
  }
}

TEST(RegExpEngine, CompileErrorsAndTheirTexts) {
  const std::string big(REG_MAX_PROGRAM, 'a');
  std::string groups49, groups50;
  for (int i = 0; i < 49; ++i) groups49 += "(a)";
  groups50 = groups49 + "(a)";
  const std::pair<std::string, const char*> kErrors[] = {
      {big, "regexp too big"},
      {groups50, "too many ()"},
      {"(x", "unterminated ()"},
      {"x)", "unmatched ()"},
      {"(x*)*", "*+ operand could be empty"},
      {"(^)+", "*+ operand could be empty"},
      {"x**", "nested *?+"},
      {"x*?", "nested *?+"},
      {"[z-a]", "invalid [] range"},
      {"[ab", "unmatched []"},
      {"[]", "unmatched []"},
      {"*x", "?+* follows nothing"},
      {"a|+", "?+* follows nothing"},
      {"x\\", "trailing \\\\"},
  };
  for (const auto& [pattern, text] : kErrors) {
    Regexp re;
    EXPECT_FALSE(re.SetPattern(pattern.c_str(), false)) << pattern;
    EXPECT_EQ(re.ErrorText(), text) << pattern.substr(0, 20);
    EXPECT_FALSE(re.HasPattern());
  }
  regexp r;
  EXPECT_FALSE(r.Compile(nullptr, false));
  EXPECT_EQ(r.ErrorText(), "NULL argument to regcomp");
  EXPECT_TRUE(r.Compile(groups49.c_str(), false));
  // Header, alternative, literal node and its zero, end: 11 bytes besides the characters.
  EXPECT_TRUE(r.Compile(std::string(REG_MAX_PROGRAM - 12, 'a').c_str(), false));
  EXPECT_EQ(r.Size(), REG_MAX_PROGRAM - 1);
  EXPECT_FALSE(r.Compile(std::string(REG_MAX_PROGRAM - 11, 'a').c_str(), false));
  EXPECT_EQ(r.ErrorText(), "regexp too big");

  // Texts no pattern can reach, and codes outside the table.
  EXPECT_STREQ(RegErrorText(regJunkOnEnd), "internal error: junk on end");
  EXPECT_STREQ(RegErrorText(regUnexpectedEnd), "internal error: \\0|) unexpected");
  EXPECT_STREQ(RegErrorText(regStrcspn), "internal error: strcspn 0");
  EXPECT_STREQ(RegErrorText(regCorruptedOpcode), "corrupted opcode");
  EXPECT_STREQ(RegErrorText(regNullSubParm), "NULL parm to regsub");
  EXPECT_STREQ(RegErrorText(regDamagedSub), "damaged regexp fed to regsub");
  EXPECT_STREQ(RegErrorText(regDamagedMatch), "damaged match string");
  EXPECT_STREQ(RegErrorText(0), "Unknown error");
  EXPECT_STREQ(RegErrorText(99), "Unknown error");
}

// Damaged programs only make a match fail, with the matcher's error text.
TEST(RegExpEngine, MatchErrorsOnDamagedPrograms) {
  regexp r;
  EXPECT_FALSE(r.Execute(nullptr, 0));
  EXPECT_EQ(r.ErrorText(), "NULL argument to regexec");  // also before any compile
  EXPECT_FALSE(r.Execute("abc", 3));
  EXPECT_EQ(r.ErrorText(), "corrupted regexp");

  auto damaged = [](const char* pattern, auto&& damage) {
    regexp p;
    EXPECT_TRUE(p.Compile(pattern, false));
    damage(p.Program());
    EXPECT_FALSE(p.Execute("xaaay", 5));
    EXPECT_EQ(p.GroupsTaken(), 0);
    return p.ErrorText();
  };
  // Program: header, alternative (1), then the pattern's first node at 4.
  EXPECT_EQ(damaged("a+y", [](std::vector<uint8_t>& p) { p[0] = 0; }), "corrupted regexp");
  EXPECT_EQ(damaged("a+y", [](std::vector<uint8_t>& p) { p[4] = 200; }), "regexp corruption");
  EXPECT_EQ(damaged("a+y", [](std::vector<uint8_t>& p) { p[5] = p[6] = 0; }), "corrupted pointers");
  EXPECT_EQ(damaged("a+y", [](std::vector<uint8_t>& p) { p[7] = NodeEmpty; }), "internal error: bad call of regrepeat");
}

TEST(RegExpEngine, HintsOfTheOnlyTopLevelAlternative) {
  regexp r;
  ASSERT_TRUE(r.Compile("abc*d", false));
  EXPECT_EQ(r.FirstChar(), 'a');
  EXPECT_FALSE(r.Anchored());
  EXPECT_EQ(r.RequiredLiteral(), "");
  ASSERT_TRUE(r.Compile("^ab", false));
  EXPECT_TRUE(r.Anchored());
  EXPECT_EQ(r.FirstChar(), 0);
  ASSERT_TRUE(r.Compile("x*abc(de)?fgh", false));  // longest literal; the later one on a tie
  EXPECT_EQ(r.RequiredLiteral(), "fgh");
  ASSERT_TRUE(r.Compile("x?abcd(efghij)", false));  // literals inside groups are not on the chain
  EXPECT_EQ(r.RequiredLiteral(), "abcd");
  ASSERT_TRUE(r.Compile("a+bcd", false));  // cannot start with a repetition: no required literal
  EXPECT_EQ(r.RequiredLiteral(), "");
  ASSERT_TRUE(r.Compile("ab|^cd", false));  // more than one alternative: no hints
  EXPECT_EQ(r.FirstChar(), 0);
  EXPECT_FALSE(r.Anchored());
  ASSERT_TRUE(r.Compile("abc", true));
  EXPECT_EQ(r.FirstChar(), 0);
}

// Every slot of both group arrays, or "no match" with the error.
std::string Outcome(regexp& r, const std::string& text) {
  if (!r.Execute(text.c_str(), text.size())) return "no match " + r.ErrorText();
  std::string s;
  for (int n = 0; n < REG_GROUP_SLOTS; ++n)
    if (r.GroupStart(n) >= 0 || r.GroupEnd(n) >= 0)
      s += std::to_string(n) + ":" + std::to_string(r.GroupStart(n)) + "-" + std::to_string(r.GroupEnd(n)) + " ";
  return s;
}

// Random patterns over a small alphabet; only those that compile are used.
std::string RandomPattern(std::mt19937& rng, int depth = 0) {
  static const char* const kAtoms[] = {"a", "b", "c", ".", "[ab]", "[^a]", "ab", "^", "$", "\\<", "\\>", " "};
  std::string p;
  const int pieces = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < pieces; ++i) {
    if (depth < 3 && rng() % 4 == 0)
      p += "(" + RandomPattern(rng, depth + 1) + ")";
    else
      p += kAtoms[rng() % (sizeof kAtoms / sizeof kAtoms[0])];
    const char* ops[] = {"", "", "*", "+", "?"};
    p += ops[rng() % 5];
  }
  if (rng() % 5 == 0) p += "|" + RandomPattern(rng, depth + 1);
  return p;
}

std::string RandomText(std::mt19937& rng) {
  std::string t;
  const int n = static_cast<int>(rng() % 14);
  for (int i = 0; i < n; ++i) t += "abc "[rng() % 4];
  return t;
}

// Skipping start positions (required literal, first characters, leading literal, anchoring) must
// give exactly the plain walk's answer; whether and where a match starts must agree with the C
// library's matcher, which finds the same leftmost start (its match length follows other rules).
TEST(RegExpEngine, ShortcutsAgreeWithThePlainWalkAndTheCLibrary) {
  std::mt19937 rng(20240601);
  int compared = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string pattern = RandomPattern(rng);
    regexp fast, plain;
    if (!fast.Compile(pattern.c_str(), false)) continue;
    ASSERT_TRUE(plain.Compile(pattern.c_str(), false));
    plain.SetShortcuts(false);
    regex_t posix;
    if (regcomp(&posix, pattern.c_str(), REG_EXTENDED) != 0) continue;  // it refuses repeated anchors
    for (int k = 0; k < 6; ++k) {
      const std::string text = RandomText(rng);
      SCOPED_TRACE("pattern '" + pattern + "' text '" + text + "'");
      const std::string expected = Outcome(plain, text);
      ASSERT_EQ(Outcome(fast, text), expected);
      regmatch_t m[1];
      const bool posixFound = regexec(&posix, text.c_str(), 1, m, 0) == 0;
      ASSERT_EQ(posixFound, expected.rfind("no match", 0) != 0);
      if (posixFound) {
        ASSERT_EQ(m[0].rm_so, fast.GroupStart(0));
      }
      ++compared;
    }
    regfree(&posix);
  }
  EXPECT_GT(compared, 5000);
  for (const TMatchCase& c : kCases) {
    regexp fast, plain;
    ASSERT_TRUE(fast.Compile(c.pattern, c.ignoreCase));
    ASSERT_TRUE(plain.Compile(c.pattern, c.ignoreCase));
    plain.SetShortcuts(false);
    EXPECT_EQ(Outcome(fast, c.text), Outcome(plain, c.text)) << c.pattern;
  }
}

std::string Repeat(const std::string& unit, size_t times) {
  std::string s;
  s.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) s += unit;
  return s;
}

// Loops over groups on megabyte texts and deeply nested groups run without growing the thread's stack.
TEST(RegExpEngine, LongTextsAndNestedGroups) {
  Regexp re;
  const std::string pairs = Repeat("ab", 500000) + "c";
  ASSERT_TRUE(re.SetPattern("(ab)*c", false));
  ASSERT_TRUE(re.Match(pairs));
  EXPECT_EQ(re.SubLength(0), 1000001);
  EXPECT_EQ(re.SubStart(1), 999999);

  ASSERT_TRUE(re.SetPattern("^(a|b)+$", false));
  ASSERT_TRUE(re.Match(Repeat("ab", 300000)));
  EXPECT_EQ(re.SubString(1), "b");
  EXPECT_FALSE(re.Match(Repeat("ab", 300000) + "c"));
  EXPECT_EQ(re.ErrorText(), "");

  std::string nested;
  for (int i = 0; i < 49; ++i) nested += "(";
  nested += "a";
  for (int i = 0; i < 49; ++i) nested += ")+";
  ASSERT_TRUE(re.SetPattern(nested.c_str(), false));
  ASSERT_TRUE(re.Match("x" + Repeat("a", 100000) + "y"));
  EXPECT_EQ(re.SubStart(0), 2);
  EXPECT_EQ(re.SubLength(0), 100000);
  EXPECT_EQ(re.NumSubStrings(), 49);
  EXPECT_EQ(re.SubStart(49), 100001);  // groups above 27 are kept like the others
}

TEST(RegExpEngine, BacktrackingLimitEndsTheMatchWithAnError) {
  regexp r;
  ASSERT_TRUE(r.Compile("(ab)*c", false));
  r.SetBacktrackLimit(1000);
  const std::string text = Repeat("ab", 1000) + "c";
  EXPECT_FALSE(r.Execute(text.c_str(), text.size()));
  EXPECT_EQ(r.ErrorCode(), regStackOverflow);
  EXPECT_EQ(r.ErrorText(), "regexp stack overflow: pattern too complex for this text");
  EXPECT_EQ(r.GroupStart(0), -1);
  r.SetBacktrackLimit(REG_DEFAULT_BACKTRACK_LIMIT);
  EXPECT_TRUE(r.Execute(text.c_str(), text.size()));

  // k rounds of the loop hold 3k + 2 entries at the deepest (choice, group start, group end, and the
  // last round's choice and start); the limit is exact, also beyond the stack's first segment.
  r.SetBacktrackLimit(10000);
  const std::string fits = Repeat("ab", 3332) + "c", over = Repeat("ab", 3333) + "c";
  EXPECT_TRUE(r.Execute(fits.c_str(), fits.size()));
  EXPECT_FALSE(r.Execute(over.c_str(), over.size()));
  EXPECT_EQ(r.ErrorCode(), regStackOverflow);
  EXPECT_TRUE(r.Execute(fits.c_str(), fits.size()));
}

// A match that backtracks for ages ends once the probe says so, whoever asks.
TEST(RegExpEngine, ProbeAbortsARunawayMatch) {
  regexp r;
  ASSERT_TRUE(r.Compile("(a+)+b", false));
  const std::string text(40, 'a');
  std::atomic<bool> stop{false};
  std::promise<void> asked;
  std::atomic<bool> signalled{false};
  TRegAbortProbe probe = [&] {
    if (!signalled.exchange(true)) asked.set_value();
    return stop.load();
  };
  std::future<bool> result =
      std::async(std::launch::async, [&] { return r.Execute(text.c_str(), text.size(), probe); });
  asked.get_future().wait();  // the match is under way
  stop = true;
  EXPECT_FALSE(result.get());
  EXPECT_EQ(r.ErrorCode(), regAborted);
}

TEST(RegExpEngine, RegexpKeepsItsSubjectAndSharesItsProgram) {
  Regexp a;
  EXPECT_EQ(a.NumSubStrings(), -1);
  EXPECT_EQ(a.SubString(0), "");
  EXPECT_EQ(a.SubStart(0), 0);
  EXPECT_EQ(a.SubLength(0), -1);
  EXPECT_FALSE(a.Match(std::string_view("x")));
  EXPECT_EQ(a.ErrorText(), "NULL regexp");

  ASSERT_TRUE(a.SetPattern("(b+)", false));
  std::string text = "abbc";
  ASSERT_TRUE(a.Match(text));
  text.assign("zzzz");
  EXPECT_EQ(a.SubString(1), "bb");  // the caller's text changed; the match kept its own

  Regexp b = a;  // shares the program until one of them matches
  ASSERT_TRUE(b.Match(std::string_view("bbbb")));
  EXPECT_EQ(b.SubString(1), "bbbb");
  EXPECT_EQ(a.SubString(1), "bb");
  EXPECT_EQ(a.SubStart(1), 2);

  // A failed match leaves no groups, also when the required literal is missing and nothing was tried.
  ASSERT_TRUE(a.SetPattern("x*(a)bc", false));
  ASSERT_TRUE(a.Match(std::string_view("abc")));
  EXPECT_EQ(a.NumSubStrings(), 1);
  EXPECT_FALSE(a.Match(std::string_view("zzz")));
  EXPECT_EQ(a.NumSubStrings(), 0);
  EXPECT_EQ(a.SubString(1), "");
  EXPECT_EQ(a.SubStart(1), 0);
  EXPECT_EQ(a.SubLength(1), 0);

  // A failed compile leaves no pattern; group numbers out of range name a group that never takes part.
  ASSERT_TRUE(a.Match(std::string_view("abc")));
  EXPECT_EQ(a.SubString(-1), "");
  EXPECT_EQ(a.SubStart(1000), 0);
  EXPECT_EQ(a.SubLength(50), 0);
  EXPECT_FALSE(a.SetPattern("(", false));
  EXPECT_EQ(a.NumSubStrings(), -1);
  EXPECT_EQ(a.SubString(0), "");
}

// The text ends at its first zero byte.
TEST(RegExpEngine, ZeroByteEndsTheText) {
  Regexp re;
  ASSERT_TRUE(re.SetPattern("b$", false));
  EXPECT_TRUE(re.Match(std::string_view("ab\0cb", 5)));
  EXPECT_EQ(re.SubStart(0), 2);
  ASSERT_TRUE(re.SetPattern(".*", false));
  EXPECT_TRUE(re.Match(std::string_view("ab\0cd", 5)));
  EXPECT_EQ(re.SubLength(0), 2);
  ASSERT_TRUE(re.SetPattern("c", false));
  EXPECT_FALSE(re.Match(std::string_view("ab\0cd", 5)));
}

}  // namespace

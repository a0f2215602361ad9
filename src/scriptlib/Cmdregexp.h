// Cmdregexp: the script library's own regular-expression engine (compiled node program, backtracking
// matcher over 8-bit zero-terminated texts, up to 49 groups) and the registration of TRegExp.
#pragma once

#include "scriptlib/RegBacktrack.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Error codes; RegErrorText gives each one's message.
enum TRegError : int {
  regNoError = 0,
  regNullText = 1,
  regCorruptedProgram = 2,
  regCorruptedNode = 3,
  regCorruptedPointers = 4,
  regBadRepeat = 5,
  regCorruptedOpcode = 6,
  regNullSubParm = 7,
  regDamagedSub = 8,
  regDamagedMatch = 9,
  regNullPattern = 10,
  regTooBig = 11,
  regTooManyGroups = 12,
  regUnterminatedGroup = 13,
  regUnmatchedGroup = 14,
  regJunkOnEnd = 15,
  regEmptyOperand = 16,
  regNestedRepeat = 17,
  regBadRange = 18,
  regUnmatchedBracket = 19,
  regUnexpectedEnd = 20,
  regFollowsNothing = 21,
  regTrailingBackslash = 22,
  regStrcspn = 23,
  regNullRegexp = 24,
  // Beyond the classic table: limits that end a match instead of the process.
  regStackOverflow = 25,
  regAborted = 26,
  regTextTooLong = 27
};
const char* RegErrorText(int code);

constexpr int REG_MAX_GROUPS = 49;
constexpr int REG_GROUP_SLOTS = 51;  // 0 = the whole match, 50 = a group that never takes part
constexpr int REG_MAX_PROGRAM = 0x7FFF;
// Backtracking entries one match may hold (12 bytes each) before it ends with regStackOverflow.
constexpr size_t REG_DEFAULT_BACKTRACK_LIMIT = size_t(1) << 22;

// Asked every few thousand matching steps; true ends the match with regAborted.
using TRegAbortProbe = std::function<bool()>;

class CRegErrorHandler {
 public:
  const std::string& ErrorText() const { return m_error; }
  int ErrorCode() const { return m_code; }

 protected:
  void SetError(int code);
  void ClearError();

 private:
  std::string m_error;
  int m_code = regNoError;
};

// A 256-bit character set (bracket expressions, possible first characters).
struct TRegCharSet {
  uint64_t bits[4] = {};
  bool Has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
  void Add(unsigned char c) { bits[c >> 6] |= uint64_t(1) << (c & 63); }
  int Count() const;
};

// The compiled program and the groups of its last match. Positions are offsets into the text.
class regexp : public CRegErrorHandler {
 public:
  regexp() {
    for (int i = 0; i < REG_GROUP_SLOTS; ++i) m_startp[i] = m_endp[i] = -1;
  }
  // Compiles the pattern (zero-terminated); false with the error text set.
  bool Compile(const char* pattern, bool ignoreCase);
  // Matches a text whose first zero byte (or `length`) ends it; fills the groups.
  bool Execute(const char* text, size_t length, const TRegAbortProbe& probe = {});

  int32_t Size() const { return m_size; }
  bool Compiled() const { return m_compiled != 0; }
  int32_t GroupStart(int n) const { return m_startp[n]; }  // -1 when the group did not take part
  int32_t GroupEnd(int n) const { return m_endp[n]; }
  int32_t GroupsTaken() const { return m_groupsTaken; }
  uint8_t FirstChar() const { return m_firstChar; }
  bool Anchored() const { return m_anchored != 0; }
  std::string RequiredLiteral() const;
  // Forgets the last match's groups.
  void ClearGroups();

  // Tuning and inspection for tests: the start-position shortcuts can be turned off (every position is
  // then tried), the backtracking limit lowered, and the program bytes read or damaged.
  void SetShortcuts(bool on) { m_shortcuts = on; }
  void SetBacktrackLimit(size_t entries) { m_backtrackLimit = entries; }
  std::vector<uint8_t>& Program() { return m_program; }
  const std::vector<uint8_t>& Program() const { return m_program; }
  const TRegCharSet* NodeSet(int node) const;

 private:
  friend class CRegExecutor;
  void ComputeHints(int flags);
  void ComputeNodeSets();
  void ComputeFirstSet();
  bool ExecuteTries(class CRegExecutor& ex, const unsigned char* text, int32_t length);
  int32_t NextCandidate(const unsigned char* text, int32_t length, int32_t from) const;
  void Finish(int32_t start, int32_t end);
  bool Digram(const unsigned char* at) const {
    const unsigned pair = at[0] * 256u + at[1];
    return m_digrams.empty() || ((m_digrams[pair >> 6] >> (pair & 63)) & 1);
  }

  int32_t m_size = 0;
  int32_t m_startp[REG_GROUP_SLOTS];
  int32_t m_endp[REG_GROUP_SLOTS];
  uint8_t m_firstChar = 0;
  uint8_t m_anchored = 0;
  int32_t m_must = -1;  // offset of the required literal in the program, -1 = none
  int32_t m_mustLength = 0;
  std::vector<uint8_t> m_program;
  uint8_t m_compiled = 0;
  int32_t m_groupsTaken = 0;
  int32_t m_groupCount = REG_MAX_GROUPS;  // highest group number in the program; slots beyond stay -1

  // Derived at compile time for the matcher.
  std::vector<TRegCharSet> m_sets;  // one per bracket node
  std::vector<int16_t> m_setOf;     // node offset -> index into m_sets, -1 for other nodes
  int32_t m_prefix = -1;            // literal that every match starts with (offset), -1 = none
  int32_t m_prefixLength = 0;
  TRegCharSet m_first;                   // characters a match can start with (after position 0)
  std::array<bool, 256> m_firstTable{};  // the same, a byte each, for the candidate scan's inner loop
  bool m_firstAll = true;                // every position may start a match
  bool m_firstAtStart = true;            // "^" can come first: position 0 is tried whatever its character
  int m_firstSingle = -1;                // the only member of m_first, when there is exactly one
  // When every match starts with one of some literals: their first two characters, as 65536 bits.
  std::vector<uint64_t> m_digrams;
  bool m_shortcuts = true;
  size_t m_backtrackLimit = REG_DEFAULT_BACKTRACK_LIMIT;
  CRegBacktrackStack m_backtrack;
};

// What a TRegExp holds: the program (shared between copies until one matches), the subject of the
// last match and the last error. The subject is either this object's own copy of the text or a text
// its holder keeps unchanged for it (TRegExp keeps the script's string value).
class Regexp : public CRegErrorHandler {
 public:
  Regexp() = default;
  Regexp(const Regexp& other);
  Regexp& operator=(const Regexp& other);

  // Releases the old program and compiles the new one; the compiled flag.
  bool SetPattern(const char* pattern, bool ignoreCase);
  bool HasPattern() const { return m_prog != nullptr; }
  // Matches a copy of `text`.
  bool Match(std::string_view text, const TRegAbortProbe& probe = {});
  // Matches `length` bytes at `text` (zero there) without copying: the caller keeps the text
  // unchanged until the next match or until this object goes.
  bool MatchKept(const char* text, size_t length, const TRegAbortProbe& probe = {});
  // Forgets the last match's groups (a match that was not even tried).
  void ClearMatch();

  int NumSubStrings() const;
  std::string SubString(int n) const;
  int SubStart(int n) const;
  int SubLength(int n) const;
  const regexp* Program() const { return m_prog.get(); }

 private:
  static int Slot(int n);
  bool Taken(int n) const;
  bool OwnsSubject() const { return m_subject == m_copy.c_str(); }

  std::shared_ptr<regexp> m_prog;
  std::string m_copy;  // the subject when this object made its own copy
  const char* m_subject = nullptr;
  size_t m_subjectLength = 0;
};

// Registers the script class TRegExp and its members; repeated calls do nothing.
void RegisterRegExpLibrary();

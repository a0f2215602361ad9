// The engine's error table, compilation in two passes, the start-position loop of a match, and
// Regexp, the program-plus-subject object that TRegExp holds.
#include "scriptlib/Cmdregexp.h"

#include "scriptlib/RegCompiler.h"
#include "scriptlib/RegExecutor.h"
#include "scriptlib/RegProgram.h"

#include <climits>
#include <cstring>

namespace {

const char* const kErrorTexts[] = {
    "",
    "NULL argument to regexec",
    "corrupted regexp",
    "regexp corruption",
    "corrupted pointers",
    "internal error: bad call of regrepeat",
    "corrupted opcode",
    "NULL parm to regsub",
    "damaged regexp fed to regsub",
    "damaged match string",
    "NULL argument to regcomp",
    "regexp too big",
    "too many ()",
    "unterminated ()",
    "unmatched ()",
    "internal error: junk on end",
    "*+ operand could be empty",
    "nested *?+",
    "invalid [] range",
    "unmatched []",
    "internal error: \\0|) unexpected",
    "?+* follows nothing",
    "trailing \\\\",
    "internal error: strcspn 0",
    "NULL regexp",
    "regexp stack overflow: pattern too complex for this text",
    "regexp match aborted",
    "text too long for regexec",
};
constexpr int kErrorCount = static_cast<int>(sizeof kErrorTexts / sizeof kErrorTexts[0]);

}  // namespace

const char* RegErrorText(int code) { return code > 0 && code < kErrorCount ? kErrorTexts[code] : "Unknown error"; }

void CRegErrorHandler::SetError(int code) {
  m_code = code;
  m_error = RegErrorText(code);
}

void CRegErrorHandler::ClearError() {
  m_code = regNoError;
  m_error.clear();
}

// ---- regexp ---------------------------------------------------------------------------------

// Slots above the program's highest group are never written, so they need no clearing.
void regexp::ClearGroups() {
  for (int i = 0; i <= m_groupCount; ++i) m_startp[i] = m_endp[i] = -1;
  m_groupsTaken = 0;
}

std::string regexp::RequiredLiteral() const {
  if (m_must < 0) return std::string();
  return std::string(reinterpret_cast<const char*>(m_program.data() + m_must), static_cast<size_t>(m_mustLength));
}

bool regexp::Compile(const char* pattern, bool ignoreCase) {
  m_compiled = 0;
  m_program.clear();
  m_size = 0;
  ClearError();
  m_groupCount = REG_MAX_GROUPS;
  ClearGroups();
  if (!pattern) {
    SetError(regNullPattern);
    return false;
  }
  std::string folded;
  if (ignoreCase) {
    folded = RegFoldCase(pattern);
    pattern = folded.c_str();
  }
  int flags = 0;
  CRegValidator sizing(pattern);
  if (!sizing.Parse(flags)) {
    SetError(sizing.ErrorCode());
    return false;
  }
  if (sizing.Size() >= REG_MAX_PROGRAM) {
    SetError(regTooBig);
    return false;
  }
  m_size = static_cast<int32_t>(sizing.Size());
  // One zero beyond the program, so that every operand string ends inside the buffer.
  m_program.assign(static_cast<size_t>(m_size) + 1, 0);
  CRegCompiler emitting(pattern, m_program.data(), m_size);
  if (!emitting.Parse(flags)) {
    SetError(emitting.ErrorCode());
    return false;
  }
  ComputeHints(flags);
  m_compiled = 1;
  return true;
}

bool regexp::Execute(const char* text, size_t length, const TRegAbortProbe& probe) {
  ClearError();
  ClearGroups();
  if (!text) {
    SetError(regNullText);
    return false;
  }
  if (m_program.empty() || m_program[0] != REG_MAGIC) {
    SetError(regCorruptedProgram);
    return false;
  }
  // The text ends at its first zero byte.
  if (const void* zero = std::memchr(text, 0, length))
    length = static_cast<size_t>(static_cast<const char*>(zero) - text);
  if (length >= static_cast<size_t>(INT32_MAX)) {
    SetError(regTextTooLong);
    return false;
  }
  CRegExecutor ex(*this, reinterpret_cast<const unsigned char*>(text), static_cast<int32_t>(length), probe);
  const bool found = ExecuteTries(ex, reinterpret_cast<const unsigned char*>(text), static_cast<int32_t>(length));
  if (!found) {
    if (ex.ErrorCode() != regNoError) SetError(ex.ErrorCode());
    ClearGroups();
  }
  m_backtrack.Trim();
  return found;
}

// The leftmost position whose try succeeds. Shortcuts skip only positions where a try must fail: no
// required literal at or after them, or a character no match can start with.
bool regexp::ExecuteTries(CRegExecutor& ex, const unsigned char* text, int32_t length) {
  const void* must = m_program.data() + (m_must < 0 ? 0 : m_must);
  int32_t mustAt = -1;
  int32_t p = m_shortcuts && !m_firstAtStart ? NextCandidate(text, length, 0) : 0;
  while (p >= 0) {
    if (m_shortcuts && m_must >= 0 && p > mustAt) {
      const void* hit = memmem(text + p, static_cast<size_t>(length - p), must, static_cast<size_t>(m_mustLength));
      if (!hit || !ex.Charge((length - p) >> 6)) return false;
      mustAt = static_cast<int32_t>(static_cast<const unsigned char*>(hit) - text);
    }
    if (ex.Try(p)) {
      Finish(p, ex.Position());
      return true;
    }
    if (ex.ErrorCode() != regNoError || p >= length || (m_shortcuts && m_anchored)) return false;
    p = m_shortcuts ? NextCandidate(text, length, p + 1) : p + 1;
  }
  return false;
}

void regexp::Finish(int32_t start, int32_t end) {
  m_startp[0] = start;
  m_endp[0] = end;
  m_groupsTaken = 0;
  for (int n = m_groupCount; n >= 1; --n)
    if (m_startp[n] >= 0) {
      m_groupsTaken = n;
      break;
    }
}

// ---- Regexp ---------------------------------------------------------------------------------

Regexp::Regexp(const Regexp& other) : CRegErrorHandler(other) { *this = other; }

// Shares the program; an own subject is copied along, a kept one stays the holder's.
Regexp& Regexp::operator=(const Regexp& other) {
  if (this == &other) return *this;
  CRegErrorHandler::operator=(other);
  m_prog = other.m_prog;
  m_copy = other.m_copy;
  m_subject = other.OwnsSubject() ? m_copy.c_str() : other.m_subject;
  m_subjectLength = other.m_subjectLength;
  return *this;
}

bool Regexp::SetPattern(const char* pattern, bool ignoreCase) {
  m_prog.reset();
  m_subject = nullptr;
  m_subjectLength = 0;
  ClearError();
  auto prog = std::make_shared<regexp>();
  if (!prog->Compile(pattern, ignoreCase)) {
    SetError(prog->ErrorCode());
    return false;
  }
  m_prog = std::move(prog);
  return true;
}

bool Regexp::MatchKept(const char* text, size_t length, const TRegAbortProbe& probe) {
  ClearError();
  if (!m_prog) {
    SetError(regNullRegexp);
    return false;
  }
  if (m_prog.use_count() > 1) m_prog = std::make_shared<regexp>(*m_prog);  // matching writes the groups
  m_subject = text;
  m_subjectLength = length;
  const bool found = m_prog->Execute(text, length, probe);
  if (!found && m_prog->ErrorCode() != regNoError) SetError(m_prog->ErrorCode());
  return found;
}

bool Regexp::Match(std::string_view text, const TRegAbortProbe& probe) {
  m_copy.assign(text);
  return MatchKept(m_copy.c_str(), m_copy.size(), probe);
}

void Regexp::ClearMatch() {
  if (!m_prog) return;
  if (m_prog.use_count() > 1) m_prog = std::make_shared<regexp>(*m_prog);
  m_prog->ClearGroups();
}

// Group numbers beyond the slots (and negative ones) name slot 50, which never takes part.
int Regexp::Slot(int n) { return n < 0 || n >= REG_GROUP_SLOTS ? REG_GROUP_SLOTS - 1 : n; }

bool Regexp::Taken(int slot) const {
  return m_prog && m_subject && m_prog->GroupStart(slot) >= 0 && m_prog->GroupEnd(slot) >= m_prog->GroupStart(slot);
}

int Regexp::NumSubStrings() const { return m_prog ? m_prog->GroupsTaken() : -1; }

std::string Regexp::SubString(int n) const {
  const int slot = Slot(n);
  if (!Taken(slot)) return std::string();
  const int32_t start = m_prog->GroupStart(slot);
  return std::string(m_subject + start, static_cast<size_t>(m_prog->GroupEnd(slot) - start));
}

int Regexp::SubStart(int n) const {
  const int slot = Slot(n);
  return Taken(slot) ? m_prog->GroupStart(slot) + 1 : 0;
}

int Regexp::SubLength(int n) const {
  if (!m_prog) return -1;
  const int slot = Slot(n);
  return Taken(slot) ? m_prog->GroupEnd(slot) - m_prog->GroupStart(slot) : 0;
}

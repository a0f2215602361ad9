// Time text both ways in local time, Pos2, Tokenize, and TStringListPipe's members.
#include "scriptlib/Cmdtime.h"

#include "scriptlib/Instscript.h"
#include "scriptlib/StringList.h"
#include "scriptlib/Threadstringlist.h"

#include "script/Registration.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>
#include <mutex>

std::string TimeToText(int32_t seconds) {
  const std::time_t t = seconds;
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) throw ERunTimeError("Invalid time " + std::to_string(seconds));
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d %2d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour,
                tm.tm_min, tm.tm_sec);
  return text;
}

namespace {

// One "%d" the way the C scanner reads it: blanks, a sign, digits; kept within int range.
bool ScanNumber(std::string_view text, size_t& at, int& out) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  size_t p = at;
  bool negative = p < text.size() && text[p] == '-';
  if (p < text.size() && (text[p] == '-' || text[p] == '+')) ++p;
  if (p >= text.size() || !std::isdigit(static_cast<unsigned char>(text[p]))) return false;
  int64_t v = 0;
  for (; p < text.size() && std::isdigit(static_cast<unsigned char>(text[p])); ++p)
    v = std::min<int64_t>(v * 10 + (text[p] - '0'), std::numeric_limits<int>::max());
  out = static_cast<int>(negative ? -v : v);
  at = p;
  return true;
}

// "%d.%d.%d %d:%d:%d": the numbers read before the first mismatch; the rest stay 0.
void ScanTimeText(std::string_view text, int (&n)[6]) {
  static const char kSeparators[] = {'.', '.', ' ', ':', ':'};
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    if (i > 0) {
      char sep = kSeparators[i - 1];
      if (sep == ' ') {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
      } else if (at < text.size() && text[at] == sep) {
        ++at;
      } else {
        return;
      }
    }
    if (!ScanNumber(text, at, n[i])) return;
  }
}

// mktime with its failure told apart from the valid result -1.
bool MakeTime(std::tm tm, std::time_t& out) {
  errno = 0;
  out = std::mktime(&tm);
  return !(out == static_cast<std::time_t>(-1) && errno != 0);
}

}  // namespace

// Converted first with daylight saving off, which tells whether daylight saving is in force at that
// date; when it is, converted again with it on, so that a summer time comes back as the seconds
// TimeToStr shows as that text. (Converting the first result's fields back again, with the flag
// those fields carry, only returns the first result, an hour late in summer.) A summer time that
// does not exist, in the hour skipped in spring, keeps the first result.
bool TextToTime(std::string_view text, int32_t& seconds) {
  int n[6] = {0, 0, 0, 0, 0, 0};
  ScanTimeText(text, n);
  std::tm fields{};
  fields.tm_mday = n[0];
  fields.tm_mon = n[1] - 1;
  fields.tm_year = n[2] - 1900;
  fields.tm_hour = n[3];
  fields.tm_min = n[4];
  fields.tm_sec = n[5];
  fields.tm_isdst = 0;
  std::time_t first;
  if (!MakeTime(fields, first)) return false;
  std::time_t result = first;
  std::tm local{};
  if (::localtime_r(&first, &local) && local.tm_isdst > 0) {
    fields.tm_isdst = 1;
    std::time_t second;
    std::tm check{};
    if (MakeTime(fields, second) && ::localtime_r(&second, &check) && check.tm_isdst > 0) result = second;
  }
  if (result < std::numeric_limits<int32_t>::min() || result > std::numeric_limits<int32_t>::max()) return false;
  seconds = static_cast<int32_t>(result);
  return true;
}

int32_t Pos2Text(std::string_view text, int64_t start, std::string_view part) {
  if (start < 1 || start > static_cast<int64_t>(text.size()) || part.empty()) return 0;
  size_t k = text.find(part, static_cast<size_t>(start - 1));
  return k == std::string_view::npos ? 0 : static_cast<int32_t>(k + 1);
}

void TokenizeInto(CStringList& list, std::string_view text, std::string_view delimiters) {
  bool any = false;
  size_t at = 0;
  while (at < text.size()) {
    at = text.find_first_not_of(delimiters, at);
    if (at == std::string_view::npos) break;
    size_t end = text.find_first_of(delimiters, at);
    if (end == std::string_view::npos) end = text.size();
    list.Add(std::string(text.substr(at, end - at)));
    any = true;
    at = end;
  }
  if (!any) list.Add(std::string(text));
}

namespace {

TThreadStringList& PipeOf(TObjHandle self) { return ScriptObjectAs<TStringListPipe>(self, "TStringListPipe")->Pipe(); }

#define TIME_HANDLER []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

void RegisterTimeAndText() {
  AddFun("Time", TIME_HANDLER { return TValue(static_cast<int32_t>(std::time(nullptr))); }, {pkNone});
  AddFun("TimeToStr", TIME_HANDLER { return TValue(TimeToText(a[0].AsInteger())); }, {pkValue});
  AddFun("StrToTime",
         TIME_HANDLER {
           std::string text = a[0].AsString();
           int32_t seconds = 0;
           if (!TextToTime(text, seconds)) throw ERunTimeError("Invalid time text '" + text + "'");
           return TValue(seconds);
         },
         {pkValue});
  AddFun("Pos2", TIME_HANDLER { return TValue(Pos2Text(a[0].AsString(), a[1].AsInt64(), a[2].AsString())); },
         {pkValue, pkValue, pkValue});
  AddFun("TSTRINGLIST.TOKENIZE",
         TIME_HANDLER {
           CStringList& list = ScriptObjectAs<TStringListObj>(self, "TStringList")->list;
           TokenizeInto(list, a[0].AsString(), a[1].AsString());
           return TValue(static_cast<int32_t>(0));
         },
         {pkValue, pkValue});
}

void RegisterPipes() {
  AddFun("TSTRINGLISTPIPE.CREATE",
         TIME_HANDLER {
           auto pipe = TMasterPipeList::Instance().Pipe(a[0].AsString());
           return ObjToVar(AdoptLibObject(std::make_unique<TStringListPipe>(std::move(pipe))));
         },
         {pkValue});
  AddProc("TSTRINGLISTPIPE.FREE",
          TIME_HANDLER {
            PipeOf(self);
            FreeLibObject(self);
            return TValue();
          },
          {pkNone});
  // An aborted wait returns Nil without the lock; the run stops right after the call.
  AddFun("TSTRINGLISTPIPE.LOCK",
         TIME_HANDLER {
           TThreadStringList& pipe = PipeOf(self);
           TInstrScriptThread* run = TInstrScriptThread::Current();
           if (!pipe.LockList(run ? &run->RunState() : nullptr)) return ObjToVar(0);
           return ObjToVar(pipe.List().Handle());
         },
         {pkNone});
  AddProc("TSTRINGLISTPIPE.UNLOCK",
          TIME_HANDLER {
            if (!PipeOf(self).UnlockList()) throw ERunTimeError("Pipe not locked by this script");
            return TValue();
          },
          {pkNone});
}

}  // namespace

void RegisterTimeLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClass("TStringListPipe", "TObject");
    RegisterTimeAndText();
    RegisterPipes();
    TScriptObjectRegistry& registry = TScriptObjectRegistry::Instance();
    registry.AddRunEnd([] { TMasterPipeList::Instance().ReleaseHeldHere(); });
    registry.AddCleanup([] { TMasterPipeList::Instance().Clear(); });
  });
}

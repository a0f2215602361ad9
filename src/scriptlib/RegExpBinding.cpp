// TRegExp: the script class over the regular-expression engine. Objects are pooled library objects,
// so that those a script never frees go when the last running script ends; a match of the running
// script's thread stops when the script is aborted.
#include "scriptlib/Cmdregexp.h"
#include "scriptlib/Instscript.h"
#include "scriptlib/LibObjects.h"

#include "script/Registration.h"

#include <mutex>

namespace {

class TRegExpObj : public TLibObject {
 public:
  TRegExpObj() : TLibObject("TRegExp") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override {
    re = Regexp();
    subject = TValue();
  }
  Regexp re;
  TValue subject;  // the text of the last match: script strings never change, so re reads it in place
};

// A live object of this C++ class; the dynamic type check makes a class-name walk unnecessary.
TRegExpObj& Obj(TObjHandle self) { return *ScriptObjectAs<TRegExpObj>(self); }
Regexp& Re(TObjHandle self) { return Obj(self).re; }

// The running script's run state, asked by long matches.
TRegAbortProbe AbortProbe() {
  TInstrScriptThread* run = TInstrScriptThread::Current();
  if (!run) return {};
  TStopFlag* state = &run->RunState();
  return [state] { return state->load(std::memory_order_relaxed) == HAL_STOP; };
}

int GroupNumber(const TValue& v) {
  const int64_t n = v.AsInt64();
  return n < 0 || n >= REG_GROUP_SLOTS ? REG_GROUP_SLOTS - 1 : static_cast<int>(n);
}

// The text from the start position (1 = first character; one past the end is the empty rest, where
// "$" and empty patterns still match). The object keeps the script's string value as the subject.
TValue MatchHandler(TObjHandle self, const std::string&, TValue* a, int) {
  TRegExpObj& obj = Obj(self);
  Regexp& re = obj.re;
  if (!re.HasPattern()) return TValue(static_cast<int32_t>(re.Match(std::string_view()) ? 1 : 0));
  TValue text = a[0].IsString() ? a[0] : TValue(a[0].AsString());
  const int64_t start = a[1].AsInt64();
  const size_t size = text.StrVal().size();
  if (start < 1 || start > static_cast<int64_t>(size) + 1) {
    re.ClearMatch();
    return TValue(int32_t(0));
  }
  const TValue previous = std::move(obj.subject);  // released only once re has let go of it
  obj.subject = std::move(text);
  const auto offset = static_cast<size_t>(start - 1);
  const bool found = re.MatchKept(obj.subject.StrVal().c_str() + offset, size - offset, AbortProbe());
  if (!found && re.ErrorCode() == regStackOverflow) throw ERunTimeError(re.ErrorText());
  return TValue(static_cast<int32_t>(found ? 1 : 0));
}

#define SELF_HANDLER []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

void RegisterMembers() {
  AddFun("TRegExp.Create", SELF_HANDLER { return ObjToVar(CreateLibObject<TRegExpObj>()); }, {pkNone});
  AddFun("TRegExp.Free",
         SELF_HANDLER {
           Re(self);
           FreeLibObject(self);
           return TValue();
         },
         {pkNone});
  AddProc("TRegExp.SetRegExp",
          SELF_HANDLER {
            Regexp& re = Re(self);
            const std::string pattern = a[0].AsString();
            if (!re.SetPattern(pattern.c_str(), a[1].AsInt64() != 0)) throw ERunTimeError(re.ErrorText());
            return TValue();
          },
          {pkValue, pkValue});
  AddFun("TRegExp.Match", MatchHandler, {pkValue, pkValue});
  AddFun("TRegExp.NumSubStrings", SELF_HANDLER { return TValue(static_cast<int32_t>(Re(self).NumSubStrings())); },
         {pkNone});
  AddFun("TRegExp.SubString", SELF_HANDLER { return TValue(Re(self).SubString(GroupNumber(a[0]))); }, {pkValue});
  AddFun("TRegExp.SubStart",
         SELF_HANDLER { return TValue(static_cast<int32_t>(Re(self).SubStart(GroupNumber(a[0])))); }, {pkValue});
  AddFun("TRegExp.SubLength",
         SELF_HANDLER { return TValue(static_cast<int32_t>(Re(self).SubLength(GroupNumber(a[0])))); }, {pkValue});
}

}  // namespace

void RegisterRegExpLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClass("TRegExp", "TObject");
    RegisterMembers();
  });
}

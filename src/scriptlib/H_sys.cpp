// H_sys: system functions (RunMacro, Assigned, pi, the string editing routines), the TOBJECT members
// every host object shares, and TVariant, the value cell a script holds as an object.
#include "scriptlib/ScriptLibrary.h"

#include "scriptlib/LibObjects.h"
#include "scriptlib/TextConv.h"

#include "script/HalComp.h"
#include "script/Registration.h"

namespace {

TValue RunMacroHandler(TObjHandle, const std::string&, TValue* a, int) {
  TValue result;
  RunMacro(a[0].AsString(), result);
  return result;
}

// A reference held in a number; strings and other kinds hold none.
TValue AssignedHandler(TObjHandle, const std::string&, TValue* a, int) {
  bool numeric = a[0].IsInteger() || a[0].IsReal();
  return TValue(static_cast<int32_t>(numeric && VarToObj(a[0]) != 0 ? 1 : 0));
}

void RegisterStringEditing() {
  AddProc("SetLength",
          [](TObjHandle, const std::string&, TValue* a, int) {
            int64_t n = a[1].AsInt64();
            if (n > kMaxSetLength) throw ERunTimeError("SetLength: length " + std::to_string(n) + " too large");
            std::string s = a[0].AsString();
            SetLengthText(s, n);
            a[0] = TValue(std::move(s));
            return TValue();
          },
          {pkVar, pkValue});
  AddReaderFun("Length",
               [](const TValue* a) {
                 // a string's own length without copying it
                 return TValue(static_cast<int32_t>(a[0].IsString() ? a[0].StrVal().size() : a[0].AsString().size()));
               },
               {pkValue});
  AddProc("Insert",
          [](TObjHandle, const std::string&, TValue* a, int) {
            std::string s = a[1].AsString();
            InsertText(a[0].AsString(), s, a[2].AsInt64());
            a[1] = TValue(std::move(s));
            return TValue();
          },
          {pkValue, pkVar, pkValue});
  AddReaderFun("Pos",
               [](const TValue* a) { return TValue(static_cast<int32_t>(PosText(a[0].AsString(), a[1].AsString()))); },
               {pkValue, pkValue});
  AddReaderFun("Copy",
               [](const TValue* a) {
                 if (a[0].IsString()) return TValue(CopyText(a[0].StrVal(), a[1].AsInt64(), a[2].AsInt64()));
                 return TValue(CopyText(a[0].AsString(), a[1].AsInt64(), a[2].AsInt64()));
               },
               {pkValue, pkValue, pkValue});
  AddProc("Delete",
          [](TObjHandle, const std::string&, TValue* a, int) {
            std::string s = a[0].AsString();
            DeleteText(s, a[1].AsInt64(), a[2].AsInt64());
            a[0] = TValue(std::move(s));
            return TValue();
          },
          {pkVar, pkValue, pkValue});
}

// The members every object has. Only objects a script created can be freed by it; the host's own
// objects (Output, Arguments, ...) refuse, instead of being destroyed under the host's feet.
TObjHandle LiveSelf(TObjHandle self) {
  TestValidObject(self);
  return self;
}

std::string ClassNameOf(TObjHandle self) {
  auto* base = static_cast<TScriptObject*>(FindLiveObjectBase(LiveSelf(self), {}));
  if (auto* named = dynamic_cast<IHostClassName*>(base)) return named->HostClassName();
  return LiveObjectClass(self);
}

void RegisterTObject() {
  AddProc("TOBJECT.FREE",
          [](TObjHandle self, const std::string&, TValue*, int) {
            if (self != 0 && !FreeLibObject(LiveSelf(self))) throw ERunTimeError("Object cannot be freed by a script");
            return TValue();
          },
          {pkNone});
  AddProc("TOBJECT.CLEANUPINSTANCE",
          [](TObjHandle self, const std::string&, TValue*, int) {
            if (TLibObject* o = FindLibObject(LiveSelf(self))) o->CleanupInstance();
            return TValue();
          },
          {pkNone});
  AddFun("TOBJECT.CLASSNAME",
         [](TObjHandle self, const std::string&, TValue*, int) { return TValue(ClassNameOf(self)); }, {pkNone});
  AddFun("TOBJECT.CLASSNAMEIS",
         [](TObjHandle self, const std::string&, TValue* a, int) {
           return TValue(AnsiCompareTextText(ClassNameOf(self), a[0].AsString()) == 0);
         },
         {pkValue});
  AddFun("TOBJECT.INSTANCESIZE",
         [](TObjHandle self, const std::string&, TValue*, int) {
           TLibObject* o = FindLibObject(LiveSelf(self));
           return TValue(static_cast<int32_t>(o ? o->InstanceSize() : sizeof(TScriptObject)));
         },
         {pkNone});
  AddProc("TOBJECT.DISPATCH",
          [](TObjHandle, const std::string&, TValue*, int) -> TValue {
            throw ERunTimeError("TObject.Dispatch is not supported");
          },
          {pkVar});
  AddProc("TOBJECT.DEFAULTHANDLER",
          [](TObjHandle, const std::string&, TValue*, int) -> TValue {
            throw ERunTimeError("TObject.DefaultHandler is not supported");
          },
          {pkVar});
}

TVariantObj& Cell(TObjHandle self) { return *ScriptObjectAs<TVariantObj>(self, "TVariant"); }

// Type code of a value as the var constants name them.
int32_t VarTypeOf(const TValue& v) {
  switch (v.Kind()) {
    case TVarKind::Empty:
      return 0;
    case TVarKind::Null:
      return 1;
    case TVarKind::Integer:
      return 3;
    case TVarKind::Real:
      return 5;
    case TVarKind::Currency:
      return 6;
    case TVarKind::Date:
      return 7;
    case TVarKind::Boolean:
      return 11;
    case TVarKind::String:
      return 256;
    case TVarKind::Array:
      return 0x2000 | 12;
  }
  return 0;
}

void RegisterTVariant() {
  AddFun("TVariant.Create",
         [](TObjHandle, const std::string&, TValue*, int) { return ObjToVar(CreateLibObject<TVariantObj>()); },
         {pkNone});
  AddProc("TVariant.Free",
          [](TObjHandle self, const std::string&, TValue*, int) {
            FreeLibObject(Cell(self).Handle());
            return TValue();
          },
          {pkNone});
  AddProc("TVariant.Clear",
          [](TObjHandle self, const std::string&, TValue*, int) {
            Cell(self).value = TValue();
            return TValue();
          },
          {pkNone});
  AddProp(
      "TVariant.Item", [](TObjHandle self, const std::string&, TValue*, int) { return Cell(self).value; },
      [](TObjHandle self, const std::string&, TValue* a, int) {
        Cell(self).value = a[0];
        return TValue();
      });
  AddProp("TVariant.VarType",
          [](TObjHandle self, const std::string&, TValue*, int) { return TValue(VarTypeOf(Cell(self).value)); });
  const std::pair<const char*, int32_t> kVarConsts[] = {{"varEmpty", 0},    {"varNull", 1},     {"varSmallint", 2},
                                                        {"varInteger", 3},  {"varSingle", 4},   {"varDouble", 5},
                                                        {"varBoolean", 11}, {"varVariant", 12}, {"varByte", 17},
                                                        {"varString", 256}, {"varByRef", 16384}};
  for (const auto& [name, value] : kVarConsts) AddConst(name, TValue(value));
}

}  // namespace

int32_t ScriptVarType(const TValue& v) { return VarTypeOf(v); }

void RegisterHSys() {
  RegisterHostClass("TVariant", "TObject");
  AddFun("RunMacro", RunMacroHandler, {pkValue});
  AddFun("Assigned", AssignedHandler, {pkValue});
  AddConst("pi", TValue(3.1415926535897932385));
  RegisterStringEditing();
  RegisterTObject();
  RegisterTVariant();
}

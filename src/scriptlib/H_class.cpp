// H_class: TOBJECTLIST (a list of value cells), TSTRINGS and TSTRINGLIST registered with the engine.
// Every member first checks that its object is a live list of the right class.
#include "scriptlib/ScriptLibrary.h"

#include "scriptlib/LibObjects.h"

#include "script/Registration.h"

namespace {

CValueList& VList(TObjHandle self) { return ScriptObjectAs<TObjectListObj>(self, "TObjectList")->list; }
CStringList& SList(TObjHandle self) { return ScriptObjectAs<TStringListObj>(self, "TStringList")->list; }

int32_t Index(const TValue& v) { return v.AsInteger(); }
TValue Int(int i) { return TValue(static_cast<int32_t>(i)); }

// Every member handler has this shape; not every member uses its object or its arguments.
#define SELF_HANDLER []([[maybe_unused]] TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

void RegisterObjectListMembers() {
  AddFun("TOBJECTLIST.CREATE", SELF_HANDLER { return ObjToVar(CreateLibObject<TObjectListObj>()); }, {pkNone});
  AddFun("TOBJECTLIST.FREE",
         SELF_HANDLER {
           VList(self);
           FreeLibObject(self);
           return TValue();
         },
         {pkNone});
  AddFun("TOBJECTLIST.ADD", SELF_HANDLER { return Int(VList(self).Add(a[0])); }, {pkValue});
  AddProc("TOBJECTLIST.CLEAR",
          SELF_HANDLER {
            VList(self).Clear();
            return TValue();
          },
          {pkNone});
  AddProc("TOBJECTLIST.DELETE",
          SELF_HANDLER {
            VList(self).Delete(Index(a[0]));
            return TValue();
          },
          {pkValue});
  AddProc("TOBJECTLIST.EXCHANGE",
          SELF_HANDLER {
            VList(self).Exchange(Index(a[0]), Index(a[1]));
            return TValue();
          },
          {pkValue, pkValue});
  AddFun("TOBJECTLIST.FIRST", SELF_HANDLER { return VList(self).First(); }, {pkNone});
  AddProc("TOBJECTLIST.INSERT",
          SELF_HANDLER {
            VList(self).Insert(Index(a[0]), a[1]);
            return TValue();
          },
          {pkValue, pkValue});
  AddFun("TOBJECTLIST.LAST", SELF_HANDLER { return VList(self).Last(); }, {pkNone});
  AddProc("TOBJECTLIST.MOVE",
          SELF_HANDLER {
            VList(self).Move(Index(a[0]), Index(a[1]));
            return TValue();
          },
          {pkValue, pkValue});
  AddProp(
      "TOBJECTLIST.COUNT", SELF_HANDLER { return Int(VList(self).Count()); },
      SELF_HANDLER {
        VList(self).SetCount(a[0].AsInt64());
        return TValue();
      });
  AddArrayProp(
      "TOBJECTLIST.ITEMS", 1, SELF_HANDLER { return VList(self).Item(Index(a[0])); },
      SELF_HANDLER {
        VList(self).SetItem(Index(a[0]), a[1]);
        return TValue();
      });
  AddArrayProp(
      "TOBJECTLIST.ObjType", 1, SELF_HANDLER { return TValue(ScriptVarType(VList(self).Item(Index(a[0])))); });
}

void RegisterStringsAccess() {
  AddArrayProp(
      "TSTRINGS.STRINGS", 1, SELF_HANDLER { return TValue(SList(self).Get(Index(a[0]))); },
      SELF_HANDLER {
        SList(self).Put(Index(a[0]), a[1].AsString());
        return TValue();
      });
  AddArrayProp(
      "TSTRINGS.Names", 1, SELF_HANDLER { return TValue(SList(self).Name(Index(a[0]))); });
  AddArrayProp(
      "TSTRINGS.Objects", 1, SELF_HANDLER { return SList(self).Object(Index(a[0])); },
      SELF_HANDLER {
        SList(self).SetObject(Index(a[0]), a[1]);
        return TValue();
      });
  AddArrayProp(
      "TSTRINGS.Values", 1, SELF_HANDLER { return TValue(SList(self).Value(a[0].AsString())); },
      SELF_HANDLER {
        SList(self).SetValue(a[0].AsString(), a[1].AsString());
        return TValue();
      });
  AddProp(
      "TSTRINGS.COUNT", SELF_HANDLER { return Int(SList(self).Count()); });
}

void RegisterStringsEditing() {
  AddFun("TSTRINGS.FREE",
         SELF_HANDLER {
           SList(self);
           FreeLibObject(self);
           return TValue();
         },
         {pkNone});
  AddFun("TSTRINGS.ADD", SELF_HANDLER { return Int(SList(self).Add(a[0].AsString())); }, {pkValue});
  AddFun("TSTRINGS.ADDOBJECT", SELF_HANDLER { return Int(SList(self).AddObject(a[0].AsString(), a[1])); },
         {pkValue, pkValue});
  AddProc("TSTRINGS.ADDSTRINGS",
          SELF_HANDLER {
            CStringList& other = SList(VarToObj(a[0]));
            SList(self).AddStrings(other);
            return TValue();
          },
          {pkValue});
  AddProc("TSTRINGS.CLEAR",
          SELF_HANDLER {
            SList(self).Clear();
            return TValue();
          },
          {pkNone});
  AddProc("TSTRINGS.DELETE",
          SELF_HANDLER {
            SList(self).Delete(Index(a[0]));
            return TValue();
          },
          {pkValue});
  AddFun("TSTRINGS.EQUALS", SELF_HANDLER { return TValue(SList(self).Equals(SList(VarToObj(a[0])))); }, {pkValue});
  AddProc("TSTRINGS.EXCHANGE",
          SELF_HANDLER {
            SList(self).Exchange(Index(a[0]), Index(a[1]));
            return TValue();
          },
          {pkValue, pkValue});
  AddFun("TSTRINGS.INDEXOF", SELF_HANDLER { return Int(SList(self).IndexOf(a[0].AsString())); }, {pkValue});
  AddFun("TSTRINGS.INDEXOFNAME", SELF_HANDLER { return Int(SList(self).IndexOfName(a[0].AsString())); }, {pkValue});
  AddFun("TSTRINGS.INDEXOFOBJECT", SELF_HANDLER { return Int(SList(self).IndexOfObject(a[0])); }, {pkValue});
  AddProc("TSTRINGS.INSERT",
          SELF_HANDLER {
            SList(self).Insert(Index(a[0]), a[1].AsString());
            return TValue();
          },
          {pkValue, pkValue});
  AddProc("TSTRINGS.LOADFROMFILE",
          SELF_HANDLER {
            SList(self).LoadFromFile(a[0].AsString());
            return TValue();
          },
          {pkValue});
  AddProc("TSTRINGS.MOVE",
          SELF_HANDLER {
            SList(self).Move(Index(a[0]), Index(a[1]));
            return TValue();
          },
          {pkValue, pkValue});
  AddProc("TSTRINGS.SAVETOFILE",
          SELF_HANDLER {
            SList(self).SaveToFile(a[0].AsString());
            return TValue();
          },
          {pkValue});
}

void RegisterStringListMembers() {
  AddFun("TSTRINGLIST.Create", SELF_HANDLER { return ObjToVar(CreateLibObject<TStringListObj>()); }, {pkNone});
  AddFun("TSTRINGLIST.FIND",
         SELF_HANDLER {
           int at = 0;
           bool found = SList(self).Find(a[0].AsString(), at);
           a[1] = Int(at);
           return TValue(found);
         },
         {pkValue, pkVar});
  AddProc("TSTRINGLIST.SORT",
          SELF_HANDLER {
            SList(self).Sort();
            return TValue();
          },
          {pkNone});
  AddProp(
      "TSTRINGLIST.DUPLICATES", SELF_HANDLER { return Int(SList(self).Duplicates()); },
      SELF_HANDLER {
        int32_t d = a[0].AsInteger();
        if (d < dupIgnore || d > dupError) throw ERunTimeError("Invalid duplicates value " + std::to_string(d));
        SList(self).SetDuplicates(static_cast<TDuplicates>(d));
        return TValue();
      });
  AddProp(
      "TSTRINGLIST.SORTED", SELF_HANDLER { return TValue(SList(self).Sorted()); },
      SELF_HANDLER {
        SList(self).SetSorted(a[0].AsBoolean());
        return TValue();
      });
  AddArrayProp(
      "TSTRINGLIST.Objects", 1, SELF_HANDLER { return SList(self).Object(Index(a[0])); },
      SELF_HANDLER {
        SList(self).SetObject(Index(a[0]), a[1]);
        return TValue();
      });
  AddArrayProp(
      "TSTRINGLIST.ObjType", 1, SELF_HANDLER {
        const TValue* cell = SList(self).CellIfAny(Index(a[0]));
        return TValue(cell ? ScriptVarType(*cell) : 0);
      });
  AddConst("dupIgnore", Int(dupIgnore));
  AddConst("dupAccept", Int(dupAccept));
  AddConst("dupError", Int(dupError));
}

}  // namespace

void RegisterHClass() {
  RegisterHostClass("TList", "TObject");
  RegisterHostClass("TObjectList", "TList");
  RegisterObjectListMembers();
  RegisterStringsAccess();
  RegisterStringsEditing();
  RegisterStringListMembers();
}

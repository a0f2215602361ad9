// H_sysut: conversion and string functions (IntToHex ... Val) registered with the engine.
#include "scriptlib/ScriptLibrary.h"

#include "scriptlib/FloatText.h"
#include "scriptlib/SysFormat.h"
#include "scriptlib/TextConv.h"

#include "script/Registration.h"

#include <cstdint>

namespace {

// Format takes at most this many values from its open array.
constexpr int kMaxFormatArgs = 50;

TFormatArg ToFormatArg(const TValue& v) {
  switch (v.Kind()) {
    case TVarKind::Integer:
      return TFormatArg::Int(v.IntVal());
    case TVarKind::Real:
      return TFormatArg::Real(v.RealVal());
    case TVarKind::String:
      return TFormatArg::Text(v.StrVal());
    default:
      return TFormatArg::Text("<non handled VarToConst conversion>");
  }
}

TValue FormatHandler(TObjHandle, const std::string&, TValue* a, int) {
  std::vector<TFormatArg> args;
  std::vector<TValue> items = OpenArrayItems(a[1]);
  for (size_t i = 0; i < items.size() && i < kMaxFormatArgs; ++i) args.push_back(ToFormatArg(items[i]));
  return TValue(Format(a[0].AsString(), args));
}

TValue ValHandler(TObjHandle, const std::string&, TValue* a, int) {
  TValResult r = ValText(a[0].AsString());
  a[1] = r.isInteger ? TValue(r.integer) : TValue(r.real);
  a[2] = TValue(static_cast<int32_t>(r.code));
  return TValue();
}

using TTextFun = std::string (*)(std::string_view);

void AddTextFun(const char* name, TTextFun f) {
  AddFun(name, [f](TObjHandle, const std::string&, TValue* a, int) { return TValue(f(a[0].AsString())); }, {pkValue});
}

void AddCompare(const char* name, int (*f)(std::string_view, std::string_view)) {
  AddFun(name,
         [f](TObjHandle, const std::string&, TValue* a, int) {
           return TValue(static_cast<int32_t>(f(a[0].AsString(), a[1].AsString())));
         },
         {pkValue, pkValue});
}

}  // namespace

void RegisterHSysut() {
  AddFun("IntToHex",
         [](TObjHandle, const std::string&, TValue* a, int) {
           return TValue(IntToHexText(static_cast<uint32_t>(a[0].AsInt64()), a[1].AsInt64()));
         },
         {pkValue, pkValue});
  AddFun("IntToStr",
         [](TObjHandle, const std::string&, TValue* a, int) { return TValue(std::to_string(a[0].AsInt64())); },
         {pkValue});
  AddFun("StrToInt",
         [](TObjHandle, const std::string&, TValue* a, int) { return TValue(StrToIntText(a[0].AsString())); },
         {pkValue});
  AddFun("StrToFloat",
         [](TObjHandle, const std::string&, TValue* a, int) { return TValue(StrToFloatText(a[0].AsString())); },
         {pkValue});
  AddFun("FloatToStr", [](TObjHandle, const std::string&, TValue* a, int) { return TValue(FloatToStr(a[0].AsReal())); },
         {pkValue});
  AddFun("FormatFloat",
         [](TObjHandle, const std::string&, TValue* a, int) {
           return TValue(FormatFloat(a[0].AsString(), a[1].AsReal()));
         },
         {pkValue, pkValue});
  AddFun("Format", FormatHandler, {pkValue, pkOpenArray});
  AddTextFun("AnsiUpperCase", AnsiUpperCaseText);
  AddTextFun("AnsiLowerCase", AnsiLowerCaseText);
  AddCompare("AnsiCompareStr", AnsiCompareStrText);
  AddCompare("AnsiCompareText", AnsiCompareTextText);
  AddTextFun("Trim", TrimText);
  AddTextFun("TrimLeft", TrimLeftText);
  AddTextFun("TrimRight", TrimRightText);
  AddProc("Val", ValHandler, {pkValue, pkVar, pkVar});
}

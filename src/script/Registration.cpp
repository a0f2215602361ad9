// Registration table, reserved constants and host parameters: the AddProc family and friends.
#include "script/Registration.h"

#include <algorithm>
#include <cassert>

#include "script/DynaVars.h"

std::string HalUpper(std::string_view s) {
  std::string u(s);
  for (char& ch : u) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z')
      ch = static_cast<char>(c - 32);
    else if (c >= 224 && c <= 254)  // the single-byte code page's accented letters
      ch = static_cast<char>(c - 32);
  }
  return u;
}

namespace {
template <class Vec>
auto lowerBound(Vec& v, const std::string& key) {
  return std::lower_bound(v.begin(), v.end(), key, [](const auto& e, const std::string& k) { return e.first < k; });
}

void addRoutine(std::string_view name, THalMethod h, THalMethod2 h2, bool style2, bool proc, const uint8_t* kinds,
                int high) {
  auto item = std::make_unique<TFunListItem>();
  const size_t dot = name.find('.');
  item->MethodName = std::string(dot == std::string_view::npos ? name : name.substr(dot + 1));
  item->Style2 = style2;
  item->Handler = std::move(h);
  item->Handler2 = std::move(h2);
  item->ProcFlag = proc ? 1 : 0;
  if (high >= 0 && kinds && kinds[0] == pkNone) {
    item->ParamCount = 0;
  } else if (high >= 0 && kinds) {
    item->ParamCount = std::min(HAL_MAX_PARAMS, high + 1);
    std::copy(kinds, kinds + std::min(HAL_MAX_PARAMS + 1, high + 1), item->Kinds);
  }
  Funs().Put(name, std::move(item));
}

const uint8_t* data(std::initializer_list<uint8_t> k) { return k.size() ? k.begin() : nullptr; }
int highOf(std::initializer_list<uint8_t> k) { return static_cast<int>(k.size()) - 1; }
}  // namespace

TFunList& Funs() {
  static TFunList list;
  return list;
}

int TFunList::IndexOf(std::string_view key) const {
  const std::string k = HalUpper(key);
  auto it = std::lower_bound(items_.begin(), items_.end(), k,
                             [](const auto& e, const std::string& s) { return e.first < s; });
  if (it == items_.end() || it->first != k) return -1;
  return static_cast<int>(it - items_.begin());
}

void TFunList::Put(std::string_view name, std::unique_ptr<TFunListItem> item) {
  const std::string k = HalUpper(name);
  auto it = lowerBound(items_, k);
  if (it != items_.end() && it->first == k)
    it->second = std::move(item);
  else
    items_.emplace(it, k, std::move(item));
}

bool TFunList::Delete(std::string_view name) {
  const int i = IndexOf(name);
  if (i < 0) return false;
  items_.erase(items_.begin() + i);
  return true;
}

void AddProc(std::string_view n, THalMethod h, const uint8_t* k, int high) {
  addRoutine(n, std::move(h), nullptr, false, true, k, high);
}
void AddFun(std::string_view n, THalMethod h, const uint8_t* k, int high) {
  addRoutine(n, std::move(h), nullptr, false, false, k, high);
}
void AddProc2(std::string_view n, THalMethod2 h, const uint8_t* k, int high) {
  addRoutine(n, nullptr, std::move(h), true, true, k, high);
}
void AddFun2(std::string_view n, THalMethod2 h, const uint8_t* k, int high) {
  addRoutine(n, nullptr, std::move(h), true, false, k, high);
}
void AddReaderFun(std::string_view n, THalReader f, std::initializer_list<uint8_t> k) {
  AddFun(
      n, [f](TObjHandle, const std::string&, TValue* a, int) { return f(a); }, data(k), highOf(k));
  if (std::all_of(k.begin(), k.end(), [](uint8_t kind) { return kind == pkValue || kind == pkNone; }))
    const_cast<TFunListItem&>(Funs().Item(Funs().IndexOf(n))).Reader = f;
}
void AddProc(std::string_view n, THalMethod h, std::initializer_list<uint8_t> k) {
  AddProc(n, std::move(h), data(k), highOf(k));
}
void AddFun(std::string_view n, THalMethod h, std::initializer_list<uint8_t> k) {
  AddFun(n, std::move(h), data(k), highOf(k));
}
void AddProc2(std::string_view n, THalMethod2 h, std::initializer_list<uint8_t> k) {
  AddProc2(n, std::move(h), data(k), highOf(k));
}
void AddFun2(std::string_view n, THalMethod2 h, std::initializer_list<uint8_t> k) {
  AddFun2(n, std::move(h), data(k), highOf(k));
}

namespace {
void markProperty(std::string_view name, bool setter) {
  const int i = Funs().IndexOf(name);
  if (i < 0) return;
  auto& item = const_cast<TFunListItem&>(Funs().Item(i));
  item.IsProperty = true;
  item.IsSetter = setter;
}
}  // namespace

void AddProp(std::string_view name, THalMethod getter, THalMethod setter) {
  const uint8_t none[] = {pkNone}, one[] = {pkValue};
  AddFun(name, std::move(getter), none, 0);
  markProperty(name, false);
  if (setter) {
    const std::string sn = std::string(name) + "_SET";
    AddProc(sn, std::move(setter), one, 0);
    markProperty(sn, true);
  }
}

void AddProp2(std::string_view name, THalMethod2 getter, THalMethod2 setter) {
  const uint8_t none[] = {pkNone}, one[] = {pkValue};
  AddFun2(name, std::move(getter), none, 0);
  markProperty(name, false);
  if (setter) {
    const std::string sn = std::string(name) + "_SET";
    AddProc2(sn, std::move(setter), one, 0);
    markProperty(sn, true);
  }
}

void AddArrayProp(std::string_view name, int k, THalMethod getter, THalMethod setter) {
  k = std::clamp(k, 0, HAL_MAX_PARAMS - 1);
  std::vector<uint8_t> kinds(static_cast<size_t>(k), pkValue);
  if (k == 0) kinds.push_back(pkNone);
  AddFun(name, std::move(getter), kinds.data(), static_cast<int>(kinds.size()) - 1);
  markProperty(name, false);
  if (setter) {
    if (k == 0) kinds.clear();
    kinds.push_back(pkAssigned);
    const std::string sn = std::string(name) + "_VET";
    AddProc(sn, std::move(setter), kinds.data(), static_cast<int>(kinds.size()) - 1);
    markProperty(sn, true);
  }
}

void DelProc(std::string_view name) { Funs().Delete(name); }

TResConstList& ResConsts() {
  static TResConstList list;
  return list;
}

int TResConstList::IndexOf(std::string_view name) const {
  // the compiler asks with upper-cased words: no copy then
  std::string upper;
  std::string_view k = name;
  for (char ch : name)
    if (static_cast<unsigned char>(ch) >= 'a') {
      upper = HalUpper(name);
      k = upper;
      break;
    }
  auto it = std::lower_bound(items_.begin(), items_.end(), k,
                             [](const auto& e, std::string_view s) { return std::string_view(e.first) < s; });
  if (it == items_.end() || it->first != k) return -1;
  return static_cast<int>(it - items_.begin());
}

void TResConstList::Put(std::string_view name, const TValue& v) {
  const std::string k = HalUpper(name);
  auto it = lowerBound(items_, k);
  if (it != items_.end() && it->first == k)
    it->second = v;
  else
    items_.emplace(it, k, v);
}

void AddConst(std::string_view name, const TValue& value) { ResConsts().Put(name, value); }

void SetHalParam(std::string_view name, const TValue& value) { InternalVariables().Set(name, value); }
TValue GetHalParam(std::string_view name) { return InternalVariables().Get(name); }
void ClearHalParams() { InternalVariables().Clear(); }

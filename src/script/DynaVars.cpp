// External-variable providers, the host-parameter store and the named-object table.
#include "script/DynaVars.h"

#include <algorithm>

#include "script/Registration.h"

TDynaVars& DynaVars() {
  static TDynaVars list;
  return list;
}

bool TDynaVars::GetDynaObject(const std::string& upperName, const void* owner, int& provider, int& id) const {
  for (int i = Count() - 1; i >= 0; --i) {
    const TDynaVarItem& it = items_[static_cast<size_t>(i)];
    if (it.Local && it.Owner != owner) continue;
    if (!it.NameToId) continue;
    const int r = it.NameToId(upperName);
    if (r != -1) {
      provider = i;
      id = r;
      return true;
    }
  }
  return false;
}

void TDynaVars::Delete(std::string_view name) {
  const std::string k = HalUpper(name);
  auto it = std::find_if(items_.begin(), items_.end(), [&](const TDynaVarItem& d) { return d.Name == k; });
  if (it != items_.end()) items_.erase(it);
}

void AddDynaVar(std::string_view name, TNameToId nameToId, TSetVar setVar, TGetVar getVar) {
  DynaVars().Add({HalUpper(name), std::move(nameToId), std::move(getVar), std::move(setVar), false, nullptr});
}

void AddLocalVar(std::string_view name, TNameToId nameToId, TSetVar setVar, TGetVar getVar, const void* owner) {
  DynaVars().Add({HalUpper(name), std::move(nameToId), std::move(getVar), std::move(setVar), true, owner});
}

void deldynavar(std::string_view name) { DynaVars().Delete(name); }

TInternalVar& InternalVariables() {
  static TInternalVar store;
  return store;
}

TValue& TInternalVar::Spare() {
  thread_local TValue spare(int32_t(0));
  return spare;
}

int TInternalVar::DynaVarNameTOId(const std::string& upperName) const {
  auto it = std::lower_bound(items_.begin(), items_.end(), upperName,
                             [](const auto& e, const std::string& k) { return e.first < k; });
  if (it != items_.end() && it->first == upperName) return static_cast<int>(it - items_.begin()) + 1;
  // The main program's Result is the spare value, so that a macro can return a value.
  if (upperName == "RESULT") return 0;
  return -1;
}

TValue TInternalVar::DynaGetVar(int id) const {
  if (id == 0) return Spare();
  if (id < 0 || id > static_cast<int>(items_.size())) return TValue(int32_t(0));
  return items_[static_cast<size_t>(id - 1)].second;
}

void TInternalVar::DynaSetVar(int id, const TValue& value) {
  if (id == 0) {
    Spare() = value;
    return;
  }
  if (id < 0 || id > static_cast<int>(items_.size())) return;
  items_[static_cast<size_t>(id - 1)].second = value;
}

void TInternalVar::Set(std::string_view name, const TValue& value) {
  const std::string k = HalUpper(name);
  auto it = std::lower_bound(items_.begin(), items_.end(), k,
                             [](const auto& e, const std::string& s) { return e.first < s; });
  if (it != items_.end() && it->first == k)
    it->second = value;
  else
    items_.emplace(it, k, value);
}

TValue TInternalVar::Get(std::string_view name) const {
  const int id = DynaVarNameTOId(HalUpper(name));
  return id > 0 ? DynaGetVar(id) : TValue(int32_t(0));
}

void tobjcollect::Add(std::string_view name, std::string_view className, TObjHandle obj) {
  items_[HalUpper(name)] = tobjitem{HalUpper(className), obj};
}

const tobjitem* tobjcollect::Find(std::string_view name) const {
  auto it = items_.find(HalUpper(name));
  return it == items_.end() ? nullptr : &it->second;
}

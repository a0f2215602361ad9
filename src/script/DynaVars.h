// External-variable providers (host data seen by scripts as variables), the host-parameter
// store that is one such provider, and the named-object table a runner fills before each compile.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "script/ScriptObjects.h"
#include "script/Value.h"

using TNameToId = std::function<int(const std::string& upperName)>;  // id >= 0, or -1 when unknown
using TGetVar = std::function<TValue(int id)>;
using TSetVar = std::function<void(int id, const TValue& value)>;

struct TDynaVarItem {
  std::string Name;  // upper case
  TNameToId NameToId;
  TGetVar GetVar;
  TSetVar SetVar;
  bool Local = false;
  const void* Owner = nullptr;
};

// Providers in the order added. Numbers compiled into code are positions in this list.
class TDynaVars {
 public:
  // Resolves a variable name for a compile whose owner is `owner`: last added first, local providers
  // only for their own owner. Returns false when no provider knows the name.
  bool GetDynaObject(const std::string& upperName, const void* owner, int& provider, int& id) const;
  int Count() const { return static_cast<int>(items_.size()); }
  const TDynaVarItem& Item(int i) const { return items_[i]; }
  void Add(TDynaVarItem item) { items_.push_back(std::move(item)); }
  void Delete(std::string_view name);
  void Clear() { items_.clear(); }

 private:
  std::vector<TDynaVarItem> items_;
};
TDynaVars& DynaVars();

void AddDynaVar(std::string_view name, TNameToId nameToId, TSetVar setVar, TGetVar getVar);
void AddLocalVar(std::string_view name, TNameToId nameToId, TSetVar setVar, TGetVar getVar, const void* owner);
void deldynavar(std::string_view name);

// Host parameters, sorted by upper-cased name, plus the spare value (id 0). The spare value is
// per thread: it is what a script's main program assigns as Result and what getresult returns.
class TInternalVar {
 public:
  int DynaVarNameTOId(const std::string& upperName) const;
  TValue DynaGetVar(int id) const;
  void DynaSetVar(int id, const TValue& value);
  void Set(std::string_view name, const TValue& value);
  TValue Get(std::string_view name) const;
  void Clear() { items_.clear(); }
  static TValue& Spare();

 private:
  std::vector<std::pair<std::string, TValue>> items_;
};
TInternalVar& InternalVariables();

// Named objects of one runner: upper-cased name -> (upper-cased class name, object).
struct tobjitem {
  std::string ClassName;
  TObjHandle Object = 0;
};
class tobjcollect {
 public:
  void Add(std::string_view name, std::string_view className, TObjHandle obj);
  const tobjitem* Find(std::string_view name) const;
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  std::map<std::string, tobjitem, std::less<>> items_;
};

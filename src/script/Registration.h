// Host registration table: the routines, methods, properties and constants a script can use.
// One process-wide table, sorted by upper-cased name; compiled code calls entries by position.
#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/ScriptObjects.h"
#include "script/Value.h"

// First style: receives the method name (the registered name after its first ".").
using THalMethod = std::function<TValue(TObjHandle self, const std::string& method, TValue* args, int high)>;
// Second style: receives the user data given to the run (the script host passes its run thread).
using THalMethod2 = std::function<TValue(TObjHandle self, void* userData, TValue* args, int high)>;
// Reading style, for functions whose parameters are all by value and which never run script code
// (text and number helpers): the interpreter lends them its slots instead of copying each argument.
using THalReader = TValue (*)(const TValue* args);

// Parameter kinds.
enum : uint8_t {
  pkValue = 0,      // by value: any expression
  pkVar = 1,        // by reference: a variable; the handler's args[i] is copied back
  pkNone = 2,       // only as the first kind: no parameters at all
  pkOpenArray = 3,  // bracketed list passed as one open array (element 0 = count)
  pkAssigned = 4    // only as the last kind: the value of an indexed-property assignment
};

constexpr int HAL_MAX_PARAMS = 100;
constexpr int HAL_ARG_HIGH = 100;  // the highest index every handler receives

struct TFunListItem {
  std::string MethodName;
  bool Style2 = false;
  THalMethod Handler;
  THalMethod2 Handler2;
  THalReader Reader = nullptr;  // set for the reading style; Handler then calls it too
  int ParamCount = 0;
  uint8_t ProcFlag = 0;  // 1 for procedures
  uint8_t Kinds[HAL_MAX_PARAMS + 1] = {};
  bool IsProperty = false;
  bool IsSetter = false;
};

// Sorted by key; positions are the numbers compiled code uses.
class TFunList {
 public:
  int IndexOf(std::string_view key) const;  // -1 when absent; key compared case-insensitively
  int Count() const { return static_cast<int>(items_.size()); }
  const TFunListItem& Item(int index) const { return *items_[index].second; }
  const std::string& Key(int index) const { return items_[index].first; }
  void Put(std::string_view name, std::unique_ptr<TFunListItem> item);
  bool Delete(std::string_view name);
  void Clear() { items_.clear(); }

 private:
  std::vector<std::pair<std::string, std::unique_ptr<TFunListItem>>> items_;
};
TFunList& Funs();

void AddProc(std::string_view name, THalMethod h, const uint8_t* kinds, int high);
void AddFun(std::string_view name, THalMethod h, const uint8_t* kinds, int high);
void AddProc2(std::string_view name, THalMethod2 h, const uint8_t* kinds, int high);
void AddFun2(std::string_view name, THalMethod2 h, const uint8_t* kinds, int high);
// Falls back to an ordinary function when a kind is not by value.
void AddReaderFun(std::string_view name, THalReader f, std::initializer_list<uint8_t> kinds);
// Convenience forms: AddFun("Length", h, {pkValue}); AddFun("TSTRINGS.COUNT", h, {pkNone}).
void AddProc(std::string_view name, THalMethod h, std::initializer_list<uint8_t> kinds);
void AddFun(std::string_view name, THalMethod h, std::initializer_list<uint8_t> kinds);
void AddProc2(std::string_view name, THalMethod2 h, std::initializer_list<uint8_t> kinds);
void AddFun2(std::string_view name, THalMethod2 h, std::initializer_list<uint8_t> kinds);
// Getter under name (no parameters), setter (if any) under name_SET (one by-value parameter).
void AddProp(std::string_view name, THalMethod getter, THalMethod setter = nullptr);
void AddProp2(std::string_view name, THalMethod2 getter, THalMethod2 setter = nullptr);
// Getter under name with k index parameters; setter (if any) under name_VET with k indexes + the value.
void AddArrayProp(std::string_view name, int indexCount, THalMethod getter, THalMethod setter = nullptr);
void DelProc(std::string_view name);
// A reserved constant: the word becomes that value in every later compile.
void AddConst(std::string_view name, const TValue& value);
// Host parameters: variables of every script compiled afterwards.
void SetHalParam(std::string_view name, const TValue& value);
TValue GetHalParam(std::string_view name);
void ClearHalParams();
inline void QuilletRegister() {}
inline void Register() {}

// Reserved constants, sorted by upper-cased name; the lexer's token 261 carries the position.
class TResConstList {
 public:
  int IndexOf(std::string_view name) const;
  const TValue& Value(int index) const { return items_[index].second; }
  int Count() const { return static_cast<int>(items_.size()); }
  void Put(std::string_view name, const TValue& v);
  void Clear() { items_.clear(); }

 private:
  std::vector<std::pair<std::string, TValue>> items_;
};
TResConstList& ResConsts();

// Upper-cases an ASCII/single-byte name the way every engine table keys it.
std::string HalUpper(std::string_view s);

// Live-object registry, host class registry and the object <-> value conversions.
#include "script/ScriptObjects.h"

#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "script/Registration.h"

namespace {
struct TLiveEntry {
  void* obj;
  std::string cls;
  bool scriptObject;
};

struct TLiveRegistry {
  std::shared_mutex mu;
  std::unordered_map<TObjHandle, TLiveEntry> byHandle;
  std::unordered_map<const void*, TObjHandle> byAddress;
  TObjHandle next = 0;
};
TLiveRegistry& live() {
  static TLiveRegistry r;
  return r;
}

struct TClassRegistry {
  std::shared_mutex mu;
  std::unordered_map<std::string, std::string> parent;  // upper name -> upper parent ("" for roots)
  TClassRegistry() {
    parent["TOBJECT"] = "";
    parent["TPERSISTENT"] = "TOBJECT";
    parent["TCOMPONENT"] = "TPERSISTENT";
    parent["TSTRINGS"] = "TPERSISTENT";
    parent["TSTRINGLIST"] = "TSTRINGS";
    parent["THALCOMP"] = "TCOMPONENT";
  }
};
TClassRegistry& classes() {
  static TClassRegistry r;
  return r;
}

TObjHandle registerEntry(void* obj, std::string_view className, bool scriptObject) {
  if (!obj) return 0;
  auto& r = live();
  std::unique_lock lock(r.mu);
  auto it = r.byAddress.find(obj);
  if (it != r.byAddress.end()) return it->second;
  do {
    ++r.next;  // never reused; skips 0 if the counter ever wraps
  } while (r.next == 0 || r.byHandle.count(r.next));
  r.byHandle.emplace(r.next, TLiveEntry{obj, HalUpper(className), scriptObject});
  r.byAddress.emplace(obj, r.next);
  return r.next;
}

void* findEntry(TObjHandle h, std::string_view requiredClass, bool needScriptObject) {
  if (h == 0) return nullptr;
  std::string cls;
  void* obj;
  {
    auto& r = live();
    std::shared_lock lock(r.mu);
    auto it = r.byHandle.find(h);
    if (it == r.byHandle.end() || (needScriptObject && !it->second.scriptObject)) return nullptr;
    obj = it->second.obj;
    cls = it->second.cls;
  }
  if (!requiredClass.empty() && !HostClassIs(cls, requiredClass)) return nullptr;
  return obj;
}
}  // namespace

void RegisterHostClass(std::string_view className, std::string_view parentName) {
  auto& c = classes();
  std::unique_lock lock(c.mu);
  c.parent[HalUpper(className)] = HalUpper(parentName);
}

bool IsHostClass(std::string_view className) {
  auto& c = classes();
  std::shared_lock lock(c.mu);
  return c.parent.count(HalUpper(className)) != 0;
}

std::string GetPearent(std::string_view className) {
  auto& c = classes();
  std::shared_lock lock(c.mu);
  auto it = c.parent.find(HalUpper(className));
  return it == c.parent.end() ? std::string() : it->second;
}

std::string GetClassParent(std::string_view className) { return GetPearent(className); }

bool HostClassIs(std::string_view className, std::string_view baseName) {
  std::string cls = HalUpper(className);
  const std::string base = HalUpper(baseName);
  for (int guard = 0; guard < 64 && !cls.empty(); ++guard) {  // guard against a cyclic registration
    if (cls == base) return true;
    cls = GetPearent(cls);
  }
  return false;
}

TObjHandle RegisterLiveObject(void* obj, std::string_view className) { return registerEntry(obj, className, false); }

void UnregisterLiveObject(void* obj) {
  auto& r = live();
  std::unique_lock lock(r.mu);
  auto it = r.byAddress.find(obj);
  if (it == r.byAddress.end()) return;
  r.byHandle.erase(it->second);
  r.byAddress.erase(it);
}

TObjHandle HandleOfLiveObject(const void* obj) {
  auto& r = live();
  std::shared_lock lock(r.mu);
  auto it = r.byAddress.find(obj);
  return it == r.byAddress.end() ? 0 : it->second;
}

void* FindLiveObject(TObjHandle h, std::string_view requiredClass) { return findEntry(h, requiredClass, false); }

void* FindLiveObjectBase(TObjHandle h, std::string_view requiredClass) { return findEntry(h, requiredClass, true); }

std::string LiveObjectClass(TObjHandle h) {
  auto& r = live();
  std::shared_lock lock(r.mu);
  auto it = r.byHandle.find(h);
  return it == r.byHandle.end() ? std::string() : it->second.cls;
}

TScriptObject::TScriptObject(std::string_view className)
    : handle_(registerEntry(static_cast<void*>(this), className, true)) {}

TScriptObject::~TScriptObject() { UnregisterLiveObject(static_cast<void*>(this)); }

TValue TScriptObject::ToVar() const { return ObjToVar(handle_); }

TValue ObjToVar(TObjHandle h) {
  if (h == 0) return TValue(int32_t(0));
  // 1.0 with the handle in the low mantissa bits: a normal, non-zero real, so it tests true and
  // differs from Nil even where denormals would be flushed to zero.
  return TValue::FromBits(TVarKind::Real, 0x3FF0000000000000ULL | h);
}

TObjHandle VarToObj(const TValue& v) {
  if (v.Kind() == TVarKind::Integer) return static_cast<TObjHandle>(v.IntVal());
  if (v.Kind() >= TVarKind::String) return 0;  // buffers are not handles
  return static_cast<TObjHandle>(v.Bits() & 0xFFFFFFFFULL);
}

void TestValidObject(TObjHandle h, std::string_view requiredClass) {
  if (!findEntry(h, requiredClass, false)) throw ERunTimeError("Invalid or uninitialized object used");
}

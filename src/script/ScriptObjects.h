// Host objects as scripts see them: the registry of live objects (handles), the host class
// registry with parent chains, and the conversions between objects and script values.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "script/ScriptErrors.h"
#include "script/Value.h"

// A host object crosses into a script as a handle: a non-zero number issued by the live-object
// registry. Handles are never reused, so a stale or forged one is refused instead of crashing.
using TObjHandle = uint32_t;

// ---- Host class registry ------------------------------------------------------------------
// Every host class whose members libraries register, with its parent. Names are case-insensitive.
// Built in: TObject, TPersistent, TComponent, TStrings, TStringList, THalComp.
void RegisterHostClass(std::string_view className, std::string_view parentName);
bool IsHostClass(std::string_view className);
// The parent class's name (upper case), or empty when the class is unknown or has no parent.
std::string GetPearent(std::string_view className);
std::string GetClassParent(std::string_view className);
// Whether className is baseName or derives from it.
bool HostClassIs(std::string_view className, std::string_view baseName);

// ---- Live-object registry -----------------------------------------------------------------
// Registers obj under its class name and returns its handle; registering the same address again
// returns the handle it already has. Thread-safe.
TObjHandle RegisterLiveObject(void* obj, std::string_view className);
// Removes obj (call it before the object is freed). Unknown addresses are ignored.
void UnregisterLiveObject(void* obj);
// The handle of a registered object, or 0.
TObjHandle HandleOfLiveObject(const void* obj);
// The object behind a handle, or nullptr when the handle is 0, stale, forged, or (when
// requiredClass is given) names an object that is not of that class or a class derived from it.
void* FindLiveObject(TObjHandle h, std::string_view requiredClass = {});
// Class name (upper case) of a live object, or empty.
std::string LiveObjectClass(TObjHandle h);

// Base class for host objects that register themselves for their whole lifetime (RAII).
class TScriptObject {
 public:
  explicit TScriptObject(std::string_view className);
  virtual ~TScriptObject();
  TScriptObject(const TScriptObject&) = delete;
  TScriptObject& operator=(const TScriptObject&) = delete;
  TObjHandle Handle() const { return handle_; }
  TValue ToVar() const;

 private:
  TObjHandle handle_;
};

// ---- Objects as values --------------------------------------------------------------------
// A reference is a real-kind value whose low 32 bits hold the handle; handle 0 gives the integer 0 (Nil).
TValue ObjToVar(TObjHandle h);
inline TValue OV(TObjHandle h) { return ObjToVar(h); }
// The handle held in the low 32 bits of any value's payload (integers hold it directly), no check.
TObjHandle VarToObj(const TValue& v);
inline TObjHandle VO(const TValue& v) { return VarToObj(v); }

// Raises ERunTimeError "Invalid or uninitialized object used" unless h names a live object
// (of requiredClass or a class derived from it, when given).
void TestValidObject(TObjHandle h, std::string_view requiredClass = {});

// The live object behind a value or handle as T*, checked; raises like TestValidObject.
// T must be the type whose address was registered (for TScriptObject subclasses: the subclass).
template <class T>
T* LiveObjectAs(TObjHandle h, std::string_view requiredClass) {
  void* p = FindLiveObject(h, requiredClass);
  if (!p) TestValidObject(0);
  return static_cast<T*>(p);
}
template <class T>
T* LiveObjectAs(const TValue& v, std::string_view requiredClass) {
  return LiveObjectAs<T>(VarToObj(v), requiredClass);
}
// Like FindLiveObject, but only for objects registered through TScriptObject.
void* FindLiveObjectBase(TObjHandle h, std::string_view requiredClass);
// For TScriptObject subclasses: the checked object as T* (dynamic type check on top of the class name).
template <class T>
T* ScriptObjectAs(TObjHandle h, std::string_view requiredClass = {}) {
  auto* base = static_cast<TScriptObject*>(FindLiveObjectBase(h, requiredClass));
  T* p = base ? dynamic_cast<T*>(base) : nullptr;
  if (!p) TestValidObject(0);
  return p;
}

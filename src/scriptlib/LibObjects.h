// Script-created objects of the general library (TObjectList, TStringList, TVariant) and the pool
// that owns them: a script's Free destroys one; leftovers go when the last running script ends.
#pragma once

#include "scriptlib/HostClassName.h"
#include "scriptlib/StringList.h"
#include "scriptlib/ValueList.h"

#include "script/ScriptObjects.h"

#include <cstddef>
#include <memory>
#include <string>

class TLibObject : public TScriptObject, public IHostClassName {
 public:
  explicit TLibObject(const char* className) : TScriptObject(className), m_className(className) {}
  const std::string& ClassName() const { return m_className; }
  std::string HostClassName() const override { return m_className; }
  virtual size_t InstanceSize() const = 0;
  virtual void CleanupInstance() = 0;  // drops the contents; the object stays usable

 private:
  std::string m_className;
};

class TObjectListObj : public TLibObject {
 public:
  TObjectListObj() : TLibObject("TObjectList") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override { list.Clear(); }
  CValueList list;
};

class TStringListObj : public TLibObject {
 public:
  TStringListObj() : TLibObject("TStringList") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override { list.Clear(); }
  CStringList list;
};

class TVariantObj : public TLibObject {
 public:
  TVariantObj() : TLibObject("TVariant") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override { value = TValue(); }
  TValue value;
};

// Creates a pooled object and returns its handle.
template <class T>
TObjHandle CreateLibObject();
TObjHandle AdoptLibObject(std::unique_ptr<TLibObject> obj);
// Destroys a pooled object; false when the handle names no pooled object.
bool FreeLibObject(TObjHandle h);
// The pooled object behind a handle, or nullptr.
TLibObject* FindLibObject(TObjHandle h);
// Destroys every pooled object (when no script runs any more, and at exit).
void FreeAllLibObjects();
int LibObjectCount();

template <class T>
TObjHandle CreateLibObject() {
  return AdoptLibObject(std::make_unique<T>());
}

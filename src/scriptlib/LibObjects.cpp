// The pool of script-created library objects, keyed by handle, guarded for several script threads.
#include "scriptlib/LibObjects.h"

#include <map>
#include <mutex>

namespace {

struct TPool {
  std::mutex lock;
  std::map<TObjHandle, std::unique_ptr<TLibObject>> objects;
};

TPool& Pool() {
  static TPool pool;
  return pool;
}

}  // namespace

TObjHandle AdoptLibObject(std::unique_ptr<TLibObject> obj) {
  TObjHandle h = obj->Handle();
  std::lock_guard<std::mutex> g(Pool().lock);
  Pool().objects[h] = std::move(obj);
  return h;
}

bool FreeLibObject(TObjHandle h) {
  std::unique_ptr<TLibObject> doomed;
  {
    std::lock_guard<std::mutex> g(Pool().lock);
    auto it = Pool().objects.find(h);
    if (it == Pool().objects.end()) return false;
    doomed = std::move(it->second);
    Pool().objects.erase(it);
  }
  return true;
}

TLibObject* FindLibObject(TObjHandle h) {
  std::lock_guard<std::mutex> g(Pool().lock);
  auto it = Pool().objects.find(h);
  return it == Pool().objects.end() ? nullptr : it->second.get();
}

void FreeAllLibObjects() {
  std::map<TObjHandle, std::unique_ptr<TLibObject>> doomed;
  {
    std::lock_guard<std::mutex> g(Pool().lock);
    doomed.swap(Pool().objects);
  }
}

int LibObjectCount() {
  std::lock_guard<std::mutex> g(Pool().lock);
  return static_cast<int>(Pool().objects.size());
}

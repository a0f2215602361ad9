// Bytearray: TMemory, the script's fixed-size byte buffer, and the accessors other bindings (files,
// CUs) use to read into and write from its storage.
#pragma once

#include "scriptlib/LibObjects.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

class TMemory : public TLibObject {
 public:
  explicit TMemory(int64_t size);
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override {}  // plain storage: nothing to finalise

  // New zero-filled storage of the given size; the old contents go. Raises "Invalid memory size"
  // for sizes outside 0..2^31-1 and std::bad_alloc when the platform has no memory for it.
  void Alloc(int64_t size);
  void Release() { Alloc(0); }
  int32_t Size() const { return m_size; }
  uint8_t* Data() { return m_storage.get(); }  // null while the size is 0
  const uint8_t* Data() const { return m_storage.get(); }
  // Raises "Index out of boundaries" unless 0 <= p and the w bytes from p lie inside the storage.
  void CheckRange(int64_t p, int64_t w) const;

 private:
  struct CFree {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  int32_t m_size = 0;
  std::unique_ptr<uint8_t, CFree> m_storage;
};

// The TMemory behind a handle or a script value; raises "Invalid or uninitialized object used".
TMemory& MemoryOf(TObjHandle h);
TMemory& MemoryArg(const TValue& v);

// TMemory and its members, once per process.
void RegisterByteArrayLibrary();

// TMemory: byte, little-endian, Motorola (big-endian) and text access to a script byte buffer.
// Buffers are pooled library objects, so one a script never frees goes when the last script ends.
#include "scriptlib/Bytearray.h"

#include "script/Registration.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>

TMemory::TMemory(int64_t size) : TLibObject("TMemory") { Alloc(size); }

void TMemory::Alloc(int64_t size) {
  if (size < 0 || size > std::numeric_limits<int32_t>::max())
    throw ERunTimeError("Invalid memory size " + std::to_string(size));
  m_storage.reset();
  m_size = 0;
  if (size == 0) return;
  // calloc: large blocks come as untouched zero pages, and no earlier heap contents leak into a script.
  auto* p = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size), 1));
  if (!p) throw std::bad_alloc();
  m_storage.reset(p);
  m_size = static_cast<int32_t>(size);
}

// An access of width w at p must end at the last byte or before it: p + w <= size.
void TMemory::CheckRange(int64_t p, int64_t w) const {
  if (p < 0 || p + std::max<int64_t>(w, 0) > m_size) throw ERunTimeError("Index out of boundaries");
}

TMemory& MemoryOf(TObjHandle h) { return *ScriptObjectAs<TMemory>(h, "TMemory"); }
TMemory& MemoryArg(const TValue& v) { return MemoryOf(VarToObj(v)); }

namespace {

int64_t Pos(const TValue& v) { return v.AsInt64(); }

// Checked pointer to the w bytes at position p.
uint8_t* At(TMemory& m, const TValue& p, int64_t w) {
  int64_t at = Pos(p);
  m.CheckRange(at, w);
  return m.Data() + at;
}

int32_t GetLittle32(const uint8_t* b) {
  return static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
}

void SetLittle32(uint8_t* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t GetMotorola32(const uint8_t* b) {
  return static_cast<int32_t>(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]));
}

void SetMotorola32(uint8_t* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

uint16_t GetMotorola16(const uint8_t* b) { return static_cast<uint16_t>(b[0] << 8 | b[1]); }

// The low 32 bits of a number, so that unsigned values such as $FFFFFFFF store as well.
uint32_t Bits32(const TValue& v) { return static_cast<uint32_t>(v.AsInt64()); }

TValue Int(int32_t i) { return TValue(i); }

#define MEM_HANDLER [](TObjHandle self, const std::string&, [[maybe_unused]] TValue* a, int) -> TValue

void RegisterLifetime() {
  AddFun("TMEMORY.CREATE",
         [](TObjHandle, const std::string&, TValue* a, int) {
           return ObjToVar(AdoptLibObject(std::make_unique<TMemory>(a[0].AsInt64())));
         },
         {pkValue});
  AddFun("TMEMORY.FREE",
         MEM_HANDLER {
           MemoryOf(self).Release();
           FreeLibObject(self);
           return TValue();
         },
         {pkNone});
  AddFun("TMEMORY.ALLOC",
         MEM_HANDLER {
           MemoryOf(self).Alloc(a[0].AsInt64());
           return TValue();
         },
         {pkValue});
  AddProp(
      "TMEMORY.SIZE", MEM_HANDLER { return Int(MemoryOf(self).Size()); });
}

void RegisterNumbers() {
  AddArrayProp(
      "TMEMORY.BYTES", 1, MEM_HANDLER { return Int(*At(MemoryOf(self), a[0], 1)); },
      MEM_HANDLER {
        // An integer stored into a byte keeps its low eight bits, as the value rules convert 8-bit kinds.
        *At(MemoryOf(self), a[0], 1) = static_cast<uint8_t>(a[1].AsInt64());
        return TValue();
      });
  AddFun("TMEMORY.GETINTEGER", MEM_HANDLER { return Int(GetLittle32(At(MemoryOf(self), a[0], 4))); }, {pkValue});
  AddFun("TMEMORY.SETINTEGER",
         MEM_HANDLER {
           TMemory& m = MemoryOf(self);
           uint32_t v = Bits32(a[1]);
           SetLittle32(At(m, a[0], 4), v);
           return Int(4);
         },
         {pkValue, pkValue});
  AddFun("TMEMORY.GETMOTOROLAINTEGER", MEM_HANDLER { return Int(GetMotorola32(At(MemoryOf(self), a[0], 4))); },
         {pkValue});
  AddFun("TMEMORY.SETMOTOROLAINTEGER",
         MEM_HANDLER {
           TMemory& m = MemoryOf(self);
           uint32_t v = Bits32(a[1]);
           SetMotorola32(At(m, a[0], 4), v);
           return TValue();
         },
         {pkValue, pkValue});
  AddFun("TMEMORY.GETMOTOROLAUSHORT", MEM_HANDLER { return Int(GetMotorola16(At(MemoryOf(self), a[0], 2))); },
         {pkValue});
  AddFun("TMEMORY.GETMOTOROLASHORT",
         MEM_HANDLER { return Int(static_cast<int16_t>(GetMotorola16(At(MemoryOf(self), a[0], 2)))); }, {pkValue});
  AddFun("TMEMORY.SETMOTOROLASHORT",
         MEM_HANDLER {
           TMemory& m = MemoryOf(self);
           uint32_t v = Bits32(a[1]);
           uint8_t* b = At(m, a[0], 2);
           b[0] = static_cast<uint8_t>(v >> 8);
           b[1] = static_cast<uint8_t>(v);
           return TValue();
         },
         {pkValue, pkValue});
}

void RegisterText() {
  // Built straight from the storage, so any length the bounds admit is safe.
  AddFun("TMEMORY.GETSTRING",
         MEM_HANDLER {
           TMemory& m = MemoryOf(self);
           int64_t length = std::max<int64_t>(a[1].AsInt64(), 0);
           const uint8_t* b = At(m, a[0], length);
           const void* zero = length > 0 ? std::memchr(b, 0, static_cast<size_t>(length)) : nullptr;
           size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - b) : static_cast<size_t>(length);
           return TValue(std::string(reinterpret_cast<const char*>(b), n));
         },
         {pkValue, pkValue});
  AddFun("TMEMORY.SETSTRING",
         MEM_HANDLER {
           TMemory& m = MemoryOf(self);
           std::string text = a[1].AsString();
           uint8_t* b = At(m, a[0], static_cast<int64_t>(text.size()));
           if (!text.empty()) std::memcpy(b, text.data(), text.size());
           return Int(static_cast<int32_t>(text.size()));
         },
         {pkValue, pkValue});
}

}  // namespace

void RegisterByteArrayLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClass("TMemory", "TObject");
    RegisterLifetime();
    RegisterNumbers();
    RegisterText();
  });
}

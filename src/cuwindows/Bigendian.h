// Big-endian readers for the binary records some CUs send (bounds are the caller's business).
#pragma once

#include <cstdint>
#include <cstring>

inline int16_t BeI16(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }
inline uint16_t BeU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t BeU32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline int32_t BeI32(const uint8_t* p) { return static_cast<int32_t>(BeU32(p)); }
inline float BeF32(const uint8_t* p) {
  const uint32_t bits = BeU32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
// A zero-terminated text in a slot of at most max bytes (an unterminated slot ends at its size).
inline const char* SlotText(const uint8_t* p, int max, int& len) {
  const void* zero = std::memchr(p, 0, static_cast<size_t>(max));
  len = zero ? static_cast<int>(static_cast<const uint8_t*>(zero) - p) : max;
  return reinterpret_cast<const char*>(p);
}

// Frame builders and readers shared by the fake instrument, the raw host and the tests.
#include "support/Frames.h"

#include <algorithm>
#include <cstdio>

namespace support {

void PutHeader(uint8_t* at, size_t length, uint16_t socket) {
  at[0] = static_cast<uint8_t>(length >> 8);
  at[1] = static_cast<uint8_t>(length);
  at[2] = static_cast<uint8_t>(socket >> 8);
  at[3] = static_cast<uint8_t>(socket);
}

Bytes MakeFrame(long socket, const Bytes& payload) {
  // Sized once: growing by insert trips a false array-bounds warning of GCC 12 at -O3.
  Bytes frame(kHeaderLength + payload.size());
  PutHeader(frame.data(), payload.size() + kHeaderLength, static_cast<uint16_t>(socket));
  std::copy(payload.begin(), payload.end(), frame.begin() + kHeaderLength);
  return frame;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Z(const std::string& text) {
  Bytes b = Text(text);
  b.push_back(0);
  return b;
}

Bytes U16(unsigned value) { return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)}; }

uint16_t ReadU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

Bytes Key(const std::string& owner, const std::string& description, const std::string& name) {
  return Join({Z(owner), Z(description), Z(name)});
}

Bytes RedCard() { return MakeFrame(kFlowSocket, U16(0xFFFF)); }

Bytes Grant(long socket, uint8_t count) {
  return MakeFrame(kFlowSocket, Join({U16(static_cast<unsigned>(socket)), {count}}));
}

std::string Hex(const Bytes& bytes) {
  std::string s;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    s += buf;
  }
  return s;
}

}  // namespace support

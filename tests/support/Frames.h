// Zemat frames built and read by hand, for every test and benchmark that plays either side of the wire:
// one place to change when the framing changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace support {

using Bytes = std::vector<uint8_t>;

inline constexpr uint16_t kFlowSocket = 0xFFFF;  // red cards, credit grants and keep-alives
inline constexpr size_t kHeaderLength = 4;       // length (2 bytes, header included) and socket (2 bytes)
inline constexpr size_t kMaxFrameLength = 4500;

// Writes the header of a frame of `length` bytes (header included) on socket at `at`.
void PutHeader(uint8_t* at, size_t length, uint16_t socket);
Bytes MakeFrame(long socket, const Bytes& payload);
Bytes Join(std::initializer_list<Bytes> parts);
// The text's bytes without a terminator.
Bytes Text(const std::string& text);
// The text with its zero terminator.
Bytes Z(const std::string& text);
Bytes U16(unsigned value);
uint16_t ReadU16(const uint8_t* at);
// A CU's key as open requests carry it: owner, description and name, each zero-terminated.
Bytes Key(const std::string& owner, const std::string& description, const std::string& name);
// The host's red card (a flow frame with the payload FF FF).
Bytes RedCard();
// A flow frame granting count credits on socket (count 0: a keep-alive).
Bytes Grant(long socket, uint8_t count);
std::string Hex(const Bytes& bytes);

}  // namespace support

// Zemat wire helpers for the instrument side: big-endian numbers, frame building, and the input
// splitter that cuts the host's byte stream into frames and resynchronises on the red card.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zsim {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t Z_FLOW_SOCKET_NUMBER = 0xFFFF;
constexpr uint16_t Z_SOCKET_MAX = 0xFFFC;
constexpr size_t Z_FRAME_MAX = 4500;  // largest frame either side buffers
constexpr size_t Z_PAYLOAD_MAX = Z_FRAME_MAX - 4;

inline uint16_t read_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline void put_u16(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}

Bytes make_frame(uint16_t socket, const uint8_t* payload, size_t n);
inline Bytes make_frame(uint16_t socket, const Bytes& payload) {
  return make_frame(socket, payload.data(), payload.size());
}
// A flow-socket credit message with one entry.
Bytes make_credit(uint16_t socket, uint8_t count);

std::string hex(const uint8_t* p, size_t n, size_t max_bytes = 32);

// Cuts the host's stream into frames. Until a red card (00 06 FF FF FF FF) has been seen, and again
// after a frame with an impossible length, everything up to the next red card is discarded: the host
// always starts over with a red card, so that is the only safe place to pick the stream up again.
class FrameSplitter {
 public:
  struct Result {
    std::vector<Bytes> frames;
    size_t discarded = 0;  // bytes thrown away while hunting for a red card
    int bad_lengths = 0;   // frames whose length field was below 4 or above 4500
  };
  Result feed(const uint8_t* p, size_t n);
  // Back to hunting, with bytes already cut into frames put back in front of the unparsed rest.
  void restart(const Bytes& put_back);
  bool synced() const { return synced_; }

 private:
  bool hunt(Result& r);  // true when the buffer now starts with a red card
  Bytes buf_;
  bool synced_ = false;
};

}  // namespace zsim

// Frame building and the resynchronising input splitter of the simulator.
#include "zemat-sim/Wire.h"

#include <algorithm>
#include <cstdio>

namespace zsim {

Bytes make_frame(uint16_t socket, const uint8_t* payload, size_t n) {
  Bytes f;
  f.reserve(n + 4);
  put_u16(f, static_cast<unsigned>(n + 4));
  put_u16(f, socket);
  f.insert(f.end(), payload, payload + n);
  return f;
}

Bytes make_credit(uint16_t socket, uint8_t count) {
  Bytes p;
  put_u16(p, socket);
  p.push_back(count);
  return make_frame(Z_FLOW_SOCKET_NUMBER, p);
}

std::string hex(const uint8_t* p, size_t n, size_t max_bytes) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n && i < max_bytes; ++i) {
    std::snprintf(b, sizeof b, "%02X ", p[i]);
    s += b;
  }
  if (n > max_bytes)
    s += "...";
  else if (!s.empty())
    s.pop_back();
  return s;
}

void FrameSplitter::restart(const Bytes& put_back) {
  buf_.insert(buf_.begin(), put_back.begin(), put_back.end());
  synced_ = false;
}

bool FrameSplitter::hunt(Result& r) {
  static const uint8_t red[6] = {0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF};
  for (size_t i = 0; i + 6 <= buf_.size(); ++i) {
    if (std::equal(red, red + 6, buf_.begin() + static_cast<long>(i))) {
      r.discarded += i;
      buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(i));
      synced_ = true;
      return true;
    }
  }
  // Keep the last five bytes: a red card may be split across reads.
  if (buf_.size() > 5) {
    r.discarded += buf_.size() - 5;
    buf_.erase(buf_.begin(), buf_.end() - 5);
  }
  return false;
}

FrameSplitter::Result FrameSplitter::feed(const uint8_t* p, size_t n) {
  Result r;
  buf_.insert(buf_.end(), p, p + n);
  size_t pos = 0;
  while (true) {
    if (!synced_) {
      buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(pos));
      pos = 0;
      if (!hunt(r)) return r;
    }
    if (buf_.size() - pos < 2) break;
    size_t len = read_u16(&buf_[pos]);
    if (len < 4 || len > Z_FRAME_MAX) {
      ++r.bad_lengths;
      synced_ = false;
      continue;
    }
    if (buf_.size() - pos < len) break;
    r.frames.emplace_back(buf_.begin() + static_cast<long>(pos), buf_.begin() + static_cast<long>(pos + len));
    pos += len;
  }
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(pos));
  return r;
}

}  // namespace zsim

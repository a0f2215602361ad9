// A CU context for unit tests of the behaviours: records what a behaviour sends, grants and logs, and
// hands out read credits as the test allows.
#pragma once

#include "zemat-sim/CuBehaviour.h"

#include <string>
#include <vector>

namespace simtest {

class RecordingContext : public zsim::CuContext {
 public:
  void send(const zsim::Bytes& p) override {
    sent.push_back(p);
    if (credits > 0) --credits;
  }
  void grant(int n) override { granted += n; }
  void log(const std::string& t) override { logs.push_back(t); }
  void count_instruction() override { ++instructions; }
  void start_stream(long c, int s, double) override { stream_count = c, stream_size = s; }
  bool deliver_to_slave(uint16_t s, const uint8_t*, size_t n) override {
    slave = s, slave_bytes = n;
    return s == 0x100;
  }
  const zsim::CuConfig& cu() const override { return cfg; }
  const std::string& module_type() const override { return type; }
  const std::string& module_serial() const override { return type; }
  uint16_t socket() const override { return 20; }
  bool can_send() const override { return credits > 0; }

  std::string text(size_t i) const { return std::string(sent.at(i).begin(), sent.at(i).end()); }

  zsim::CuConfig cfg;
  std::string type = "T";
  std::vector<zsim::Bytes> sent;
  std::vector<std::string> logs;
  int granted = 0, instructions = 0, stream_size = 0;
  long credits = 1000000;  // read credits the host has granted and not used yet
  long stream_count = -1;
  uint16_t slave = 0;
  size_t slave_bytes = 0;
};

inline void feed(zsim::CuBehaviour& b, RecordingContext& cx, const std::string& s) {
  b.on_frame(cx, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace simtest

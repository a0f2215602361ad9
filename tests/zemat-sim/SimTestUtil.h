// What the tests of the running simulator share besides the support library: the buffer parameters of a
// plain open, a payload as text and the parsed status.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "support/Frames.h"
#include "support/Simulator.h"

namespace simtest {

// 4 out-buffers and 4 in-buffers of 128 bytes each.
inline const support::Bytes kParams{4, 0, 128, 4, 0, 128};

inline std::string str(const support::Bytes& b, size_t from = 0) {
  return std::string(b.begin() + static_cast<long>(from), b.end());
}

inline nlohmann::json status(support::Simulator& sim) { return nlohmann::json::parse(sim.Status()); }

}  // namespace simtest

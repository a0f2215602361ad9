// A module's firmware loader as the instrument plays it: the image its "LD" CU receives (bytes, frames,
// CRC-32) and the flash phases its "IN" CU reports ("LOAD:RSET", "LOAD:STAT?"), with injected faults.
// The state belongs to the module, not to a CU or a connection: it outlives closes and reconnects.
#pragma once

#include "zemat-sim/SimConfig.h"
#include "zemat-sim/Wire.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zsim {

class CuBehaviour;

class ModuleLoader {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kKeepMax = 64 * 1024 * 1024;  // image bytes kept for "loader-save"

  explicit ModuleLoader(const LoaderSettings& s) : settings(s) {}

  // The IN CU's answer to an instruction: nullopt when it is no loader command, "" for no reply.
  std::optional<std::string> on_instruction(const std::string& text, Clock::time_point now);
  // One image frame on the LD CU; true when the link is to be dropped now (the drop fault).
  bool on_image(const uint8_t* p, size_t n, Clock::time_point now);
  // The starve fault: no send credit goes back for the next LD frame.
  bool withholds_credit() const { return settings.starve_at >= 0 && bytes_ >= settings.starve_at; }
  // Phase and code as "LOAD:STAT?" reports them now.
  std::pair<int, int> status(Clock::time_point now) const;
  // {"phase","code","bytes","frames","min_frame","max_frame","crc32","resets","kept"}
  std::string status_json(Clock::time_point now) const;
  // Writes the image received since the last "LOAD:RSET"; false (why in error) when it cannot.
  bool save(const std::string& path, std::string& error) const;

  LoaderSettings settings;

 private:
  bool armed_ = false;  // a "LOAD:RSET" came; the phases run from it
  Clock::time_point reset_at_{}, last_frame_{};
  long bytes_ = 0, frames_ = 0, resets_ = 0;
  size_t min_frame_ = 0, max_frame_ = 0;
  uint32_t crc_ = 0;
  int error_ = 0;  // phase 4 code once an error fault struck
  bool dropped_ = false;
  Bytes image_;
};

// The loaders of all modules by module id, created on first use.
class Loaders {
 public:
  ModuleLoader& of(int module_id, const LoaderSettings& settings);
  ModuleLoader* find(int module_id);

 private:
  std::map<int, std::unique_ptr<ModuleLoader>> by_module_;
};

// The "LD" CU's behaviour: every message is image data for the module's loader.
std::unique_ptr<CuBehaviour> make_loader_behaviour();

// CRC-32 (IEEE 802.3, as zlib computes it) continued over n more bytes; start with 0.
uint32_t crc32_update(uint32_t crc, const uint8_t* p, size_t n);

}  // namespace zsim

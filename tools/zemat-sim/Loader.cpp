// The module loader's phases, image bookkeeping and faults, and the loader behaviour of the "LD" CU.
#include "zemat-sim/Loader.h"

#include "zemat-sim/CuBehaviour.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>

namespace zsim {
namespace {

std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}

std::chrono::milliseconds ms(int n) { return std::chrono::milliseconds(n); }

// Every frame on the "LD" CU is image data for the module's loader.
class LoaderBehaviour : public CuBehaviour {
 public:
  void on_frame(CuContext& cx, const uint8_t* data, size_t n) override {
    ModuleLoader* loader = cx.loader();
    if (!loader) return;
    if (loader->on_image(data, n, Clock::now())) {
      cx.log("loader fault: dropping the link after " + std::to_string(n) + "-byte frame");
      cx.drop_link();
    }
  }
  bool withholds_credit(CuContext& cx) override { return cx.loader() && cx.loader()->withholds_credit(); }
};

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* p, size_t n) {
  static const std::array<uint32_t, 256> table = make_crc_table();
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::optional<std::string> ModuleLoader::on_instruction(const std::string& text, Clock::time_point now) {
  if (text == "LOAD:RSET") {
    armed_ = true;
    reset_at_ = last_frame_ = now;
    bytes_ = frames_ = 0;
    min_frame_ = max_frame_ = 0;
    crc_ = 0;
    error_ = settings.error_at == 0 ? settings.error_code : 0;
    dropped_ = false;
    image_.clear();
    ++resets_;
    if (settings.no_handshake) return std::string();
    return std::string(settings.bad_handshake ? "OK LOAD:RSET" : "RA LOAD:RSET");
  }
  if (text == "LOAD:STAT?") {
    auto [phase, code] = status(now);
    return "LOAD:STAT " + std::to_string(phase) + "," + std::to_string(code);
  }
  return std::nullopt;
}

bool ModuleLoader::on_image(const uint8_t* p, size_t n, Clock::time_point now) {
  bytes_ += static_cast<long>(n);
  ++frames_;
  min_frame_ = frames_ == 1 ? n : std::min(min_frame_, n);
  max_frame_ = std::max(max_frame_, n);
  crc_ = crc32_update(crc_, p, n);
  if (image_.size() + n <= kKeepMax) image_.insert(image_.end(), p, p + n);
  last_frame_ = now;
  if (settings.error_at > 0 && bytes_ >= settings.error_at && !error_) error_ = settings.error_code;
  if (settings.drop_at >= 0 && bytes_ >= settings.drop_at && !dropped_) {
    dropped_ = true;
    return true;
  }
  return false;
}

std::pair<int, int> ModuleLoader::status(Clock::time_point now) const {
  if (error_) return {4, error_};
  if (!armed_) return {0, 0};
  const auto erased = reset_at_ + ms(settings.erase_ms);
  if (now < erased) return {1, 0};
  const auto image_end = std::max(erased, last_frame_) + ms(settings.end_idle_ms);
  if (now < image_end) return {2, 0};
  if (frames_ > 0 && now < image_end + ms(settings.verify_ms)) return {3, 0};
  return {0, 0};
}

std::string ModuleLoader::status_json(Clock::time_point now) const {
  auto [phase, code] = status(now);
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", crc_);
  nlohmann::json j = {{"phase", phase},
                      {"code", code},
                      {"bytes", bytes_},
                      {"frames", frames_},
                      {"min_frame", min_frame_},
                      {"max_frame", max_frame_},
                      {"crc32", std::string(crc)},
                      {"resets", resets_},
                      {"kept", image_.size() == static_cast<size_t>(bytes_)}};
  return j.dump();
}

bool ModuleLoader::save(const std::string& path, std::string& error) const {
  if (image_.size() != static_cast<size_t>(bytes_)) {
    error = "the image is larger than the " + std::to_string(kKeepMax) + " bytes kept";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
  if (!out.good()) {
    error = "cannot write \"" + path + "\"";
    return false;
  }
  return true;
}

ModuleLoader& Loaders::of(int module_id, const LoaderSettings& settings) {
  auto& slot = by_module_[module_id];
  if (!slot) slot = std::make_unique<ModuleLoader>(settings);
  return *slot;
}

ModuleLoader* Loaders::find(int module_id) {
  auto it = by_module_.find(module_id);
  return it == by_module_.end() ? nullptr : it->second.get();
}

std::unique_ptr<CuBehaviour> make_loader_behaviour() { return std::make_unique<LoaderBehaviour>(); }

}  // namespace zsim

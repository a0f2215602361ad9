// Fuzz target of the simulator's JSON configuration: any text is a configuration or a ConfigError with
// a message, never another exception or a crash; an accepted configuration keeps the module limits.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zemat-sim/SimConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  zsim::SimConfig cfg;
  try {
    cfg = zsim::parse_config(text);
  } catch (const zsim::ConfigError& e) {
    if (!*e.what()) std::abort();  // an error says what is wrong
    return 0;
  }
  for (const zsim::ModuleConfig& m : cfg.modules) {
    try {
      zsim::validate_module(m);  // what the loader accepted stays valid when checked again
    } catch (const zsim::ConfigError&) {
      std::abort();
    }
    for (const zsim::CuConfig& cu : m.cus) (void)zsim::default_behaviour(cu.name);
  }
  return 0;
}

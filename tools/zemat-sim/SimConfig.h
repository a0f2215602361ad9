// The simulated instrument's configuration: modules, CUs, console and fault schedule, loaded from JSON
// or built as the default demo instrument.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zsim {

// A configuration that cannot be used (bad JSON, unknown key, value out of range).
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A module's firmware loader (the "loader" behaviour of its "LD" CU): how long the flash phases take
// and the faults it plays. Byte counts below 0 switch a fault off.
struct LoaderSettings {
  int erase_ms = 1500;         // "Erasing Flash" after "LOAD:RSET"
  int end_idle_ms = 500;       // no image frame for this long ends the image ("Programming" until then)
  int verify_ms = 1500;        // "Verifying", then "Ready"
  bool no_handshake = false;   // "LOAD:RSET" gets no reply
  bool bad_handshake = false;  // it gets a reply without "RA" in front
  long error_at = -1;          // from this many image bytes on: phase 4 with error_code
  int error_code = 7;
  long starve_at = -1;  // from this many image bytes on: no send credits back on the LD CU
  long drop_at = -1;    // at this many image bytes: the data link is dropped
};

struct CuConfig {
  std::string name;
  std::string owner;  // empty in a configuration: the module type
  std::string description;
  int out_count = 4;
  int out_size = 128;
  int in_count = 4;
  int in_size = 128;
  std::string behaviour;  // empty: derived from the name
  std::map<std::string, std::string> replies;
  bool refuse_open = false;
  int grant_after_ms = 0;
  // Used by the "stream" behaviour: messages sent right after the open (0 = until closed).
  int stream_count = 0;
  int stream_size = 64;
  double stream_rate = 0;
  // Data behaviours: one message of the CU's kind every period_ms while the CU is open (0: only on "emit").
  int period_ms = 0;
  LoaderSettings loader;  // the "loader" behaviour only
};

struct ModuleConfig {
  std::string type;
  std::string serial;
  int list = 1;
  std::vector<CuConfig> cus;
  int id = 0;  // stable identity while the simulator runs (modules come and go)
};

struct ScheduledCommand {
  int at_ms = 0;
  std::string command;
};

struct SimConfig {
  std::string greeting = "Zent Portlink PL-1 console\r\n> ";
  std::string reject_setting;
  std::optional<std::array<int, 3>> redcard_sockets;
  int keepalive_ms = 2000;
  bool refuse_open = false;
  std::vector<ModuleConfig> modules;
  std::vector<ScheduledCommand> schedule;
};

// The behaviour a CU gets when its configuration names none.
std::string default_behaviour(const std::string& cu_name);

// Parses and checks a configuration; throws ConfigError with a message naming the offending key.
SimConfig parse_config(const std::string& json_text);
SimConfig load_config_file(const std::string& path);

// The demo instrument played without --config.
SimConfig demo_config();

// Checks limits that every configuration (also one changed at run time) must keep.
void validate_module(const ModuleConfig& m);
CuConfig make_cu(const std::string& name, const std::string& owner, const std::string& description, int in_count);

constexpr int kMaxModulesPerList = 32;
constexpr int kMaxCusPerModule = 16;
constexpr int kMaxModuleRecord = 36;
constexpr int kMaxCuRecord = 60;

}  // namespace zsim

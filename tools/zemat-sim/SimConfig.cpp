// Loading, checking and defaults of the simulator's configuration (JSON through nlohmann-json).
#include "zemat-sim/SimConfig.h"

#include "zemat-sim/CuBehaviour.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace zsim {
namespace {

using nlohmann::json;

void check_keys(const json& obj, const std::set<std::string>& allowed, const std::string& where) {
  if (!obj.is_object()) throw ConfigError(where + ": expected an object");
  for (auto it = obj.begin(); it != obj.end(); ++it)
    if (!allowed.count(it.key())) throw ConfigError("unknown key \"" + it.key() + "\" in " + where);
}

template <typename T>
T get(const json& obj, const char* key, const T& fallback, const std::string& where) {
  auto it = obj.find(key);
  if (it == obj.end() || it->is_null()) return fallback;
  try {
    return it->get<T>();
  } catch (const json::exception&) {
    throw ConfigError("key \"" + std::string(key) + "\" in " + where + " has the wrong type");
  }
}

int get_int(const json& obj, const char* key, int fallback, int lo, int hi, const std::string& where) {
  auto it = obj.find(key);
  if (it != obj.end() && !it->is_null() && !it->is_number_integer())
    throw ConfigError("key \"" + std::string(key) + "\" in " + where + " must be an integer");
  int v = get<int>(obj, key, fallback, where);
  if (v < lo || v > hi)
    throw ConfigError("key \"" + std::string(key) + "\" in " + where + " must lie in " + std::to_string(lo) + ".." +
                      std::to_string(hi));
  return v;
}

long get_count(const json& obj, const char* key, long fallback, const std::string& where) {
  auto it = obj.find(key);
  if (it == obj.end() || it->is_null()) return fallback;
  if (!it->is_number_integer() || it->get<long long>() < -1 || it->get<long long>() > 0x7FFFFFFFLL)
    throw ConfigError("key \"" + std::string(key) + "\" in " + where + " must be a byte count (-1: off)");
  return static_cast<long>(it->get<long long>());
}

LoaderSettings parse_loader(const json& j, const std::string& where) {
  check_keys(j,
             {"erase_ms", "end_idle_ms", "verify_ms", "no_handshake", "bad_handshake", "error_at", "error_code",
              "starve_at", "drop_at"},
             where);
  LoaderSettings s;
  s.erase_ms = get_int(j, "erase_ms", s.erase_ms, 0, 600000, where);
  s.end_idle_ms = get_int(j, "end_idle_ms", s.end_idle_ms, 1, 600000, where);
  s.verify_ms = get_int(j, "verify_ms", s.verify_ms, 0, 600000, where);
  s.no_handshake = get<bool>(j, "no_handshake", false, where);
  s.bad_handshake = get<bool>(j, "bad_handshake", false, where);
  s.error_at = get_count(j, "error_at", -1, where);
  s.error_code = get_int(j, "error_code", s.error_code, 1, 65535, where);
  s.starve_at = get_count(j, "starve_at", -1, where);
  s.drop_at = get_count(j, "drop_at", -1, where);
  return s;
}

CuConfig parse_cu(const json& j, const std::string& where) {
  check_keys(j,
             {"name", "owner", "description", "out_count", "out_size", "in_count", "in_size", "behaviour", "replies",
              "refuse_open", "grant_after_ms", "stream_count", "stream_size", "stream_rate", "period_ms", "loader"},
             where);
  CuConfig c;
  c.name = get<std::string>(j, "name", "", where);
  if (c.name.empty()) throw ConfigError(where + ": \"name\" is required");
  c.owner = get<std::string>(j, "owner", c.owner, where);
  c.description = get<std::string>(j, "description", c.name, where);
  c.out_count = get_int(j, "out_count", c.out_count, 0, 255, where);
  c.out_size = get_int(j, "out_size", c.out_size, 0, 65535, where);
  c.in_count = get_int(j, "in_count", c.in_count, 0, 255, where);
  c.in_size = get_int(j, "in_size", c.in_size, 0, 65535, where);
  c.behaviour = get<std::string>(j, "behaviour", "", where);
  if (!c.behaviour.empty() && !behaviour_known(c.behaviour))
    throw ConfigError(where + ": unknown behaviour \"" + c.behaviour + "\"");
  c.replies = get<std::map<std::string, std::string>>(j, "replies", {}, where);
  c.refuse_open = get<bool>(j, "refuse_open", false, where);
  c.grant_after_ms = get_int(j, "grant_after_ms", 0, 0, 3600000, where);
  c.stream_count = get_int(j, "stream_count", 0, 0, 2000000000, where);
  c.stream_size = get_int(j, "stream_size", c.stream_size, 1, 4494, where);
  c.stream_rate = get<double>(j, "stream_rate", 0.0, where);
  if (c.stream_rate < 0) throw ConfigError("key \"stream_rate\" in " + where + " must not be negative");
  c.period_ms = get_int(j, "period_ms", 0, 0, 86400000, where);
  if (auto l = j.find("loader"); l != j.end() && !l->is_null()) c.loader = parse_loader(*l, where + ".loader");
  std::string behaviour = c.behaviour.empty() ? default_behaviour(c.name) : c.behaviour;
  if (c.period_ms > 0 && !behaviour_produces_data(behaviour))
    throw ConfigError("key \"period_ms\" in " + where + ": behaviour \"" + behaviour + "\" produces no data");
  return c;
}

ModuleConfig parse_module(const json& j, const std::string& where) {
  check_keys(j, {"type", "serial", "list", "cus"}, where);
  ModuleConfig m;
  m.type = get<std::string>(j, "type", "", where);
  m.serial = get<std::string>(j, "serial", "", where);
  m.list = get_int(j, "list", 1, 1, 2, where);
  auto cus = j.find("cus");
  if (cus != j.end() && !cus->is_null()) {
    if (!cus->is_array()) throw ConfigError("key \"cus\" in " + where + " must be an array");
    for (size_t i = 0; i < cus->size(); ++i)
      m.cus.push_back(parse_cu((*cus)[i], where + ".cus[" + std::to_string(i) + "]"));
    // The open request names a CU by its texts only: the module type as default owner keeps
    // the CUs of different modules apart.
    for (auto& c : m.cus)
      if (c.owner.empty()) c.owner = m.type.substr(0, 16);
  }
  try {
    validate_module(m);
  } catch (const ConfigError& e) {
    throw ConfigError(where + ": " + e.what());
  }
  return m;
}

void parse_schedule(const json& j, SimConfig& cfg) {
  if (!j.is_array()) throw ConfigError("key \"schedule\" must be an array");
  for (size_t i = 0; i < j.size(); ++i) {
    std::string where = "schedule[" + std::to_string(i) + "]";
    check_keys(j[i], {"at_ms", "command"}, where);
    ScheduledCommand s;
    s.at_ms = get_int(j[i], "at_ms", 0, 0, 86400000, where);
    s.command = get<std::string>(j[i], "command", "", where);
    if (s.command.empty()) throw ConfigError(where + ": \"command\" is required");
    cfg.schedule.push_back(s);
  }
  std::stable_sort(cfg.schedule.begin(), cfg.schedule.end(),
                   [](const auto& a, const auto& b) { return a.at_ms < b.at_ms; });
}

void parse_redcard(const json& root, SimConfig& cfg) {
  auto it = root.find("redcard_sockets");
  if (it == root.end() || it->is_null()) return;
  if (!it->is_array() || it->size() != 3)
    throw ConfigError("key \"redcard_sockets\" must be null or an array of three socket numbers");
  std::array<int, 3> s{};
  for (int i = 0; i < 3; ++i) {
    if (!(*it)[i].is_number_integer() || (*it)[i].get<int>() < 0 || (*it)[i].get<int>() > 0xFFFC)
      throw ConfigError("key \"redcard_sockets\": socket numbers must lie in 0..65532");
    s[i] = (*it)[i].get<int>();
  }
  if (s[0] == s[1] || s[1] == s[2] || s[0] == s[2])
    throw ConfigError("key \"redcard_sockets\": the three sockets must differ");
  cfg.redcard_sockets = s;
}

void parse_modules(const json& root, SimConfig& cfg) {
  auto it = root.find("modules");
  if (it == root.end() || it->is_null()) {
    cfg.modules = demo_config().modules;  // a configuration about other things keeps the demo modules
    return;
  }
  if (!it->is_array()) throw ConfigError("key \"modules\" must be an array");
  int per_list[3] = {0, 0, 0};
  for (size_t i = 0; i < it->size(); ++i) {
    ModuleConfig m = parse_module((*it)[i], "modules[" + std::to_string(i) + "]");
    if (++per_list[m.list] > kMaxModulesPerList)
      throw ConfigError("list " + std::to_string(m.list) + " holds more than 32 modules");
    m.id = static_cast<int>(i) + 1;
    cfg.modules.push_back(std::move(m));
  }
}

}  // namespace

std::string default_behaviour(const std::string& cu_name) {
  static const std::map<std::string, std::string> by_name{
      {"IN", "instruction"},   {"EV", "event"},    {"CS", "cs"},        {"TR", "trace"},
      {"MO", "monitor"},       {"DI", "monitor"},  {"LI", "monitor"},   {"RD", "rawdata"},
      {"MS", "rawdata"},       {"AR", "analysis"}, {"RAWD", "nucleus"}, {"RDSCANMON", "nucleus"},
      {"RDSIGMON", "nucleus"}, {"DD", "dd"},       {"PR", "canslave"},  {"CS_IO", "canslave"},
      {"LD", "loader"}};
  std::string n = cu_name;
  std::transform(n.begin(), n.end(), n.begin(), ::toupper);
  auto it = by_name.find(n);
  return it != by_name.end() ? it->second : "silent";
}

void validate_module(const ModuleConfig& m) {
  if (m.type.empty()) throw ConfigError("\"type\" is required");
  if (m.type.find('\0') != std::string::npos || m.serial.find('\0') != std::string::npos)
    throw ConfigError("type and serial must not contain zero bytes");
  if (m.type.size() + m.serial.size() + 3 > kMaxModuleRecord)
    throw ConfigError("type and serial are too long for a 36-byte module record");
  if (m.cus.size() > kMaxCusPerModule) throw ConfigError("more than 16 CUs");
  for (const auto& c : m.cus)
    if (c.owner.size() + c.description.size() + c.name.size() + 4 + 6 > kMaxCuRecord)
      throw ConfigError("CU \"" + c.name +
                        "\": owner, description and name are too long "
                        "for a 60-byte descriptor record");
}

SimConfig parse_config(const std::string& json_text) {
  json root;
  try {
    root = json::parse(json_text, nullptr, true, true);  // comments allowed
  } catch (const json::exception& e) {                   // also a number no double holds (1e999)
    throw ConfigError(std::string("not valid JSON: ") + e.what());
  }
  check_keys(root,
             {"greeting", "reject_setting", "redcard_sockets", "keepalive_ms", "refuse_open", "modules", "schedule"},
             "the configuration");
  SimConfig cfg;
  cfg.greeting = get<std::string>(root, "greeting", cfg.greeting, "the configuration");
  cfg.reject_setting = get<std::string>(root, "reject_setting", "", "the configuration");
  cfg.keepalive_ms = get_int(root, "keepalive_ms", cfg.keepalive_ms, 0, 3600000, "the configuration");
  cfg.refuse_open = get<bool>(root, "refuse_open", false, "the configuration");
  parse_redcard(root, cfg);
  parse_modules(root, cfg);
  if (auto s = root.find("schedule"); s != root.end() && !s->is_null()) parse_schedule(*s, cfg);
  return cfg;
}

SimConfig load_config_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ConfigError("cannot read configuration file \"" + path + "\"");
  std::ostringstream text;
  text << in.rdbuf();
  return parse_config(text.str());
}

CuConfig make_cu(const std::string& name, const std::string& owner, const std::string& description, int in_count) {
  CuConfig c;
  c.name = name;
  c.owner = owner;
  c.description = description;
  c.in_count = in_count;
  c.in_size = in_count ? 128 : 0;
  return c;
}

// A data CU of the demo instrument: out_count buffers of out_size bytes, a message every period_ms.
static CuConfig data_cu(const std::string& name, const std::string& owner, const std::string& description, int out_size,
                        int period_ms) {
  CuConfig c = make_cu(name, owner, description, 0);
  c.out_count = 8;
  c.out_size = out_size;
  c.period_ms = period_ms;
  return c;
}

SimConfig demo_config() {
  SimConfig cfg;
  ModuleConfig main{"MAIN-1", "000123", 1, {}, 1};
  main.cus = {make_cu("IN", "MAIN", "INSTRUCT", 4),      make_cu("EV", "MAIN", "EVENTS", 0),
              make_cu("TR", "MAIN", "TRACE", 0),         make_cu("MO", "MAIN", "MONITOR", 2),
              make_cu("LD", "MAIN", "LOADER", 4),        make_cu("CS", "MAIN", "CANSLAVE", 8),
              data_cu("DI", "MAIN", "DIAGNOSE", 128, 0), data_cu("LI", "MAIN", "LIST", 128, 0)};
  main.cus[0].replies = {{"*IDN?", "MAIN-1,000123"}};
  main.cus[1].period_ms = 5000;
  main.cus[2].period_ms = 1000;
  main.cus[2].in_count = 2;  // the trace window sends instructions too
  main.cus[2].in_size = 128;
  main.cus[3].period_ms = 1000;
  main.cus[4].in_size = 1000;  // one firmware chunk per frame
  ModuleConfig pump{
      "PUMP-2", "000456", 1, {make_cu("IN", "PUMP", "INSTRUCT", 4), make_cu("EV", "PUMP", "EVENTS", 0)}, 2};
  ModuleConfig det{
      "DET-3",
      "000789",
      1,
      {make_cu("IN", "DET", "INSTRUCT", 4), make_cu("EV", "DET", "EVENTS", 0), make_cu("RD", "DET", "RAWDATA", 1),
       data_cu("MS", "DET", "SPECTRA", 128, 1000), data_cu("AR", "DET", "ANALYSIS", 1024, 1000),
       data_cu("DD", "DET", "DSPSPECIAL", 1024, 1000), data_cu("RAWD", "DET", "NUCLEUS", 256, 1000),
       data_cu("RDSCANMON", "DET", "SCANMON", 256, 0), data_cu("RDSIGMON", "DET", "SIGMON", 256, 0)},
      3};
  det.cus[2].out_count = 16;
  det.cus[2].out_size = 4496;
  ModuleConfig valve{"VALVE-S1",
                     "200001",
                     2,
                     {make_cu("IN", "VALVE", "INSTRUCT", 2), make_cu("EV", "VALVE", "EVENTS", 0),
                      make_cu("PR", "VALVE", "SLAVEIO", 2)},
                     4};
  ModuleConfig temp{
      "TEMP-S2", "200002", 2, {make_cu("IN", "TEMP", "INSTRUCT", 2), make_cu("CS_IO", "TEMP", "SLAVEIO", 2)}, 5};
  cfg.modules = {main, pump, det, valve, temp};
  return cfg;
}

}  // namespace zsim

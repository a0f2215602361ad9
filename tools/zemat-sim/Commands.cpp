// The simulator's control commands: one text line in, one reply line out ("ok", "ok <data>" or
// "error: <text>"), the same from standard input, the control port and the schedule.
#include "zemat-sim/Simulator.h"

#include "zemat-sim/DataBehaviours.h"

#include <nlohmann/json.hpp>

#include <termios.h>
#include <algorithm>
#include <charconv>
#include <ctime>
#include <sstream>

namespace zsim {
namespace {

std::vector<std::string> split_words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

bool parse_long(const std::string& s, long lo, long hi, long& out) {
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, out);
  return ec == std::errc() && p == end && out >= lo && out <= hi;
}

bool parse_double(const std::string& s, double& out) {
  std::istringstream in(s);
  in >> out;
  return in && in.eof() && out >= 0;
}

bool iequals(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ::toupper(x) == ::toupper(y); });
}

std::string error(const std::string& text) { return "error: " + text; }

}  // namespace

std::string Simulator::execute(const std::string& line) {
  std::vector<std::string> a = split_words(line);
  if (a.empty()) return error("empty command");
  const std::string& c = a[0];
  if (c == "status") return cmd_status();
  if (c == "remove-module") return cmd_remove_module(a);
  if (c == "add-module") return cmd_add_module(a);
  if (c == "event") return cmd_event(a);
  if (c == "config-event") return cmd_config_event(a);
  if (c == "stream") return cmd_stream(a);
  if (c == "text-stream") return cmd_text_stream(a);
  if (c == "emit") return cmd_emit(a);
  if (c == "grant") return cmd_grant(a);
  if (c == "refuse-open") return cmd_refuse(a);
  if (c == "delay-open") return cmd_delay_open(a);
  if (c == "fault") return cmd_fault(a);
  if (c == "loader") return cmd_loader(a);
  if (c == "quit") {
    quit_ = true;
    return "ok";
  }
  return error("unknown command \"" + c + "\"");
}

std::string Simulator::cmd_status() {
  nlohmann::json open = nlohmann::json::array();
  if (session_)
    for (const OpenCu* cu : session_->open_list())
      open.push_back({{"module", cu->type}, {"cu", cu->cfg.name}, {"socket", cu->sock}, {"slave", cu->slave}});
  nlohmann::json modules = nlohmann::json::array();
  for (const ModuleConfig* m : ordered_modules()) modules.push_back(m->type);
  bool connected = pty_ ? session_ && session_->in_sync() : conn_.valid();
  nlohmann::json s = {{"connected", connected},
                      {"connections", stats_.connections},
                      {"redcards", stats_.redcards},
                      {"goodbyes", stats_.goodbyes},
                      {"keepalives", stats_.keepalives},
                      {"frames_in", stats_.frames_in},
                      {"frames_out", stats_.frames_out},
                      {"open", open},
                      {"credit_violations", stats_.credit_violations},
                      {"instructions", stats_.instructions},
                      {"bad_frames", stats_.bad_frames},
                      {"unknown_sockets", stats_.unknown_sockets},
                      {"modules", modules},
                      {"console_lines", console_lines_},
                      {"refuse_open", refuse_open_},
                      {"open_delay_ms", open_delay_ms_},
                      {"held_opens", session_ ? session_->held_opens() : 0}};
  return "ok " + s.dump();
}

std::vector<ModuleConfig*> Simulator::ordered_modules() {
  std::vector<ModuleConfig*> v;
  for (int list : {1, 2})
    for (auto& m : cfg_.modules)
      if (m.list == list) v.push_back(&m);
  return v;
}

ModuleConfig* Simulator::find_module(const std::string& what) {
  std::vector<ModuleConfig*> mods = ordered_modules();
  long i = 0;
  if (parse_long(what, 1, static_cast<long>(mods.size()), i)) return mods[static_cast<size_t>(i - 1)];
  for (ModuleConfig* m : mods)
    if (iequals(m->type, what)) return m;
  return nullptr;
}

std::optional<size_t> Simulator::find_cu(const ModuleConfig& m, const std::string& what) {
  long i = 0;
  if (parse_long(what, 1, static_cast<long>(m.cus.size()), i)) return static_cast<size_t>(i - 1);
  for (size_t k = 0; k < m.cus.size(); ++k)
    if (iequals(m.cus[k].name, what)) return k;
  return std::nullopt;
}

OpenCu* Simulator::find_open_cu(const std::string& module, const std::string& cu, std::string& err) {
  ModuleConfig* m = find_module(module);
  if (!m) {
    err = error("no module \"" + module + "\"");
    return nullptr;
  }
  std::optional<size_t> k = find_cu(*m, cu);
  if (!k) {
    err = error("module " + m->type + " has no CU \"" + cu + "\"");
    return nullptr;
  }
  OpenCu* open = session_ ? session_->find_open(m->id, *k) : nullptr;
  if (!open) err = error("CU " + m->type + "/" + m->cus[*k].name + " is not open");
  return open;
}

std::string Simulator::cmd_remove_module(const std::vector<std::string>& a) {
  long code = 5;
  if (a.size() < 2 || a.size() > 3 || (a.size() == 3 && !parse_long(a[2], 0, 65535, code)))
    return error("usage: remove-module MODULE [CODE]");
  ModuleConfig* m = find_module(a[1]);
  if (!m) return error("no module \"" + a[1] + "\"");
  std::string type = m->type;
  int id = m->id;
  if (session_) session_->close_module(id);
  std::erase_if(cfg_.modules, [id](const ModuleConfig& x) { return x.id == id; });
  log("module " + type + " removed");
  if (session_) session_->send_config_event(static_cast<unsigned>(code));
  return "ok";
}

std::string Simulator::cmd_add_module(const std::vector<std::string>& a) {
  long list = 1, code = 7;
  if (a.size() < 3 || a.size() > 5 || (a.size() >= 4 && !parse_long(a[3], 1, 2, list)) ||
      (a.size() == 5 && !parse_long(a[4], 0, 65535, code)))
    return error("usage: add-module TYPE SERIAL [LIST] [CODE]");
  ModuleConfig m{a[1], a[2], static_cast<int>(list), {}, next_module_id_};
  std::string owner = m.type.substr(0, 16);
  m.cus = {make_cu("IN", owner, "INSTRUCT", 4), make_cu("EV", owner, "EVENTS", 0)};
  try {
    validate_module(m);
  } catch (const ConfigError& e) {
    return error(e.what());
  }
  auto in_list =
      std::count_if(cfg_.modules.begin(), cfg_.modules.end(), [&](const ModuleConfig& x) { return x.list == m.list; });
  if (in_list >= kMaxModulesPerList) return error("list " + std::to_string(list) + " already holds 32 modules");
  ++next_module_id_;
  cfg_.modules.push_back(m);
  log("module " + m.type + " added to list " + std::to_string(list));
  if (session_) session_->send_config_event(static_cast<unsigned>(code));
  return "ok";
}

std::string Simulator::cmd_event(const std::vector<std::string>& a) {
  long code = 0;
  if (a.size() != 4 || !parse_long(a[3], 0, 65535, code)) return error("usage: event MODULE CU CODE");
  std::string err;
  OpenCu* cu = find_open_cu(a[1], a[2], err);
  if (!cu) return err;
  cu->send(make_event_text(static_cast<unsigned>(code), static_cast<long long>(std::time(nullptr)), cu->type));
  return "ok";
}

std::string Simulator::cmd_config_event(const std::vector<std::string>& a) {
  long code = 0;
  if (a.size() != 2 || !parse_long(a[1], 0, 65535, code)) return error("usage: config-event CODE");
  if (!session_ || !session_->send_config_event(static_cast<unsigned>(code))) return error("not connected");
  return "ok";
}

std::string Simulator::cmd_stream(const std::vector<std::string>& a) {
  long count = 0, size = 0;
  double rate = 0;
  if (a.size() < 5 || a.size() > 6 || !parse_long(a[3], 0, 2000000000L, count) ||
      !parse_long(a[4], 1, static_cast<long>(Z_PAYLOAD_MAX), size) || (a.size() == 6 && !parse_double(a[5], rate)))
    return error("usage: stream MODULE CU COUNT SIZE [RATE] (SIZE 1..4496, RATE >= 0)");
  std::string err;
  OpenCu* cu = find_open_cu(a[1], a[2], err);
  if (!cu) return err;
  if (cu->slave && size > static_cast<long>(Z_PAYLOAD_MAX) - 2)
    return error("a slave CU's messages carry 2 bytes of slave socket: SIZE at most 4494");
  session_->start_stream(*cu, count, static_cast<int>(size), rate);
  return "ok";
}

std::string Simulator::cmd_text_stream(const std::vector<std::string>& a) {
  long count = 0;
  double rate = 0;
  if (a.size() < 4 || a.size() > 5 || !parse_long(a[3], 0, 2000000000L, count) ||
      (a.size() == 5 && !parse_double(a[4], rate)))
    return error("usage: text-stream MODULE CU COUNT [RATE] (RATE >= 0)");
  std::string err;
  OpenCu* cu = find_open_cu(a[1], a[2], err);
  if (!cu) return err;
  session_->start_stream(*cu, count, 0, rate, true);
  return "ok";
}

std::string Simulator::cmd_emit(const std::vector<std::string>& a) {
  long n = 1;
  if (a.size() < 3 || a.size() > 4 || (a.size() == 4 && !parse_long(a[3], 1, DataBehaviour::kMaxOwed, n)))
    return error("usage: emit MODULE CU [N] (N 1..1000000)");
  std::string err;
  OpenCu* cu = find_open_cu(a[1], a[2], err);
  if (!cu) return err;
  if (!cu->behaviour->on_emit(*cu, n))
    return error("CU " + cu->type + "/" + cu->cfg.name + " (behaviour " + cu->behaviour_name + ") produces no data");
  return "ok";
}

std::string Simulator::cmd_grant(const std::vector<std::string>& a) {
  long n = 0;
  if (a.size() != 4 || !parse_long(a[3], 1, 1000000, n)) return error("usage: grant MODULE CU N (N 1..1000000)");
  std::string err;
  OpenCu* cu = find_open_cu(a[1], a[2], err);
  if (!cu) return err;
  if (cu->slave) return error("slave CUs have no credits");
  session_->grant(*cu, static_cast<int>(n));
  return "ok";
}

std::string Simulator::cmd_refuse(const std::vector<std::string>& a) {
  if (a.size() != 2 || (a[1] != "on" && a[1] != "off")) return error("usage: refuse-open on|off");
  refuse_open_ = a[1] == "on";
  if (session_) session_->set_refuse_open(refuse_open_);
  return "ok";
}

std::string Simulator::cmd_delay_open(const std::vector<std::string>& a) {
  long ms = 0;
  if (a.size() != 2 || !parse_long(a[1], 0, 600000, ms)) return error("usage: delay-open MS (0..600000)");
  open_delay_ms_ = static_cast<int>(ms);
  if (session_) session_->set_open_delay(open_delay_ms_);
  return "ok";
}

std::string Simulator::cmd_fault(const std::vector<std::string>& a) {
  if (a.size() < 2) return error("usage: fault garbage N | split | oversized | short | silence MS | drop");
  if (!link_up() || !session_) return error("not connected");
  const std::string& f = a[1];
  long n = 0;
  if (f == "garbage" && a.size() == 3 && parse_long(a[2], 1, 1000000, n)) {
    // Starts with FF FF: a length no frame can have; the pattern never forms a red card.
    static const uint8_t pattern[4] = {0xFF, 0xFE, 0xA5, 0x5A};
    Bytes g(static_cast<size_t>(n));
    for (size_t i = 0; i < g.size(); ++i) g[i] = pattern[i % 4];
    write(g, false);
  } else if (f == "split" && a.size() == 2) {
    session_->split_next();
  } else if (f == "oversized" && a.size() == 2) {
    Bytes big{0x11, 0xF8, 0x00, 0x00};  // length 4600
    for (size_t i = 4; i < 4600; ++i) big.push_back(static_cast<uint8_t>(i));
    write(big, false);
  } else if (f == "short" && a.size() == 2) {
    write(Bytes{0x00, 0x02}, false);
  } else if (f == "silence" && a.size() == 3 && parse_long(a[2], 1, 3600000, n)) {
    silence_until_ = Clock::now() + std::chrono::milliseconds(n);
  } else if (f == "drop" && a.size() == 2) {
    end_data("dropped by the \"fault drop\" command");
  } else {
    return error("usage: fault garbage N | split | oversized | short | silence MS | drop");
  }
  return "ok";
}

ModuleLoader* Simulator::loader_for(const std::string& module, std::string& err) {
  ModuleConfig* m = find_module(module);
  if (!m) {
    err = error("no module \"" + module + "\"");
    return nullptr;
  }
  for (const CuConfig& c : m->cus) {
    std::string b = c.behaviour.empty() ? default_behaviour(c.name) : c.behaviour;
    if (iequals(b, "loader")) return &loaders_.of(m->id, c.loader);
  }
  err = error("module " + m->type + " has no loader CU");
  return nullptr;
}

std::string Simulator::cmd_loader(const std::vector<std::string>& a) {
  static const char* const usage =
      "usage: loader MODULE [save PATH | timing ERASE_MS END_IDLE_MS VERIFY_MS | fault none | fault no-handshake | "
      "fault bad-handshake | fault error CODE AT | fault starve AT | fault drop AT]";
  if (a.size() < 2) return error(usage);
  std::string err;
  ModuleLoader* loader = loader_for(a[1], err);
  if (!loader) return err;
  const std::string what = a.size() > 2 ? a[2] : "";
  const std::string kind = a.size() > 3 ? a[3] : "";
  LoaderSettings& s = loader->settings;
  long x = 0, y = 0, z = 0;
  if (a.size() == 2) return "ok " + loader->status_json(Clock::now());
  if (what == "save" && a.size() == 4) {
    if (!loader->save(a[3], err)) return error(err);
  } else if (what == "timing" && a.size() == 6 && parse_long(a[3], 0, 600000, x) && parse_long(a[4], 1, 600000, y) &&
             parse_long(a[5], 0, 600000, z)) {
    s.erase_ms = static_cast<int>(x), s.end_idle_ms = static_cast<int>(y), s.verify_ms = static_cast<int>(z);
  } else if (what == "fault" && a.size() == 4 && kind == "none") {
    LoaderSettings fresh;
    fresh.erase_ms = s.erase_ms, fresh.end_idle_ms = s.end_idle_ms, fresh.verify_ms = s.verify_ms;
    s = fresh;
  } else if (what == "fault" && a.size() == 4 && (kind == "no-handshake" || kind == "bad-handshake")) {
    (kind == "no-handshake" ? s.no_handshake : s.bad_handshake) = true;
  } else if (what == "fault" && a.size() == 6 && kind == "error" && parse_long(a[4], 1, 65535, x) &&
             parse_long(a[5], 0, 0x7FFFFFFF, y)) {
    s.error_code = static_cast<int>(x), s.error_at = y;
  } else if (what == "fault" && a.size() == 5 && (kind == "starve" || kind == "drop") &&
             parse_long(a[4], 0, 0x7FFFFFFF, x)) {
    (kind == "starve" ? s.starve_at : s.drop_at) = x;
  } else {
    return error(usage);
  }
  return "ok";
}

}  // namespace zsim

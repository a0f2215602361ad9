// zemat-sim: plays a whole Zemat instrument on loopback or a pseudo-terminal (see README.md).
#include "zemat-sim/Simulator.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* kUsage =
    "usage: zemat-sim [--config FILE] [--address ADDR] [--telnet-port N] [--data-port N]\n"
    "                 [--control-port N] [--no-telnet] [--serial] [--ports-file PATH] [--quiet] [--quit-on-eof]\n"
    "       zemat-sim --help | --version\n";

int usage(const std::string& why) {
  std::fprintf(stderr, "zemat-sim: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool parse_port(const char* s, int& out) {
  const char* end = s + std::strlen(s);
  auto [p, ec] = std::from_chars(s, end, out);
  return ec == std::errc() && p == end && out >= 0 && out <= 65535;
}

// Returns 0 when the options are good, else the exit code.
int parse_args(int argc, char** argv, zsim::Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--no-telnet")
      o.no_telnet = true;
    else if (a == "--serial")
      o.serial = true;
    else if (a == "--quiet")
      o.quiet = true;
    else if (a == "--quit-on-eof")
      o.quit_on_eof = true;
    else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return -1;
    } else if (a == "--version") {
      std::printf("zemat-sim %s\n", MORVENT_VERSION);
      return -1;
    } else if (a == "--config" || a == "--address" || a == "--ports-file") {
      const char* v = value();
      if (!v) return usage(a + " needs a value");
      (a == "--config" ? o.config_path : a == "--address" ? o.address : o.ports_file) = v;
    } else if (a == "--telnet-port" || a == "--data-port" || a == "--control-port") {
      const char* v = value();
      int& port = a == "--telnet-port" ? o.telnet_port : a == "--data-port" ? o.data_port : o.control_port;
      if (!v || !parse_port(v, port)) return usage(a + " needs a port number 0..65535");
    } else {
      return usage("unknown argument \"" + a + "\"");
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  zsim::Options opt;
  if (int rc = parse_args(argc, argv, opt)) return rc < 0 ? 0 : rc;
  zsim::SimConfig cfg;
  try {
    cfg = opt.config_path.empty() ? zsim::demo_config() : zsim::load_config_file(opt.config_path);
  } catch (const zsim::ConfigError& e) {
    std::fprintf(stderr, "zemat-sim: %s: %s\n", opt.config_path.c_str(), e.what());
    return 2;
  }
  try {
    zsim::Simulator sim(opt, std::move(cfg));
    return sim.run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zemat-sim: %s\n", e.what());
    return 1;
  }
}

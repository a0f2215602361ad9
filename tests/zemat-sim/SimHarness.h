// Test harness for the simulator: starts the zemat-sim program on ports it picks, talks to its
// control port, and plays the host's side of the wire by hand (a raw Zemat client).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

Bytes frame(uint16_t socket, const Bytes& payload);
Bytes text(const std::string& s);
uint16_t u16(const uint8_t* p);
Bytes key_of(const std::string& owner, const std::string& desc, const std::string& name);

// A running zemat-sim process; quits it (or kills it) on destruction.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args = {}, std::string config_json = "");
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  int telnet_port = 0, data_port = 0, control_port = 0;
  std::string pty;
  // One control command; returns its reply line ("" when none came within 5 s).
  std::string command(const std::string& line);
  // One command on standard input; the reply line from standard output (not with ZEMAT_SIM_TEST_LOG).
  std::string stdin_command(const std::string& line);
  // The "status" reply's JSON text, parsed by the caller.
  std::string status();
  // Waits for the process to exit on its own; the exit code, or -1 on time-out.
  int wait_exit(std::chrono::milliseconds limit);

 private:
  int pid_ = -1;
  int out_fd_ = -1;
  int in_fd_ = -1;
  std::string out_pending_;
  std::thread log_thread_;
  int control_fd_ = -1;
  std::string config_path_;
};

// Starts the program with arguments that make it fail; returns exit code and standard error.
std::pair<int, std::string> run_failing(std::vector<std::string> args, const std::string& config_json);

// The host's side of the wire, by hand. Flow-socket credit grants are collected as they pass.
class RawHost {
 public:
  static RawHost tcp(int port);
  static RawHost serial(const std::string& path);
  RawHost(RawHost&& o) noexcept;
  ~RawHost();

  void send_bytes(const Bytes& b);
  void send(uint16_t socket, const Bytes& payload) { send_bytes(frame(socket, payload)); }
  void grant(uint16_t socket, uint8_t count);
  // Red card; returns the answer frame.
  Bytes redcard();
  // Red card plus read credits on the three control CUs (sockets 0, 1, 2 unless given).
  void start(uint16_t cfg = 0, uint16_t evt = 1, uint16_t opn = 2);
  // Next frame not on the flow socket (flow frames are absorbed into the counters).
  std::optional<Bytes> next(std::chrono::milliseconds limit = 5000ms);
  // Next frame of any kind, flow frames included.
  std::optional<Bytes> next_any(std::chrono::milliseconds limit = 5000ms);
  // Raw bytes, up to n, whatever they are; empty on time-out or close.
  Bytes read_raw(size_t n, std::chrono::milliseconds limit = 5000ms);
  // Reads until the instrument has granted at least total send credits on socket (other frames
  // are dropped); false on time-out.
  bool wait_granted(uint16_t socket, long total, std::chrono::milliseconds limit = 5000ms);
  bool wait_keepalives(long total, std::chrono::milliseconds limit = 5000ms);
  // A configuration round trip: everything sent before it has been processed when it returns.
  void sync() { ask(0, Bytes{0x01}); }
  // Ends the stream from our side and reads until the simulator closes: everything sent has
  // then been processed.
  bool finish(std::chrono::milliseconds limit = 10000ms);
  bool closed_by_peer(std::chrono::milliseconds limit = 5000ms);
  // Request on a control CU, reply payload back.
  Bytes ask(uint16_t socket, const Bytes& payload);
  // Opens a CU; returns the reply payload (open reply or refusal).
  Bytes open(const Bytes& key, const Bytes& params);
  uint16_t open_socket(const Bytes& key, const Bytes& params);

  std::map<uint16_t, long> granted;  // send credits granted by the instrument, per socket
  long keepalives = 0;               // the instrument's own keep-alives seen
  int reads = 0;                     // read calls that returned data

 private:
  explicit RawHost(int fd) : fd_(fd) {}
  void absorb_flow(const Bytes& f);
  // Reads frames until done() holds, taking in flow frames and keeping the others for later.
  bool wait_flow(const std::function<bool()>& done, std::chrono::milliseconds limit);
  bool fill(std::chrono::steady_clock::time_point deadline);
  int fd_ = -1;
  Bytes buf_;
  std::vector<Bytes> stash_;  // data frames read while waiting for flow frames
};

// Reads a whole module list: the module records' payloads in order.
std::vector<Bytes> walk_modules(RawHost& h, int list);
// Reads a module's CU descriptors: the descriptor payloads in order.
std::vector<Bytes> walk_cus(RawHost& h, const Bytes& module_record);
// The three texts of a module record or descriptor payload, from offset 1.
std::vector<std::string> texts(const Bytes& payload, int count);

}  // namespace simtest

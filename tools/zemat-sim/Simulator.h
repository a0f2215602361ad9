// The simulator's event loop: listeners (console, data, control), the one data link (TCP or pty)
// with its output queue and injected faults, the schedule, and the control commands.
#pragma once

#include "zemat-sim/Console.h"
#include "zemat-sim/Net.h"
#include "zemat-sim/Session.h"
#include "zemat-sim/SimConfig.h"

#include <poll.h>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zsim {

struct Options {
  std::string config_path;
  std::string address = "127.0.0.1";
  int telnet_port = 0, data_port = 0, control_port = 0;
  bool no_telnet = false, serial = false, quiet = false, quit_on_eof = false;
  std::string ports_file;
};

// Cuts a byte stream into command lines; a line longer than the limit becomes one error reply.
class LineBuffer {
 public:
  static constexpr size_t kLineMax = 4096;
  // Calls on_line for each complete line; a too long line yields "error: command line too long".
  template <typename F>
  void feed(const char* p, size_t n, F&& on_line, std::function<void(const std::string&)> on_reply);

 private:
  std::string buf_;
  bool overlong_ = false;
};

class Simulator : public ByteSink {
 public:
  Simulator(Options opt, SimConfig cfg);
  ~Simulator() override;
  // Opens the listeners (throws NetError), reports the ports, then serves until "quit".
  int run();
  // Executes one control command line and returns its one reply line.
  std::string execute(const std::string& line);

  void write(const Bytes& bytes, bool split) override;
  void write_frame(const uint8_t* head, size_t head_n, const uint8_t* body, size_t body_n) override;
  size_t pending() const override { return pending_; }
  bool silenced() const override { return Clock::now() < silence_until_; }

 private:
  struct ControlClient {
    Fd fd;
    LineBuffer in;
    std::string out;
  };
  struct Chunk {
    Bytes data;
    size_t off = 0;
    bool split = false;
  };

  void open_endpoints();
  void report_ports();
  void serve_once();
  void collect_fds(std::vector<pollfd>& fds);
  int link_fd() const;
  bool link_up() const;
  void accept_data();
  void end_data(const std::string& why);
  void read_link();
  void write_link();
  bool write_split();
  // Room for n more bytes at the end of the output (a new chunk when the last one is full or split).
  Chunk& tail_for(size_t n);
  void pop_chunk();
  // Streams and the link in turn while the link takes everything; true when there is more to send now.
  bool pump_link();
  void tick();
  void run_schedule(Clock::time_point now);
  void read_stdin();
  void serve_control(ControlClient& c, short revents);
  void serve_consoles(const std::vector<pollfd>& fds);
  void log(const std::string& text);

  // Control commands (Commands.cpp).
  std::string cmd_status();
  std::string cmd_remove_module(const std::vector<std::string>& a);
  std::string cmd_add_module(const std::vector<std::string>& a);
  std::string cmd_event(const std::vector<std::string>& a);
  std::string cmd_config_event(const std::vector<std::string>& a);
  std::string cmd_stream(const std::vector<std::string>& a);
  std::string cmd_text_stream(const std::vector<std::string>& a);
  std::string cmd_emit(const std::vector<std::string>& a);
  std::string cmd_grant(const std::vector<std::string>& a);
  std::string cmd_refuse(const std::vector<std::string>& a);
  std::string cmd_delay_open(const std::vector<std::string>& a);
  std::string cmd_loader(const std::vector<std::string>& a);
  ModuleLoader* loader_for(const std::string& module, std::string& error);
  void new_session();
  std::string cmd_fault(const std::vector<std::string>& a);
  std::vector<ModuleConfig*> ordered_modules();
  ModuleConfig* find_module(const std::string& what);
  std::optional<size_t> find_cu(const ModuleConfig& m, const std::string& what);
  OpenCu* find_open_cu(const std::string& module, const std::string& cu, std::string& error);

  Options opt_;
  SimConfig cfg_;
  Stats stats_;
  int next_module_id_;
  bool refuse_open_;
  int open_delay_ms_ = 0;
  bool quit_ = false;
  bool stdin_open_ = true;
  LineBuffer stdin_lines_;

  std::optional<Listener> telnet_, data_, control_;
  std::optional<Pty> pty_;
  Fd conn_;
  std::unique_ptr<Session> session_;
  Loaders loaders_;
  std::vector<std::unique_ptr<Console>> consoles_;
  std::vector<std::unique_ptr<ControlClient>> controls_;
  std::vector<std::string> console_lines_;

  std::deque<Chunk> out_;
  std::vector<Bytes> spare_;  // emptied chunk buffers: a stream reuses them instead of fresh memory
  size_t pending_ = 0;
  bool busy_ = false;  // pump_link stopped with more to send: poll without waiting
  bool output_full_ = false;
  Clock::time_point silence_until_{};
  Clock::time_point next_split_{};
  std::optional<Clock::time_point> goodbye_close_;

  bool schedule_started_ = false;
  Clock::time_point schedule_start_{};
  size_t schedule_next_ = 0;
};

template <typename F>
void LineBuffer::feed(const char* p, size_t n, F&& on_line, std::function<void(const std::string&)> on_reply) {
  buf_.append(p, n);
  for (size_t nl; (nl = buf_.find('\n')) != std::string::npos;) {
    std::string line = buf_.substr(0, nl);
    buf_.erase(0, nl + 1);
    if (overlong_ || line.size() > kLineMax)
      on_reply("error: command line too long");
    else
      on_reply(on_line(line));
    overlong_ = false;
  }
  if (buf_.size() > kLineMax) {
    buf_.clear();
    overlong_ = true;
  }
}

}  // namespace zsim

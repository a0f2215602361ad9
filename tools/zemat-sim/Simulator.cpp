// The simulator's single-threaded event loop: one poll over every descriptor, then timers.
#include "zemat-sim/Simulator.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>

namespace zsim {
namespace {

constexpr auto kSplitPause = std::chrono::milliseconds(2);
constexpr auto kGoodbyeGrace = std::chrono::milliseconds(1000);
constexpr size_t kOutputLimit = 16 * 1024 * 1024;  // a host that stops reading costs no more
constexpr size_t kControlOutputLimit = 1024 * 1024;
constexpr size_t kChunkBytes = 256 * 1024;  // output is kept in chunks of about this size
constexpr size_t kSpareChunks = 4;
constexpr int kWriteVectors = 16;  // chunks handed to one writev
constexpr int kPumpRounds = 16;    // stream-and-write rounds before the input is looked at again

}  // namespace

Simulator::Simulator(Options opt, SimConfig cfg)
    : opt_(std::move(opt)), cfg_(std::move(cfg)), refuse_open_(cfg_.refuse_open) {
  next_module_id_ = 1;
  for (const auto& m : cfg_.modules) next_module_id_ = std::max(next_module_id_, m.id + 1);
}

Simulator::~Simulator() = default;

void Simulator::log(const std::string& text) {
  if (opt_.quiet) return;
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::gmtime(&ts.tv_sec));
  std::printf("%s.%03ld zemat-sim: %s\n", stamp, ts.tv_nsec / 1000000, text.c_str());
  std::fflush(stdout);
}

void Simulator::new_session() {
  session_ = std::make_unique<Session>(cfg_, stats_, *this, [this](const std::string& t) { log(t); });
  session_->set_refuse_open(refuse_open_);
  session_->set_open_delay(open_delay_ms_);
  session_->set_loaders(&loaders_);
}

void Simulator::open_endpoints() {
  if (!opt_.no_telnet) telnet_ = listen_tcp(opt_.address, opt_.telnet_port);
  if (opt_.serial) {
    pty_ = open_pty();
    new_session();
  } else {
    data_ = listen_tcp(opt_.address, opt_.data_port);
  }
  control_ = listen_tcp(opt_.address, opt_.control_port);
}

void Simulator::report_ports() {
  std::string text = "telnet-port " + std::to_string(telnet_ ? telnet_->port : 0) + "\n";
  text += opt_.serial ? "pty " + pty_->path + "\n" : "data-port " + std::to_string(data_->port) + "\n";
  text += "control-port " + std::to_string(control_->port) + "\n";
  if (!opt_.ports_file.empty()) {
    std::string tmp = opt_.ports_file + ".tmp";
    std::ofstream(tmp) << text;
    if (std::rename(tmp.c_str(), opt_.ports_file.c_str()) != 0)
      throw NetError("cannot write the ports file \"" + opt_.ports_file + "\"");
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

int Simulator::run() {
  open_endpoints();
  report_ports();
  log(std::string("serving ") + (opt_.serial ? "on " + pty_->path : "on " + opt_.address) + " with " +
      std::to_string(cfg_.modules.size()) + " modules");
  while (!quit_) serve_once();
  // Let pending control replies leave before the sockets close.
  for (auto& c : controls_)
    if (!c->out.empty()) (void)::send(c->fd.get(), c->out.data(), c->out.size(), MSG_NOSIGNAL);
  return 0;
}

int Simulator::link_fd() const {
  if (pty_) return pty_->master.get();
  return conn_.get();
}

bool Simulator::link_up() const { return link_fd() >= 0; }

void Simulator::collect_fds(std::vector<pollfd>& fds) {
  auto add = [&](int fd, short ev) { fds.push_back(pollfd{fd, ev, 0}); };
  add(stdin_open_ ? 0 : -1, POLLIN);
  add(control_->fd.get(), POLLIN);
  add(telnet_ ? telnet_->fd.get() : -1, POLLIN);
  bool accepting = data_ && (!conn_.valid() || (session_ && session_->goodbye_seen()));
  add(accepting ? data_->fd.get() : -1, POLLIN);
  short ev = POLLIN;
  if (pending_ && !silenced()) ev |= POLLOUT;
  add(link_fd(), ev);
  for (auto& c : controls_) add(c->fd.get(), static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)));
  for (auto& c : consoles_) add(c->fd(), POLLIN);
}

void Simulator::serve_once() {
  std::vector<pollfd> fds;
  collect_fds(fds);
  bool splitting = !out_.empty() && out_.front().split;
  int timeout = busy_ ? 0 : splitting ? 2 : 10;
  if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) throw NetError("poll failed");
  size_t ncontrols = controls_.size();
  if (fds[0].revents) read_stdin();
  if (fds[1].revents & POLLIN)
    if (Fd c = accept_tcp(control_->fd); c.valid())
      controls_.push_back(std::make_unique<ControlClient>(ControlClient{std::move(c), {}, {}}));
  if (fds[2].revents & POLLIN)
    if (Fd c = accept_tcp(telnet_->fd); c.valid())
      consoles_.push_back(
          std::make_unique<Console>(std::move(c), cfg_.greeting, cfg_.reject_setting, [this](const std::string& l) {
            log("console: \"" + l + "\"");
            if (console_lines_.size() < 256) console_lines_.push_back(l);
          }));
  if (fds[3].revents & POLLIN) accept_data();
  if (fds[4].fd >= 0 && fds[4].fd == link_fd() && (fds[4].revents & (POLLIN | POLLHUP | POLLERR))) read_link();
  for (size_t i = 0; i < ncontrols; ++i) serve_control(*controls_[i], fds[5 + i].revents);
  std::erase_if(controls_, [](const auto& c) { return !c->fd.valid(); });
  serve_consoles(std::vector<pollfd>(fds.begin() + 5 + static_cast<long>(ncontrols), fds.end()));
  tick();
  write_link();
  busy_ = pump_link();
}

bool Simulator::pump_link() {
  if (!session_ || !link_up()) return false;
  for (int round = 0; round < kPumpRounds; ++round) {
    if (pending_ > 0 || silenced()) return false;  // POLLOUT (or the end of the silence) brings us back
    if (session_->pump_streams(Clock::now()) == 0) return false;
    write_link();
  }
  return pending_ == 0;
}

void Simulator::serve_consoles(const std::vector<pollfd>& fds) {
  for (size_t i = 0; i < fds.size() && i < consoles_.size(); ++i)
    if (fds[i].revents && !consoles_[i]->on_readable()) {
      log("console connection closed");
      consoles_[i].reset();
    }
  std::erase_if(consoles_, [](const auto& c) { return !c; });
}

void Simulator::accept_data() {
  Fd c = accept_tcp(data_->fd);
  if (!c.valid()) return;
  if (conn_.valid()) end_data("host opened a new connection after its goodbye");
  conn_ = std::move(c);
  ++stats_.connections;
  new_session();
  log("data connection " + std::to_string(stats_.connections) + " accepted");
}

void Simulator::end_data(const std::string& why) {
  log("data connection ended: " + why);
  out_.clear();
  pending_ = 0;
  goodbye_close_.reset();
  if (pty_) {
    tcflush(pty_->master.get(), TCIOFLUSH);
    new_session();
    return;
  }
  session_.reset();
  conn_.reset();
}

void Simulator::read_link() {
  uint8_t buf[8192];
  ssize_t n = ::read(link_fd(), buf, sizeof buf);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    if (!pty_) end_data(n == 0 ? "host closed the connection" : "read error");
    return;
  }
  if (n < 0) return;
  bool was_synced = session_->in_sync();
  session_->on_bytes(buf, static_cast<size_t>(n));
  if (session_->take_drop_request()) return end_data("dropped by the loader's drop fault");
  if (pty_ && !was_synced && session_->in_sync())
    ++stats_.connections;  // on the pty a session starts with its first red card
  if (!was_synced && session_->in_sync() && !schedule_started_) {
    schedule_started_ = true;
    schedule_start_ = Clock::now();
  }
  if (session_->goodbye_seen() && !goodbye_close_ && !pty_) goodbye_close_ = Clock::now() + kGoodbyeGrace;
  if (!session_->goodbye_seen()) goodbye_close_.reset();
}

Simulator::Chunk& Simulator::tail_for(size_t n) {
  if (out_.empty() || out_.back().split || out_.back().data.size() + n > out_.back().data.capacity()) {
    Chunk c;
    if (!spare_.empty()) {
      c.data = std::move(spare_.back());
      spare_.pop_back();
    }
    c.data.reserve(std::max(kChunkBytes, n));
    out_.push_back(std::move(c));
  }
  return out_.back();
}

void Simulator::pop_chunk() {
  Bytes data = std::move(out_.front().data);
  out_.pop_front();
  if (spare_.size() < kSpareChunks && data.capacity() == kChunkBytes) {
    data.clear();
    spare_.push_back(std::move(data));
  }
}

void Simulator::write(const Bytes& bytes, bool split) {
  if (!link_up() || bytes.empty()) return;
  if (pending_ + bytes.size() > kOutputLimit) {
    if (!output_full_) log("the host reads nothing: output beyond 16 MB is dropped");
    output_full_ = true;
    return;
  }
  output_full_ = false;
  if (split) {
    out_.push_back(Chunk{bytes, 0, true});
  } else {
    Bytes& d = tail_for(bytes.size()).data;
    d.insert(d.end(), bytes.begin(), bytes.end());
  }
  pending_ += bytes.size();
}

void Simulator::write_frame(const uint8_t* head, size_t head_n, const uint8_t* body, size_t body_n) {
  if (!link_up()) return;
  if (pending_ + head_n + body_n > kOutputLimit) {
    if (!output_full_) log("the host reads nothing: output beyond 16 MB is dropped");
    output_full_ = true;
    return;
  }
  output_full_ = false;
  Bytes& d = tail_for(head_n + body_n).data;
  d.insert(d.end(), head, head + head_n);
  d.insert(d.end(), body, body + body_n);
  pending_ += head_n + body_n;
}

// The split fault: one byte per write, a short pause between; false while the pause lasts or on error.
bool Simulator::write_split() {
  auto now = Clock::now();
  Chunk& c = out_.front();
  if (now < next_split_) return false;
  ssize_t n = ::write(link_fd(), c.data.data() + c.off, 1);
  if (n < 0) {
    if (errno != EAGAIN && errno != EINTR && !pty_) end_data("write error");
    return false;
  }
  c.off += static_cast<size_t>(n);
  pending_ -= static_cast<size_t>(n);
  next_split_ = now + kSplitPause;
  if (c.off < c.data.size()) return false;  // the next byte after the pause
  out_.pop_front();
  return true;
}

void Simulator::write_link() {
  while (!out_.empty() && link_up() && !silenced()) {
    if (out_.front().split) {
      if (!write_split()) return;
      continue;
    }
    iovec iov[kWriteVectors];
    int count = 0;
    size_t want = 0;
    for (auto c = out_.begin(); c != out_.end() && !c->split && count < kWriteVectors; ++c, ++count) {
      iov[count].iov_base = c->data.data() + c->off;
      iov[count].iov_len = c->data.size() - c->off;
      want += iov[count].iov_len;
    }
    ssize_t n = ::writev(link_fd(), iov, count);
    if (n < 0) {
      if (errno != EAGAIN && errno != EINTR && !pty_) end_data("write error");
      return;
    }
    pending_ -= static_cast<size_t>(n);
    for (size_t left = static_cast<size_t>(n); !out_.empty() && !out_.front().split;) {
      Chunk& c = out_.front();
      const size_t take = std::min(left, c.data.size() - c.off);
      c.off += take;
      left -= take;
      if (c.off < c.data.size()) break;
      pop_chunk();
    }
    if (static_cast<size_t>(n) < want) return;  // kernel buffer full: wait for POLLOUT
  }
}

void Simulator::tick() {
  auto now = Clock::now();
  if (session_ && link_up()) session_->tick(now);
  if (goodbye_close_ && now >= *goodbye_close_) end_data("closed after the host's goodbye");
  run_schedule(now);
}

void Simulator::run_schedule(Clock::time_point now) {
  while (schedule_started_ && schedule_next_ < cfg_.schedule.size()) {
    const ScheduledCommand& s = cfg_.schedule[schedule_next_];
    if (now < schedule_start_ + std::chrono::milliseconds(s.at_ms)) return;
    ++schedule_next_;
    std::string reply = execute(s.command);
    log("scheduled \"" + s.command + "\": " + reply);
  }
}

void Simulator::read_stdin() {
  char buf[1024];
  ssize_t n = ::read(0, buf, sizeof buf);
  if (n <= 0) {
    stdin_open_ = false;                 // standard input closed: go on serving the other channels
    if (opt_.quit_on_eof) quit_ = true;  // ...unless we go with the process that started us
    return;
  }
  stdin_lines_.feed(
      buf, static_cast<size_t>(n),
      [this](const std::string& l) { return quit_ ? std::string("error: quitting") : execute(l); },
      [](const std::string& reply) {
        std::printf("%s\n", reply.c_str());
        std::fflush(stdout);
      });
}

void Simulator::serve_control(ControlClient& c, short revents) {
  if (revents & POLLIN) {
    char buf[1024];
    ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
    if (n <= 0) {
      c.fd.reset();
      return;
    }
    c.in.feed(
        buf, static_cast<size_t>(n),
        [this](const std::string& l) { return quit_ ? std::string("error: quitting") : execute(l); },
        [&c](const std::string& reply) { c.out += reply + "\n"; });
  }
  if (c.out.size() > kControlOutputLimit) {
    c.fd.reset();  // a control client that never reads its replies
    return;
  }
  if (!c.out.empty()) {
    ssize_t n = ::send(c.fd.get(), c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0)
      c.out.erase(0, static_cast<size_t>(n));
    else if (n < 0 && errno != EAGAIN)
      c.fd.reset();
  }
}

}  // namespace zsim

// The simulator test harness: process control, control-port client and the raw host.
#include "SimHarness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace simtest {
namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
  auto d = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return d < 0 ? 0 : static_cast<int>(d);
}

// Reads one line from fd (blocking with a deadline); false on time-out or end of stream.
bool read_line(int fd, std::string& pending, std::string& line, Clock::time_point deadline) {
  while (true) {
    if (auto nl = pending.find('\n'); nl != std::string::npos) {
      line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      return true;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms_left(deadline)) <= 0) return false;
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    pending.append(buf, static_cast<size_t>(n));
  }
}

std::string write_temp(const std::string& content) {
  char path[] = "/tmp/zemat-sim-test-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  if (::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
    throw std::runtime_error("cannot write temp file");
  ::close(fd);
  return path;
}

// Starts the simulator; out_fd receives its stdout (or stderr when capture_stderr); in_fd, when
// given, feeds its standard input.
int spawn(const std::vector<std::string>& args, int& out_fd, bool capture_stderr, int* in_fd = nullptr) {
  int p[2], q[2];
  if (::pipe2(p, O_CLOEXEC) != 0 || ::pipe2(q, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(in_fd ? q[0] : null, 0);
    ::dup2(capture_stderr ? null : p[1], 1);
    if (capture_stderr)  // otherwise standard error stays the test's, so sanitizer reports show
      ::dup2(p[1], 2);
    std::vector<char*> argv;
    std::string prog = ZEMAT_SIM_PATH;
    argv.push_back(prog.data());
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(prog.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(p[1]);
  ::close(q[0]);
  out_fd = p[0];
  if (in_fd)
    *in_fd = q[1];
  else
    ::close(q[1]);
  return pid;
}

int connect_tcp(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

}  // namespace

Bytes frame(uint16_t socket, const Bytes& payload) {
  Bytes f{static_cast<uint8_t>((payload.size() + 4) >> 8), static_cast<uint8_t>(payload.size() + 4),
          static_cast<uint8_t>(socket >> 8), static_cast<uint8_t>(socket)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

Bytes key_of(const std::string& owner, const std::string& desc, const std::string& name) {
  Bytes k;
  for (const std::string* s : {&owner, &desc, &name}) {
    k.insert(k.end(), s->begin(), s->end());
    k.push_back(0);
  }
  return k;
}

// ---- SimProcess --------------------------------------------------------------------------------

SimProcess::SimProcess(std::vector<std::string> args, std::string config_json) {
  if (!config_json.empty()) {
    config_path_ = write_temp(config_json);
    args.insert(args.begin(), {"--config", config_path_});
  }
  // ZEMAT_SIM_TEST_LOG=1 shows the simulator's log on the test's standard error (for debugging).
  bool show_log = std::getenv("ZEMAT_SIM_TEST_LOG") != nullptr;
  if (!show_log) args.push_back("--quiet");
  args.push_back("--quit-on-eof");  // a test that dies takes its simulator along
  pid_ = spawn(args, out_fd_, false, &in_fd_);
  std::string& pending = out_pending_;
  std::string line;
  auto deadline = Clock::now() + 10s;
  while (read_line(out_fd_, pending, line, deadline)) {
    auto sp = line.find(' ');
    std::string k = line.substr(0, sp), v = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (k == "telnet-port") telnet_port = std::atoi(v.c_str());
    if (k == "data-port") data_port = std::atoi(v.c_str());
    if (k == "pty") pty = v;
    if (k == "control-port") {
      control_port = std::atoi(v.c_str());
      break;
    }
  }
  if (!control_port) throw std::runtime_error("the simulator did not report its ports");
  if (show_log) {
    log_thread_ = std::thread([fd = out_fd_, pending] {
      std::fputs(pending.c_str(), stderr);
      char buf[4096];
      for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) std::fwrite(buf, 1, static_cast<size_t>(n), stderr);
    });
  }
  control_fd_ = connect_tcp(control_port);
}

SimProcess::~SimProcess() {
  if (control_fd_ >= 0) {
    if (pid_ > 0) command("quit");
    ::close(control_fd_);
  }
  if (in_fd_ >= 0) ::close(in_fd_);
  if (pid_ > 0) {
    int rc = wait_exit(5s);
    if (rc < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    EXPECT_EQ(rc, 0) << "zemat-sim did not end cleanly after quit";
  }
  if (log_thread_.joinable()) log_thread_.join();  // ends with the simulator's standard output
  if (out_fd_ >= 0) ::close(out_fd_);
  if (!config_path_.empty()) ::unlink(config_path_.c_str());
}

std::string SimProcess::command(const std::string& line) {
  std::string l = line + "\n";
  if (::send(control_fd_, l.data(), l.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(l.size())) return "";
  static thread_local std::string pending;
  std::string reply;
  return read_line(control_fd_, pending, reply, Clock::now() + 5s) ? reply : "";
}

std::string SimProcess::stdin_command(const std::string& line) {
  std::string l = line + "\n";
  if (::write(in_fd_, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return "";
  std::string reply;
  return read_line(out_fd_, out_pending_, reply, Clock::now() + 5s) ? reply : "";
}

std::string SimProcess::status() {
  std::string r = command("status");
  return r.rfind("ok ", 0) == 0 ? r.substr(3) : "{}";
}

int SimProcess::wait_exit(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (pid_ > 0) {
    int st = 0;
    pid_t r = ::waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    if (Clock::now() >= deadline) return -1;
    ::usleep(5000);  // child exit has no descriptor to wait on here
  }
  return -1;
}

std::pair<int, std::string> run_failing(std::vector<std::string> args, const std::string& config_json) {
  std::string path;
  if (!config_json.empty()) {
    path = write_temp(config_json);
    args.insert(args.begin(), {"--config", path});
  }
  int err_fd = -1;
  pid_t pid = spawn(args, err_fd, true);
  std::string err;
  char buf[1024];
  for (ssize_t n; (n = ::read(err_fd, buf, sizeof buf)) > 0;) err.append(buf, static_cast<size_t>(n));
  ::close(err_fd);
  int st = 0;
  ::waitpid(pid, &st, 0);
  if (!path.empty()) ::unlink(path.c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, err};
}

// ---- RawHost -----------------------------------------------------------------------------------

RawHost RawHost::tcp(int port) { return RawHost(connect_tcp(port)); }

RawHost RawHost::serial(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return RawHost(fd);
}

RawHost::RawHost(RawHost&& o) noexcept
    : granted(std::move(o.granted)), keepalives(o.keepalives), reads(o.reads), fd_(o.fd_), buf_(std::move(o.buf_)) {
  o.fd_ = -1;
}

RawHost::~RawHost() {
  if (fd_ >= 0) ::close(fd_);
}

void RawHost::send_bytes(const Bytes& b) {
  size_t done = 0;
  while (done < b.size()) {
    ssize_t n = ::write(fd_, b.data() + done, b.size() - done);
    if (n <= 0) throw std::runtime_error("write to the simulator failed");
    done += static_cast<size_t>(n);
  }
}

void RawHost::grant(uint16_t socket, uint8_t count) {
  send(0xFFFF, Bytes{static_cast<uint8_t>(socket >> 8), static_cast<uint8_t>(socket), count});
}

bool RawHost::fill(Clock::time_point deadline) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, ms_left(deadline)) <= 0) return false;
  uint8_t b[8192];
  ssize_t n = ::read(fd_, b, sizeof b);
  if (n <= 0) return false;
  ++reads;
  buf_.insert(buf_.end(), b, b + n);
  return true;
}

std::optional<Bytes> RawHost::next_any(std::chrono::milliseconds limit) {
  if (!stash_.empty()) {
    Bytes f = stash_.front();
    stash_.erase(stash_.begin());
    return f;
  }
  auto deadline = Clock::now() + limit;
  while (true) {
    if (buf_.size() >= 2) {
      size_t len = u16(buf_.data());
      if (len < 4) throw std::runtime_error("bad frame length from the simulator");
      if (buf_.size() >= len) {
        Bytes f(buf_.begin(), buf_.begin() + static_cast<long>(len));
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(len));
        return f;
      }
    }
    if (!fill(deadline)) return std::nullopt;
  }
}

void RawHost::absorb_flow(const Bytes& f) {
  for (size_t i = 4; i + 3 <= f.size(); i += 3) {
    if (f[i + 2] == 0)
      ++keepalives;
    else
      granted[u16(&f[i])] += f[i + 2];
  }
}

std::optional<Bytes> RawHost::next(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (auto f = next_any(std::chrono::milliseconds(ms_left(deadline)))) {
    if (u16(&(*f)[2]) != 0xFFFF) return f;
    absorb_flow(*f);
  }
  return std::nullopt;
}

bool RawHost::wait_flow(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (!done()) {
    auto f = next_any(std::chrono::milliseconds(ms_left(deadline)));
    if (!f) return false;
    if (u16(&(*f)[2]) == 0xFFFF)
      absorb_flow(*f);
    else
      stash_.push_back(*f);
  }
  return true;
}

bool RawHost::wait_granted(uint16_t socket, long total, std::chrono::milliseconds limit) {
  return wait_flow([&] { return granted[socket] >= total; }, limit);
}

bool RawHost::wait_keepalives(long total, std::chrono::milliseconds limit) {
  return wait_flow([&] { return keepalives >= total; }, limit);
}

Bytes RawHost::read_raw(size_t n, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (buf_.size() < n && fill(deadline)) {
  }
  size_t take = std::min(n, buf_.size());
  Bytes r(buf_.begin(), buf_.begin() + static_cast<long>(take));
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(take));
  return r;
}

bool RawHost::finish(std::chrono::milliseconds limit) {
  ::shutdown(fd_, SHUT_WR);
  return closed_by_peer(limit);
}

bool RawHost::closed_by_peer(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (true) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms_left(deadline)) <= 0) return false;
    uint8_t b[4096];
    ssize_t n = ::read(fd_, b, sizeof b);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0) return false;
  }
}

Bytes RawHost::redcard() {
  send_bytes(Bytes{0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF});
  auto f = next_any();
  return f ? *f : Bytes{};
}

void RawHost::start(uint16_t cfg, uint16_t evt, uint16_t opn) {
  redcard();
  for (uint16_t s : {cfg, evt, opn}) grant(s, 235);
}

Bytes RawHost::ask(uint16_t socket, const Bytes& payload) {
  send(socket, payload);
  auto deadline = Clock::now() + 5s;
  while (auto f = next(std::chrono::milliseconds(ms_left(deadline))))
    if (u16(&(*f)[2]) == socket) return Bytes(f->begin() + 4, f->end());
  return {};
}

Bytes RawHost::open(const Bytes& key, const Bytes& params) {
  Bytes req{0x09};
  req.insert(req.end(), key.begin(), key.end());
  req.insert(req.end(), params.begin(), params.end());
  return ask(2, req);
}

uint16_t RawHost::open_socket(const Bytes& key, const Bytes& params) {
  Bytes r = open(key, params);
  if (r.size() < 2 || r[0] != 0x09) return 0xFFFD;
  return u16(&r[r.size() - 2]);
}

std::vector<Bytes> walk_modules(RawHost& h, int list) {
  std::vector<Bytes> out;
  Bytes reply = h.ask(0, Bytes{static_cast<uint8_t>(list == 1 ? 0x01 : 0x12)});
  for (int guard = 0; !reply.empty() && reply[0] != 0x0E && guard < 100; ++guard) {
    out.push_back(reply);
    Bytes next = reply;
    next[0] = list == 1 ? 0x02 : 0x13;
    reply = h.ask(0, next);
  }
  return out;
}

std::vector<Bytes> walk_cus(RawHost& h, const Bytes& module_record) {
  std::vector<Bytes> out;
  Bytes req = module_record;
  req[0] = 0x04;
  Bytes reply = h.ask(0, req);
  for (int guard = 0; !reply.empty() && (reply[0] == 4 || reply[0] == 5) && guard < 100; ++guard) {
    out.push_back(reply);
    size_t key = 1;
    for (int t = 0; t < 3; ++t)
      key = static_cast<size_t>(std::find(reply.begin() + static_cast<long>(key), reply.end(), 0) - reply.begin()) + 1;
    Bytes next(reply.begin(), reply.begin() + static_cast<long>(key));
    next[0] = 0x05;
    reply = h.ask(0, next);
  }
  return out;
}

std::vector<std::string> texts(const Bytes& payload, int count) {
  std::vector<std::string> t;
  size_t pos = 1;
  for (int i = 0; i < count && pos < payload.size(); ++i) {
    auto z = std::find(payload.begin() + static_cast<long>(pos), payload.end(), 0);
    t.emplace_back(payload.begin() + static_cast<long>(pos), z);
    pos = static_cast<size_t>(z - payload.begin()) + 1;
  }
  return t;
}

}  // namespace simtest

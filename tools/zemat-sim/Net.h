// File descriptors as owned resources, TCP listeners on loopback, and the raw pseudo-terminal.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace zsim {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset();

 private:
  int fd_ = -1;
};

class NetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A non-blocking listening TCP socket; port 0 picks a free one.
struct Listener {
  Fd fd;
  int port = 0;
};
Listener listen_tcp(const std::string& address, int port);
// Accepts one connection (non-blocking, TCP_NODELAY); invalid Fd when none is waiting.
Fd accept_tcp(const Fd& listener);

// The master side of a raw pseudo-terminal. The simulator keeps the slave side open itself, so that
// a host opening and closing the device never makes the master hang up.
struct Pty {
  Fd master;
  Fd slave_keep;
  std::string path;
};
Pty open_pty();

void set_nonblocking(int fd);

}  // namespace zsim

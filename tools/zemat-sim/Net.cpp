// Sockets and the pseudo-terminal for the simulator (POSIX).
#include "zemat-sim/Net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace zsim {

void Fd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void set_nonblocking(int fd) {
  int fl = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

Listener listen_tcp(const std::string& address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) throw NetError("not an IPv4 address: \"" + address + "\"");
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) throw NetError(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    throw NetError("cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno));
  if (::listen(fd.get(), 8) != 0) throw NetError(std::string("listen: ") + std::strerror(errno));
  socklen_t len = sizeof a;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len);
  set_nonblocking(fd.get());
  return Listener{std::move(fd), ntohs(a.sin_port)};
}

Fd accept_tcp(const Fd& listener) {
  Fd c(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (c.valid()) {
    int one = 1;
    setsockopt(c.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return c;
}

Pty open_pty() {
  Pty p;
  p.master = Fd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!p.master.valid() || grantpt(p.master.get()) != 0 || unlockpt(p.master.get()) != 0)
    throw NetError(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
  char name[128];
  if (ptsname_r(p.master.get(), name, sizeof name) != 0) throw NetError("ptsname failed");
  p.path = name;
  p.slave_keep = Fd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!p.slave_keep.valid()) throw NetError("cannot open " + p.path + ": " + std::strerror(errno));
  termios t{};
  tcgetattr(p.slave_keep.get(), &t);
  cfmakeraw(&t);
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  tcsetattr(p.slave_keep.get(), TCSANOW, &t);
  set_nonblocking(p.master.get());
  return p;
}

}  // namespace zsim

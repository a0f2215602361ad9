// Loopback sockets for the harnesses: a connection to a local port, a connected pair, a port nobody uses.
#pragma once

#include <utility>

namespace support {

// A TCP connection to 127.0.0.1:port with TCP_NODELAY; throws when nothing listens there.
int ConnectLoopback(int port);
// A connected loopback TCP pair with TCP_NODELAY on both ends: {near end, far end}.
std::pair<int, int> LoopbackPair();
// A loopback port on which nothing listens (bound, then released).
int UnusedPort();

// A listening loopback socket that never accepts or answers: the console or data port of an instrument
// that hangs (the kernel completes connections; nothing ever comes back).
class SilentPort {
 public:
  SilentPort();
  ~SilentPort();
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;
  int Port() const { return m_port; }

 private:
  int m_fd = -1;
  int m_port = 0;
};

}  // namespace support

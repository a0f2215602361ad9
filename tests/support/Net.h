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

}  // namespace support

// Netutil.cpp: name look-up, non-blocking connect with a time-out, linger-zero close.
#include "StandardApp/Netutil.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace znet {
bool Resolve(const std::string& host, int port, sockaddr_in& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return false;
  std::memset(&address, 0, sizeof address);
  address = *reinterpret_cast<sockaddr_in*>(result->ai_addr);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  freeaddrinfo(result);
  return true;
}

bool SetNonBlocking(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

int ConnectWithin(int fd, const sockaddr_in& address, int timeoutMs, const std::atomic<bool>* cancel) {
  if (!SetNonBlocking(fd, true)) return 4;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
  if (errno != EINPROGRESS) return 4;
  pollfd p{fd, POLLOUT, 0};
  int r = 0;
  // Short slices, so that a cancel ends the wait soon.
  for (int left = timeoutMs; left > 0 && r == 0; left -= 50) {
    if (cancel && cancel->load()) return 5;
    do r = poll(&p, 1, left < 50 ? left : 50);
    while (r < 0 && errno == EINTR);
  }
  if (r <= 0) return 5;
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return 4;
  return 0;
}

void AbortClose(int& fd) {
  if (fd < 0) return;
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
  fd = -1;
}
}  // namespace znet

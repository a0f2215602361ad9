// Transport.cpp: the socket and serial transports: whole sends, polled receives.
#include "StandardApp/Transport.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

CSocketTransport::CSocketTransport(int fd, unsigned sendLimitMs) : m_fd(fd) {
  timeval limit{static_cast<time_t>(sendLimitMs / 1000), static_cast<suseconds_t>((sendLimitMs % 1000) * 1000)};
  setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

CSocketTransport::~CSocketTransport() {
  shutdown(m_fd, SHUT_RDWR);
  close(m_fd);
}

int CSocketTransport::Send(const uint8_t* bytes, int count, int& sent) {
  sent = 0;
  while (sent < count) {  // a short write is completed: frames are never cut on the host side
    ssize_t n = send(m_fd, bytes + sent, count - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    sent += static_cast<int>(n);
  }
  return sent;
}

int CSocketTransport::Receive(uint8_t* into, int count, unsigned waitMs) {
  if (m_filled) {
    ssize_t n = recv(m_fd, into, count, MSG_DONTWAIT);
    m_filled = n == count;
    if (n > 0) return static_cast<int>(n);
  }
  pollfd p{m_fd, POLLIN, 0};
  int r = poll(&p, 1, static_cast<int>(waitMs));
  if (r <= 0) return r < 0 && errno != EINTR ? -1 : 0;
  ssize_t n = recv(m_fd, into, count, 0);
  m_filled = n == count;
  if (n > 0) return static_cast<int>(n);
  if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) m_ended = true;
  // End of stream or a reset: nothing more will come; pace the caller instead of spinning.
  std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
  return n == 0 ? 0 : -1;
}

int CSerialTransport::Send(const uint8_t* bytes, int count, int& sent) {
  int n = m_port->Write(bytes, count);
  sent = n > 0 ? n : 0;
  return n;
}

int CSerialTransport::Receive(uint8_t* into, int count, unsigned) { return m_port->Read(into, count); }

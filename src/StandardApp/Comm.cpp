// Comm.cpp: CComm on termios. Reads wait at most about 10 ms (the port's read time-outs); writes
// get 10 ms per byte plus 1 ms.
#include "StandardApp/Comm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {
uint32_t ElapsedMs(std::chrono::steady_clock::time_point start) {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

speed_t BaudOf(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return 0;
  }
}

// "baud,parity,data,stop", e.g. "19200,n,8,1"; false when any part is not understood.
bool ApplyMode(const std::string& mode, termios& tio) {
  std::vector<std::string> parts;
  std::stringstream in(mode);
  for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
  if (parts.size() != 4 || parts[1].size() != 1) return false;
  speed_t speed = BaudOf(std::atoi(parts[0].c_str()));
  int bits = std::atoi(parts[2].c_str());
  int stop = std::atoi(parts[3].c_str());
  char parity = static_cast<char>(std::tolower(parts[1][0]));
  if (speed == 0 || bits < 5 || bits > 8 || (stop != 1 && stop != 2) ||
      std::string("neo").find(parity) == std::string::npos)
    return false;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag = (tio.c_cflag & ~CSIZE) | sizes[bits - 5];
  tio.c_cflag &= ~(PARENB | PARODD | CSTOPB);
  if (parity != 'n') tio.c_cflag |= PARENB | (parity == 'o' ? PARODD : 0);
  if (stop == 2) tio.c_cflag |= CSTOPB;
  return true;
}
}  // namespace

CComm::~CComm() { Close(); }

bool CComm::Open(const std::string& device, int inQueue, int outQueue) {
  (void)inQueue;
  (void)outQueue;
  Close();
  m_fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) return false;
  ioctl(m_fd, TIOCEXCL);  // not shared
  return true;
}

void CComm::Adopt(int fd) {
  Close();
  m_fd = fd;
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  m_maxRead = m_maxWrite = 0;
}

bool CComm::Configure(const std::string& mode) {
  termios tio{};
  if (m_fd < 0 || tcgetattr(m_fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  if (!ApplyMode(mode, tio)) return false;
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~CRTSCTS;  // no CTS/DSR output flow control
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(m_fd, TCSANOW, &tio) != 0) return false;
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(m_fd, TIOCMBIS, &lines);  // DTR and RTS on; a pseudo-terminal has none, which is fine
  m_maxRead = m_maxWrite = 0;
  tcflush(m_fd, TCIFLUSH);
  return true;
}

int CComm::Read(void* buffer, int count) {
  if (m_fd < 0) return -1;
  auto start = std::chrono::steady_clock::now();
  pollfd p{m_fd, POLLIN, 0};
  int r = poll(&p, 1, 10);
  int result = 0;
  if (r < 0 && errno != EINTR) {
    result = -1;
  } else if (r > 0) {
    ssize_t n = ::read(m_fd, buffer, count);
    result = n >= 0 ? static_cast<int>(n) : (errno == EAGAIN || errno == EINTR ? 0 : -1);
    if (n == 0 && (p.revents & POLLHUP)) result = -1;
  }
  m_maxRead = std::max(m_maxRead, ElapsedMs(start));
  return result;
}

int CComm::Write(const void* buffer, int count) {
  if (m_fd < 0) return -1;
  auto start = std::chrono::steady_clock::now();
  const uint32_t limit = 10u * static_cast<uint32_t>(count) + 1u;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  int written = 0;
  while (written < count) {
    ssize_t n = ::write(m_fd, bytes + written, count - written);
    if (n > 0) {
      written += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return -1;
    uint32_t spent = ElapsedMs(start);
    if (spent >= limit) return -1;
    pollfd p{m_fd, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(limit - spent));
  }
  m_maxWrite = std::max(m_maxWrite, ElapsedMs(start));
  return written;
}

void CComm::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

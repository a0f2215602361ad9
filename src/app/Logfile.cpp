// TLogFile: POSIX file handling for the user log; the file is held open only while a line is written.
#include "app/Logfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>

namespace {

// Closes the descriptor on every path out.
struct TFd {
  int fd;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

bool TLogFile::Open(const std::string& path, bool append) {
  if (IsOn()) return true;
  if (path.empty()) return false;
  bool appended = false;
  if (append) {
    TFd f{::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC)};
    appended = f.fd >= 0;
  }
  if (!appended) {
    TFd f{::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (f.fd < 0) return false;
  }
  m_state = appended ? Appended : New;
  m_path = path;
  return true;
}

bool TLogFile::Write(const std::string& text) {
  if (!IsOn()) return true;
  TFd f{::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)};
  if (f.fd < 0) return false;
  ::flock(f.fd, LOCK_EX);  // other Morvent processes must not interleave their lines with ours
  const std::string line = text + "\r\n";
  const bool ok = WriteAll(f.fd, line.data(), line.size());
  ::flock(f.fd, LOCK_UN);
  return ok;
}

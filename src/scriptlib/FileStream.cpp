// CFileStream: opening with the script file modes, sharing as advisory locks, positioned reads and
// writes (pread/pwrite) with a read-ahead buffer that every write, seek past it and resize drops.
#include "scriptlib/FileStream.h"

#include "scriptlib/Fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

namespace {

constexpr size_t kBufSize = 64 * 1024;

// Sharing as the scripts know it (an open for reading and/or writing that denies others reading
// and/or writing), mapped onto open-file-description locks (fcntl F_OFD_*). Such locks belong to one
// open, so two TFiles in this process conflict just as two processes do, and they go when the
// descriptor is closed. Four marker bytes far past any real data stand for "open for reading",
// "open for writing", "denies reading" and "denies writing". An open takes a shared lock on each
// marker that applies to it and then looks for another open holding the opposite one (reading
// against "denies reading", denying writing against "open for writing", and so on). Taking before
// looking means two conflicting opens racing each other never both succeed (at worst both fail).
// fmShareCompat, fmShareExclusive and fmCreate deny both, fmShareDenyWrite writing,
// fmShareDenyRead reading, fmShareDenyNone nothing. Shared locks need a descriptor open for reading,
// so a write-only open keeps a second, read-only descriptor for them. The locks are advisory: other
// programs meet them only if they look. Where no such lock can be taken (a file system without them,
// a file that cannot be read) the file opens without sharing.
constexpr off_t kMarkBase = std::numeric_limits<off_t>::max() - 16;
enum TMark { kOpenRead, kOpenWrite, kDenyRead, kDenyWrite };

struct TSharing {
  bool read = false, write = false, denyRead = false, denyWrite = false;
};

// 0 on success, -1 on an error; for F_OFD_GETLK 1 when another open holds a conflicting lock.
int LockMark(int fd, int cmd, short type, TMark mark) {
  struct flock l {};
  l.l_type = type;
  l.l_whence = SEEK_SET;
  l.l_start = kMarkBase + mark;
  l.l_len = 1;
  int rc;
  do rc = ::fcntl(fd, cmd, &l);
  while (rc < 0 && errno == EINTR);
  if (rc == 0 && cmd == F_OFD_GETLK) return l.l_type == F_UNLCK ? 0 : 1;
  return rc;
}

// False when another open's sharing refuses this one; its locks go with the descriptor.
bool TakeSharing(int fd, const TSharing& s) {
  const std::pair<bool, TMark> takes[] = {
      {s.read, kOpenRead}, {s.write, kOpenWrite}, {s.denyRead, kDenyRead}, {s.denyWrite, kDenyWrite}};
  for (const auto& [wanted, mark] : takes)
    if (wanted && LockMark(fd, F_OFD_SETLK, F_RDLCK, mark) != 0) return true;  // no locks here
  const std::pair<bool, TMark> checks[] = {
      {s.read, kDenyRead}, {s.write, kDenyWrite}, {s.denyRead, kOpenRead}, {s.denyWrite, kOpenWrite}};
  for (const auto& [wanted, against] : checks)
    if (wanted && LockMark(fd, F_OFD_GETLK, F_WRLCK, against) == 1) return false;
  return true;
}

struct TOpenMode {
  int flags = 0;
  TSharing sharing;
  bool create = false;
};

// Only the low 16 bits count; of them the access value (bits 0-1) and the sharing value (bits 4-7).
bool ParseMode(int mode, TOpenMode& out) {
  mode &= 0xFFFF;
  if (mode == fmCreate) {
    out.flags = O_RDWR | O_CREAT;
    out.sharing = {true, true, true, true};
    out.create = true;
    return true;
  }
  const int access = mode & 0x03, share = mode & 0xF0;
  static const int kFlags[] = {O_RDONLY, O_WRONLY, O_RDWR};
  if (access > fmOpenReadWrite || share > fmShareDenyNone) return false;
  out.flags = kFlags[access];
  out.sharing.read = access != fmOpenWrite;
  out.sharing.write = access != fmOpenRead;
  out.sharing.denyRead = share == fmShareCompat || share == fmShareExclusive || share == fmShareDenyRead;
  out.sharing.denyWrite = share == fmShareCompat || share == fmShareExclusive || share == fmShareDenyWrite;
  return true;
}

// A read-only descriptor of the same file for the sharing locks of a write-only open, or -1.
int OpenForLocks(const std::string& name, const struct stat& same) {
  int fd;
  do fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || st.st_dev != same.st_dev || st.st_ino != same.st_ino)) {
    ::close(fd);  // renamed in between: another file
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<CFileStream> CFileStream::Open(const std::string& name, int mode) {
  TOpenMode m;
  if (name.empty() || !ParseMode(mode, m)) return nullptr;
  int raw;
  do raw = ::open(name.c_str(), m.flags | O_CLOEXEC | O_NOCTTY, 0666);
  while (raw < 0 && errno == EINTR);
  CFd fd(raw);
  if (fd.Get() < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  CFd lockFd(m.sharing.read ? -1 : OpenForLocks(name, st));
  if (!TakeSharing(m.sharing.read ? fd.Get() : lockFd.Get(), m.sharing)) return nullptr;
  // Emptied only now, so that a create refused by another open's sharing leaves the file alone.
  if (m.create && ::ftruncate(fd.Get(), 0) != 0) return nullptr;
  return std::unique_ptr<CFileStream>(new CFileStream(fd.Release(), lockFd.Release()));
}

CFileStream::CFileStream(int fd, int lockFd) : m_fd(fd), m_lockFd(lockFd), m_buf(kBufSize) {}

CFileStream::~CFileStream() {
  ::close(m_fd);
  if (m_lockFd >= 0) ::close(m_lockFd);
}

bool CFileStream::Fill() {
  ssize_t r;
  do r = ::pread(m_fd, m_buf.data(), m_buf.size(), m_pos);
  while (r < 0 && errno == EINTR);
  m_bufStart = m_pos;
  m_bufLen = r > 0 ? static_cast<size_t>(r) : 0;
  return r > 0;
}

int64_t CFileStream::Read(void* dst, int64_t n) {
  auto* out = static_cast<uint8_t*>(dst);
  int64_t done = 0;
  while (done < n) {
    if (m_pos >= m_bufStart && m_pos < m_bufStart + static_cast<int64_t>(m_bufLen)) {
      size_t off = static_cast<size_t>(m_pos - m_bufStart);
      size_t take = static_cast<size_t>(std::min<int64_t>(n - done, static_cast<int64_t>(m_bufLen - off)));
      std::memcpy(out + done, m_buf.data() + off, take);
      done += static_cast<int64_t>(take);
      m_pos += static_cast<int64_t>(take);
    } else if (n - done >= static_cast<int64_t>(kBufSize)) {
      ssize_t r;  // a large block goes straight into the caller's memory
      do r = ::pread(m_fd, out + done, static_cast<size_t>(n - done), m_pos);
      while (r < 0 && errno == EINTR);
      if (r <= 0) break;
      done += r;
      m_pos += r;
    } else if (!Fill()) {
      break;
    }
  }
  return done;
}

int64_t CFileStream::Write(const void* src, int64_t n) {
  DropBuffer();
  const auto* in = static_cast<const uint8_t*>(src);
  int64_t done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(m_fd, in + done, static_cast<size_t>(n - done), m_pos);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += w;
    m_pos += w;
  }
  return done;
}

bool CFileStream::ReadLine(std::string& line, size_t keep) {
  line.clear();
  bool any = false;
  for (;;) {
    if (!(m_pos >= m_bufStart && m_pos < m_bufStart + static_cast<int64_t>(m_bufLen)) && !Fill()) break;
    const uint8_t* from = m_buf.data() + (m_pos - m_bufStart);
    const size_t avail = m_bufLen - static_cast<size_t>(m_pos - m_bufStart);
    const auto* lf = static_cast<const uint8_t*>(std::memchr(from, '\n', avail));
    const size_t len = lf ? static_cast<size_t>(lf - from) : avail;
    any = true;
    if (line.size() < keep) line.append(reinterpret_cast<const char*>(from), std::min(len, keep - line.size()));
    m_pos += static_cast<int64_t>(len + (lf ? 1 : 0));
    if (lf) break;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

int64_t CFileStream::Seek(int64_t offset, int origin) {
  const int64_t base = origin == soFromBeginning ? 0 : origin == soFromCurrent ? m_pos : Size();
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  m_pos = target;
  return target;
}

int64_t CFileStream::Size() const {
  struct stat st {};
  return ::fstat(m_fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

bool CFileStream::SetSize(int64_t size) {
  DropBuffer();
  int rc;
  do rc = ::ftruncate(m_fd, size);
  while (rc < 0 && errno == EINTR);
  return rc == 0;
}

// The raw host: connecting, frame cutting from one growing buffer, flow bookkeeping and the enumeration
// walks.
#include "support/RawHost.h"

#include "support/Net.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace support {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

RawHost::RawHost(int fd) : m_fd(fd), m_buf(1 << 16) {
  struct stat st {};
  m_socket = ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

RawHost RawHost::Tcp(int port) { return RawHost(ConnectLoopback(port)); }

RawHost RawHost::Serial(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return RawHost(fd);
}

RawHost RawHost::Adopt(int fd) { return RawHost(fd); }

RawHost::RawHost(RawHost&& o) noexcept
    : m_fd(o.m_fd),
      m_socket(o.m_socket),
      m_buf(std::move(o.m_buf)),
      m_begin(o.m_begin),
      m_end(o.m_end),
      m_stash(std::move(o.m_stash)),
      m_current(std::move(o.m_current)),
      m_granted(std::move(o.m_granted)),
      m_keepAlives(o.m_keepAlives),
      m_reads(o.m_reads) {
  o.m_fd = -1;
}

RawHost::~RawHost() {
  if (m_fd >= 0) ::close(m_fd);
}

ssize_t RawHost::WriteSome(const uint8_t* p, size_t n) {
  return m_socket ? ::send(m_fd, p, n, MSG_NOSIGNAL) : ::write(m_fd, p, n);
}

void RawHost::SendBytes(const Bytes& b) {
  size_t done = 0;
  while (done < b.size()) {
    ssize_t n = WriteSome(b.data() + done, b.size() - done);
    if (n <= 0) throw std::runtime_error("raw host: write failed");
    done += static_cast<size_t>(n);
  }
}

void RawHost::SendFrame(uint16_t socket, const uint8_t* payload, size_t n) {
  m_out.resize(n + kHeaderLength);
  PutHeader(m_out.data(), m_out.size(), socket);
  if (n > 0) std::memcpy(m_out.data() + kHeaderLength, payload, n);
  SendBytes(m_out);
}

void RawHost::Grant(uint16_t socket, uint8_t count) { SendBytes(support::Grant(socket, count)); }

bool RawHost::Fill(int waitMs) {
  if (m_begin > 0) {  // what is left is part of one frame: cheap to move to the front
    std::memmove(m_buf.data(), m_buf.data() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
  }
  if (m_buf.size() - m_end < 8192) m_buf.resize(m_buf.size() * 2);
  if (waitMs >= 0) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return false;
  }
  ssize_t n = ::read(m_fd, m_buf.data() + m_end, m_buf.size() - m_end);
  if (n <= 0) return false;
  ++m_reads;
  m_end += static_cast<size_t>(n);
  return true;
}

std::optional<RawHost::View> RawHost::NextView(std::chrono::milliseconds limit) {
  if (m_stash.empty()) return Cut(limit);
  m_current = std::move(m_stash.front());
  m_stash.erase(m_stash.begin());
  return View{m_current.data(), m_current.size()};
}

std::optional<RawHost::View> RawHost::Cut(std::chrono::milliseconds limit) {
  const bool forever = limit < 0ms;
  auto deadline = Clock::now() + (forever ? 0ms : limit);
  for (;;) {
    if (m_end - m_begin >= 2) {
      size_t length = ReadU16(m_buf.data() + m_begin);
      if (length < kHeaderLength) throw std::runtime_error("raw host: bad frame length");
      if (m_end - m_begin >= length) {
        View v{m_buf.data() + m_begin, length};
        m_begin += length;
        return v;
      }
    }
    if (!Fill(forever ? -1 : MsLeft(deadline))) return std::nullopt;
  }
}

std::optional<Bytes> RawHost::NextAny(std::chrono::milliseconds limit) {
  auto v = NextView(limit);
  if (!v) return std::nullopt;
  return Bytes(v->data, v->data + v->size);
}

void RawHost::TakeFlow(const uint8_t* frame, size_t size) {
  for (size_t i = kHeaderLength; i + 3 <= size; i += 3) {
    if (frame[i + 2] == 0)
      ++m_keepAlives;
    else
      m_granted[ReadU16(frame + i)] += frame[i + 2];
  }
}

long RawHost::Granted(uint16_t socket) const {
  auto at = m_granted.find(socket);
  return at == m_granted.end() ? 0 : at->second;
}

std::optional<Bytes> RawHost::Next(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (auto v = NextView(std::chrono::milliseconds(MsLeft(deadline)))) {
    if (v->Socket() != kFlowSocket) return Bytes(v->data, v->data + v->size);
    TakeFlow(v->data, v->size);
  }
  return std::nullopt;
}

bool RawHost::WaitFlow(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (!done()) {
    auto v = Cut(std::chrono::milliseconds(MsLeft(deadline)));  // past the stash: it holds no flow frames
    if (!v) return false;
    if (v->Socket() == kFlowSocket)
      TakeFlow(v->data, v->size);
    else
      m_stash.emplace_back(v->data, v->data + v->size);
  }
  return true;
}

bool RawHost::WaitGranted(uint16_t socket, long total, std::chrono::milliseconds limit) {
  return WaitFlow([&] { return Granted(socket) >= total; }, limit);
}

bool RawHost::WaitKeepAlives(long total, std::chrono::milliseconds limit) {
  return WaitFlow([&] { return m_keepAlives >= total; }, limit);
}

Bytes RawHost::ReadRaw(size_t n, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (m_end - m_begin < n && Fill(MsLeft(deadline))) {
  }
  size_t take = std::min(n, m_end - m_begin);
  Bytes r(m_buf.begin() + static_cast<long>(m_begin), m_buf.begin() + static_cast<long>(m_begin + take));
  m_begin += take;
  return r;
}

bool RawHost::Finish(std::chrono::milliseconds limit) {
  ::shutdown(m_fd, SHUT_WR);
  return ClosedByPeer(limit);
}

bool RawHost::ClosedByPeer(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  for (;;) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, MsLeft(deadline)) <= 0) return false;
    uint8_t b[4096];
    ssize_t n = ::read(m_fd, b, sizeof b);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0) return false;
  }
}

Bytes RawHost::RedCard() {
  SendBytes(support::RedCard());
  auto f = NextAny();
  return f ? *f : Bytes{};
}

void RawHost::Start(uint16_t cfg, uint16_t evt, uint16_t opn) {
  RedCard();
  for (uint16_t s : {cfg, evt, opn}) Grant(s, 235);
}

Bytes RawHost::Ask(uint16_t socket, const Bytes& payload) {
  Send(socket, payload);
  auto deadline = Clock::now() + 5s;
  while (auto f = Next(std::chrono::milliseconds(MsLeft(deadline))))
    if (ReadU16(f->data() + 2) == socket) return Bytes(f->begin() + kHeaderLength, f->end());
  return {};
}

Bytes RawHost::Open(const Bytes& key, const Bytes& params) { return Ask(2, Join({{0x09}, key, params})); }

uint16_t RawHost::OpenSocket(const Bytes& key, const Bytes& params) {
  Bytes r = Open(key, params);
  if (r.size() < 2 || r[0] != 0x09) return 0xFFFD;
  return ReadU16(&r[r.size() - 2]);
}

std::vector<Bytes> WalkModules(RawHost& h, int list) {
  std::vector<Bytes> out;
  Bytes reply = h.Ask(0, Bytes{static_cast<uint8_t>(list == 1 ? 0x01 : 0x12)});
  for (int guard = 0; !reply.empty() && reply[0] != 0x0E && guard < 100; ++guard) {
    out.push_back(reply);
    Bytes next = reply;
    next[0] = list == 1 ? 0x02 : 0x13;
    reply = h.Ask(0, next);
  }
  return out;
}

std::vector<Bytes> WalkCus(RawHost& h, const Bytes& moduleRecord) {
  std::vector<Bytes> out;
  Bytes req = moduleRecord;
  req[0] = 0x04;
  Bytes reply = h.Ask(0, req);
  for (int guard = 0; !reply.empty() && (reply[0] == 4 || reply[0] == 5) && guard < 100; ++guard) {
    out.push_back(reply);
    size_t key = 1;
    for (int t = 0; t < 3; ++t)
      key = static_cast<size_t>(std::find(reply.begin() + static_cast<long>(key), reply.end(), 0) - reply.begin()) + 1;
    Bytes next(reply.begin(), reply.begin() + static_cast<long>(key));
    next[0] = 0x05;
    reply = h.Ask(0, next);
  }
  return out;
}

std::vector<std::string> Texts(const Bytes& payload, int count) {
  std::vector<std::string> t;
  size_t pos = 1;
  for (int i = 0; i < count && pos < payload.size(); ++i) {
    auto z = std::find(payload.begin() + static_cast<long>(pos), payload.end(), 0);
    t.emplace_back(payload.begin() + static_cast<long>(pos), z);
    pos = static_cast<size_t>(z - payload.begin()) + 1;
  }
  return t;
}

}  // namespace support

// The scripted instrument's reading loop, conversation bookkeeping and stream source.
#include "support/FakeInstrument.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace support {

FakeInstrument::FakeInstrument(int fd) : m_fd(fd) {}

FakeInstrument::~FakeInstrument() { Close(); }

std::pair<std::unique_ptr<FakeInstrument>, int> FakeInstrument::Pair() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return {nullptr, -1};
  return {std::make_unique<FakeInstrument>(fds[0]), fds[1]};
}

void FakeInstrument::SetControlSockets(long cfg, long evt, long opn) {
  m_cfg = cfg;
  m_evt = evt;
  m_opn = opn;
}

void FakeInstrument::Expect(long socket, const Bytes& payload, const std::vector<Bytes>& replies) {
  std::lock_guard<std::mutex> g(m_lock);
  m_steps.push_back({socket, payload, replies});
}

void FakeInstrument::Start() {
  m_thread = std::thread([this] { Run(); });
}

void FakeInstrument::Close() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

void FakeInstrument::HalfClose() {
  if (m_fd >= 0) shutdown(m_fd, SHUT_WR);
}

void FakeInstrument::WriteAll(const uint8_t* p, size_t n) {
  std::lock_guard<std::mutex> g(m_writeLock);
  size_t done = 0;
  while (done < n && m_fd >= 0) {
    ssize_t w = send(m_fd, p + done, n - done, MSG_NOSIGNAL);
    if (w < 0 && errno == ENOTSOCK) w = write(m_fd, p + done, n - done);  // a pty master
    if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (w <= 0) return;
    done += static_cast<size_t>(w);
  }
}

void FakeInstrument::WriteAll(const Bytes& raw) { WriteAll(raw.data(), raw.size()); }

void FakeInstrument::Send(const Bytes& raw) { WriteAll(raw); }

void FakeInstrument::Stream(long socket, long count, int size) {
  std::lock_guard<std::mutex> g(m_lock);
  m_streamSocket = socket;
  m_streamSize = size;
  m_streamLeft = count;
}

bool FakeInstrument::Streaming() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_streamLeft > 0 && m_credits[m_streamSocket] > 0;
}

void FakeInstrument::Pump() {
  long socket, frames;
  size_t length;
  {
    std::lock_guard<std::mutex> g(m_lock);
    socket = m_streamSocket;
    length = static_cast<size_t>(m_streamSize) + kHeaderLength;
    frames = std::min({m_credits[socket], m_streamLeft, 64L});
    m_credits[socket] -= frames;
    m_streamLeft -= frames;
  }
  m_batch.resize(length * static_cast<size_t>(frames));
  for (long k = 0; k < frames; ++k) PutHeader(m_batch.data() + length * static_cast<size_t>(k), length, socket);
  WriteAll(m_batch.data(), m_batch.size());
}

void FakeInstrument::Run() {
  Bytes input;
  uint8_t chunk[8192];
  while (!m_stop) {
    const bool streaming = Streaming();
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, streaming ? 0 : 20) > 0) {
      ssize_t n = read(m_fd, chunk, sizeof chunk);
      if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        m_peerClosed = true;
        break;
      }
      input.insert(input.end(), chunk, chunk + n);
      while (input.size() >= 2) {
        size_t length = input[0] * 256u + input[1];
        if (length < 4) {
          std::lock_guard<std::mutex> g(m_lock);
          m_errors.push_back("host sent a frame shorter than its header");
          input.clear();
          break;
        }
        if (input.size() < length) break;
        OnFrame(Bytes(input.begin(), input.begin() + static_cast<long>(length)));
        input.erase(input.begin(), input.begin() + static_cast<long>(length));
      }
    }
    if (streaming) Pump();
  }
}

void FakeInstrument::OnFlow(const Bytes& frame) {
  if (frame.size() >= 6 && frame[4] == 0xFF && frame[5] == 0xFF) {
    Bytes answer;
    {
      std::lock_guard<std::mutex> g(m_lock);
      ++m_redCards;
      answer = m_answer;
    }
    m_changed.notify_all();
    WriteAll(answer);
    return;
  }
  std::lock_guard<std::mutex> g(m_lock);
  for (size_t ofs = 4; ofs + 3 <= frame.size(); ofs += 3) {
    long socket = frame[ofs] * 256 + frame[ofs + 1];
    int count = frame[ofs + 2];
    if (count == 0) {
      ++m_keepAlives;
    } else {
      m_grants.emplace_back(socket, count);
      m_credits[socket] += count;
    }
  }
  m_changed.notify_all();
}

void FakeInstrument::OnFrame(const Bytes& frame) {
  long socket = frame[2] * 256 + frame[3];
  if (socket == kFlowSocket) return OnFlow(frame);
  if (socket == m_echoSocket.load()) {
    Bytes reply = Grant(socket, 1);
    reply.insert(reply.end(), frame.begin(), frame.end());
    return WriteAll(reply);
  }
  Bytes payload(frame.begin() + 4, frame.end());
  std::vector<Bytes> replies;
  {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_next < m_steps.size() && m_steps[m_next].socket == socket && m_steps[m_next].payload == payload) {
      replies = m_steps[m_next++].replies;
    } else {
      std::string expected = m_next < m_steps.size() ? "socket " + std::to_string(m_steps[m_next].socket) + ": " +
                                                           Hex(m_steps[m_next].payload)
                                                     : "nothing";
      m_errors.push_back("unexpected frame on socket " + std::to_string(socket) + ": " + Hex(payload) + "(expected " +
                         expected + ")");
    }
  }
  m_changed.notify_all();
  for (const auto& r : replies) WriteAll(r);
  if (m_autoGrant && (socket == m_cfg || socket == m_opn)) WriteAll(Grant(socket, 1));
}

bool FakeInstrument::WaitFor(const std::function<bool()>& pred, unsigned ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {  // pred may use the accessors, so it runs without the lock
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::unique_lock<std::mutex> g(m_lock);
    m_changed.wait_for(g, std::chrono::milliseconds(20));
  }
}

bool FakeInstrument::WaitConsumed(unsigned ms) {
  return WaitFor([this] { return StepsLeft() == 0; }, ms);
}

std::vector<std::string> FakeInstrument::Errors() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_errors;
}

int FakeInstrument::RedCards() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_redCards;
}

int FakeInstrument::KeepAlives() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_keepAlives;
}

std::vector<std::pair<long, int>> FakeInstrument::Grants() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_grants;
}

int FakeInstrument::GrantsFor(long socket) {
  std::lock_guard<std::mutex> g(m_lock);
  int n = 0;
  for (auto& [s, c] : m_grants)
    if (s == socket) ++n;
  return n;
}

size_t FakeInstrument::StepsLeft() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_steps.size() - m_next;
}

}  // namespace support

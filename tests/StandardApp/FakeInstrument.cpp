// FakeInstrument.cpp: the scripted instrument's reading loop and conversation bookkeeping.
#include "FakeInstrument.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

Bytes MakeFrame(long socket, const Bytes& payload) {
  size_t length = payload.size() + 4;
  Bytes frame{static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(socket >> 8),
              static_cast<uint8_t>(socket & 0xFF)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Z(const std::string& text) {
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  return b;
}

Bytes U16(unsigned value) { return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)}; }

std::string Hex(const Bytes& bytes) {
  std::string s;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    s += buf;
  }
  return s;
}

FakeInstrument::FakeInstrument(int fd) : m_fd(fd) {}

FakeInstrument::~FakeInstrument() { Close(); }

std::pair<FakeInstrument*, int> FakeInstrument::Pair() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return {nullptr, -1};
  return {new FakeInstrument(fds[0]), fds[1]};
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

void FakeInstrument::WriteAll(const Bytes& raw) {
  std::lock_guard<std::mutex> g(m_writeLock);
  size_t done = 0;
  while (done < raw.size() && m_fd >= 0) {
    ssize_t n = write(m_fd, raw.data() + done, raw.size() - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void FakeInstrument::Send(const Bytes& raw) { WriteAll(raw); }

void FakeInstrument::Run() {
  Bytes input;
  uint8_t chunk[8192];
  while (!m_stop) {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
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
    if (count == 0)
      ++m_keepAlives;
    else
      m_grants.emplace_back(socket, count);
  }
  m_changed.notify_all();
}

void FakeInstrument::OnFrame(const Bytes& frame) {
  long socket = frame[2] * 256 + frame[3];
  if (socket == 0xFFFF) return OnFlow(frame);
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
  if (m_autoGrant && (socket == m_cfg || socket == m_opn)) WriteAll(MakeFrame(0xFFFF, Join({U16(socket), {1}})));
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

// MiniInstrument.cpp: the in-process instrument's replies and its credit-bound frame pump.
#include "MiniInstrument.h"

#include <tuple>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace zbench {

namespace {
constexpr uint16_t kFlow = 0xFFFF, kCfg = 0, kOpen = 2, kDataSocket = 16;
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void SendAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) throw std::runtime_error("mini instrument: send failed");
    p += w;
    n -= static_cast<size_t>(w);
  }
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> head, const std::string& texts = "") {
  std::vector<uint8_t> b(head);
  b.insert(b.end(), texts.begin(), texts.end());
  return b;
}
}  // namespace

std::pair<int, int> LoopbackPair() {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(listener, 1);
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  int nearEnd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(nearEnd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("loopback connect");
  int farEnd = accept(listener, nullptr, nullptr);
  close(listener);
  int on = 1;
  setsockopt(nearEnd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(farEnd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return {nearEnd, farEnd};
}

MiniInstrument::MiniInstrument() {
  std::tie(m_hostFd, m_fd) = LoopbackPair();
  m_thread = std::thread([this] { Run(); });
}

MiniInstrument::~MiniInstrument() {
  shutdown(m_fd, SHUT_RDWR);
  m_thread.join();
  close(m_fd);
}

void MiniInstrument::Arm(long count, int size) {
  m_size.store(size);
  m_remaining.store(count);
}

void MiniInstrument::Reply(uint16_t socket, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame(payload.size() + 4);
  frame[0] = static_cast<uint8_t>(frame.size() >> 8);
  frame[1] = static_cast<uint8_t>(frame.size());
  frame[2] = static_cast<uint8_t>(socket >> 8);
  frame[3] = static_cast<uint8_t>(socket);
  std::memcpy(frame.data() + 4, payload.data(), payload.size());
  SendAll(m_fd, frame.data(), frame.size());
}

bool MiniInstrument::HandleFrame(const uint8_t* f, size_t n) {
  uint16_t socket = U16(f + 2);
  const uint8_t* p = f + 4;
  size_t len = n - 4;
  if (socket == kFlow) {
    if (len == 2 && U16(p) == 0xFFFF) Reply(kFlow, {0xFF, 0xFF});  // red card answer, sockets 0, 1, 2
    for (size_t i = 0; len != 2 && i + 3 <= len; i += 3)
      if (U16(p + i) == kDataSocket) m_credits += p[i + 2];
    return true;
  }
  // Every frame the host sends uses one of its send credits: give it back, as an instrument does.
  Reply(kFlow, {static_cast<uint8_t>(socket >> 8), static_cast<uint8_t>(socket), 1});
  if (socket == kCfg && len > 0) {
    if (p[0] == 0x01)
      Reply(kCfg, Bytes({0x01}, std::string("BENCH-1\0"
                                            "000001\0",
                                            15)));
    else if (p[0] == 0x04)
      Reply(kCfg, Bytes({0x04}, std::string("BENCH\0DATA\0DA\0\x10\x11\x90\x04\x00\x80", 20)));
    else if (p[0] == 0x07)
      return false;
    else
      Reply(kCfg, {0x0E});  // every "next" and list 2: end of list
  } else if (socket == kOpen && len > 0) {
    std::vector<uint8_t> reply(p, p + len);
    if (p[0] == 0x09) reply.insert(reply.end(), {0, kDataSocket});
    Reply(kOpen, reply);  // a close (0A, socket) is answered with itself
  }
  return true;
}

void MiniInstrument::Pump() {
  int size = m_size.load();
  size_t frameLength = static_cast<size_t>(size) + 4;
  static thread_local std::vector<uint8_t> batch;
  long frames = std::min({m_credits, m_remaining.load(), 64L});
  batch.resize(frameLength * static_cast<size_t>(frames));
  for (long k = 0; k < frames; ++k) {
    uint8_t* f = batch.data() + frameLength * static_cast<size_t>(k);
    f[0] = static_cast<uint8_t>(frameLength >> 8);
    f[1] = static_cast<uint8_t>(frameLength);
    f[2] = 0;
    f[3] = kDataSocket;
  }
  SendAll(m_fd, batch.data(), batch.size());
  m_credits -= frames;
  m_remaining -= frames;
}

void MiniInstrument::Run() {
  std::vector<uint8_t> in(1 << 16);
  size_t begin = 0, end = 0;
  try {
    for (;;) {
      bool sending = m_credits > 0 && m_remaining.load() > 0;
      pollfd p{m_fd, POLLIN, 0};
      if (poll(&p, 1, sending ? 0 : 20) > 0) {
        ssize_t r = recv(m_fd, in.data() + end, in.size() - end, 0);
        if (r <= 0) return;
        end += static_cast<size_t>(r);
        while (end - begin >= 4 && end - begin >= U16(in.data() + begin)) {
          size_t n = U16(in.data() + begin);
          if (n < 4 || !HandleFrame(in.data() + begin, n)) return;
          begin += n;
        }
        std::memmove(in.data(), in.data() + begin, end - begin);
        end -= begin;
        begin = 0;
      }
      if (m_credits > 0 && m_remaining.load() > 0) Pump();
    }
  } catch (const std::exception&) {
    // the host went away
  }
}

}  // namespace zbench

// RawZemat.cpp: the baseline client's handshake, frame cutting and credit handling.
#include "RawZemat.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace zbench {

namespace {
constexpr uint16_t kFlow = 0xFFFF;
constexpr uint16_t kOpenSocket = 2;  // red-card answer of length 6: control sockets 0, 1, 2
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

std::vector<uint8_t> OpenRequest(const std::string& cu) {
  // Key and buffer parameters exactly as the benchmark instrument describes the CU.
  std::string owner = "BENCH", desc = cu == "DA" ? "DATA" : "ECHO";
  std::vector<uint8_t> r{0x09};
  for (const std::string* t : std::initializer_list<const std::string*>{&owner, &desc, &cu}) {
    r.insert(r.end(), t->begin(), t->end());
    r.push_back(0);
  }
  int outCount = cu == "DA" ? 16 : 4, inSize = cu == "DA" ? 128 : 4496;
  r.insert(r.end(), {static_cast<uint8_t>(outCount), 4496 >> 8, 4496 & 0xFF, 4, static_cast<uint8_t>(inSize >> 8),
                     static_cast<uint8_t>(inSize & 0xFF)});
  return r;
}
}  // namespace

RawZemat::RawZemat(int dataPort, const std::string& cuName) : m_buffer(1 << 16) {
  m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(dataPort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("raw: connect");
  int on = 1;
  setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  Handshake(cuName);
}

RawZemat::RawZemat(Adopt connected, const std::string& cuName) : m_fd(connected.fd), m_buffer(1 << 16) {
  Handshake(cuName);
}

void RawZemat::Handshake(const std::string& cuName) {
  const uint8_t redCard[] = {0, 6, 0xFF, 0xFF, 0xFF, 0xFF};
  if (send(m_fd, redCard, sizeof redCard, MSG_NOSIGNAL) != 6) throw std::runtime_error("raw: red card");
  size_t n = 0;
  for (const uint8_t* f = NextFrame(&n);; f = NextFrame(&n))
    if (U16(f + 2) == kFlow && n >= 6 && U16(f + 4) == 0xFFFF) break;
  // The open reply needs a read credit on the open CU, as every frame from the instrument does.
  const uint8_t openGrant[] = {0, kOpenSocket, 235};
  SendFrame(kFlow, openGrant, sizeof openGrant);
  std::vector<uint8_t> request = OpenRequest(cuName);
  SendFrame(kOpenSocket, request.data(), request.size());
  for (;;) {
    const uint8_t* f = NextFrame(&n);
    if (U16(f + 2) == kOpenSocket && f[4] == 0x09 && n >= request.size() + 6) {
      m_socket = U16(f + n - 2);
      break;
    }
    if (U16(f + 2) == kOpenSocket) throw std::runtime_error("raw: open refused");
  }
  m_sendCredits = 1;  // the host's own first credit; the instrument's grants follow
}

RawZemat::~RawZemat() {
  if (m_fd >= 0) close(m_fd);
}

void RawZemat::SendFrame(uint16_t socket, const uint8_t* payload, size_t n) {
  uint8_t frame[4500];
  size_t length = n + 4;
  frame[0] = static_cast<uint8_t>(length >> 8);
  frame[1] = static_cast<uint8_t>(length);
  frame[2] = static_cast<uint8_t>(socket >> 8);
  frame[3] = static_cast<uint8_t>(socket);
  std::memcpy(frame + 4, payload, n);
  if (send(m_fd, frame, length, MSG_NOSIGNAL) != static_cast<ssize_t>(length)) throw std::runtime_error("raw: send");
}

void RawZemat::Fill() {
  if (m_begin > 0) {
    std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
  }
  ssize_t n = recv(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end, 0);
  if (n <= 0) throw std::runtime_error("raw: connection ended");
  m_end += static_cast<size_t>(n);
}

const uint8_t* RawZemat::NextFrame(size_t* length) {
  for (;;) {
    if (m_end - m_begin >= 2) {
      size_t n = U16(m_buffer.data() + m_begin);
      if (n < 4 || n > 4500) throw std::runtime_error("raw: bad frame length");
      if (m_end - m_begin >= n) {
        const uint8_t* f = m_buffer.data() + m_begin;
        m_begin += n;
        *length = n;
        if (U16(f + 2) == kFlow && U16(f + 4) != 0xFFFF)
          for (size_t i = 4; i + 3 <= n; i += 3)
            if (U16(f + i) == m_socket && m_socket != 0) m_sendCredits += f[i + 2];
        return f;
      }
    }
    Fill();
  }
}

void RawZemat::GrantIfLow() {
  if (m_readCredits > 20) return;
  const uint8_t grant[] = {static_cast<uint8_t>(m_socket >> 8), static_cast<uint8_t>(m_socket), 235};
  SendFrame(kFlow, grant, sizeof grant);
  m_readCredits += 235;
}

long RawZemat::ReadFrames(long count) {
  long bytes = 0;
  for (long got = 0; got < count;) {
    GrantIfLow();
    size_t n = 0;
    const uint8_t* f = NextFrame(&n);
    if (U16(f + 2) != m_socket) continue;
    ++got;
    --m_readCredits;
    bytes += static_cast<long>(n) - 4;
  }
  return bytes;
}

size_t RawZemat::RoundTrip(const uint8_t* payload, size_t n) {
  GrantIfLow();
  while (m_sendCredits <= 0) {
    size_t length = 0;
    NextFrame(&length);  // flow frames bring the credits
  }
  --m_sendCredits;
  SendFrame(m_socket, payload, n);
  for (;;) {
    size_t length = 0;
    const uint8_t* f = NextFrame(&length);
    if (U16(f + 2) == m_socket) {
      --m_readCredits;
      return length - 4;
    }
  }
}

}  // namespace zbench

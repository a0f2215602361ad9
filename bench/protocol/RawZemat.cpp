// RawZemat.cpp: the baseline client's handshake and its credit handling around the raw host's frames.
#include "RawZemat.h"

#include <stdexcept>

namespace zbench {

namespace {
constexpr uint16_t kOpenSocket = 2;  // red-card answer of length 6: control sockets 0, 1, 2
}  // namespace

RawZemat::RawZemat(int dataPort, const support::CuModel& cu) : m_host(support::RawHost::Tcp(dataPort)) {
  Handshake(cu);
}

RawZemat::RawZemat(Adopt connected, const support::CuModel& cu) : m_host(support::RawHost::Adopt(connected.fd)) {
  Handshake(cu);
}

void RawZemat::Handshake(const support::CuModel& cu) {
  if (m_host.RedCard() != support::RedCard()) throw std::runtime_error("raw: no red-card answer");
  // The open reply needs a read credit on the open CU, as every frame from the instrument does.
  m_host.Grant(kOpenSocket, 235);
  m_socket = m_host.OpenSocket(support::Key(cu.owner, cu.desc, cu.name), support::CuParams(cu));
  if (m_socket == 0xFFFD) throw std::runtime_error("raw: open refused");
}

support::RawHost::View RawZemat::Next() {
  for (;;) {
    auto v = m_host.NextView(support::kForever);
    if (!v) throw std::runtime_error("raw: connection ended");
    if (v->Socket() != support::kFlowSocket) return *v;
    m_host.TakeFlow(v->data, v->size);
  }
}

void RawZemat::GrantIfLow() {
  if (m_readCredits > 20) return;
  m_host.Grant(m_socket, 235);
  m_readCredits += 235;
}

long RawZemat::ReadFrames(long count) {
  long bytes = 0;
  for (long got = 0; got < count;) {
    GrantIfLow();
    support::RawHost::View f = Next();
    if (f.Socket() != m_socket) continue;
    ++got;
    --m_readCredits;
    bytes += static_cast<long>(f.size - support::kHeaderLength);
  }
  return bytes;
}

size_t RawZemat::RoundTrip(const uint8_t* payload, size_t n) {
  GrantIfLow();
  while (SendCredits() <= 0) {  // flow frames bring the credits
    auto v = m_host.NextView(support::kForever);
    if (!v) throw std::runtime_error("raw: connection ended");
    if (v->Socket() == support::kFlowSocket) m_host.TakeFlow(v->data, v->size);
  }
  ++m_sent;
  m_host.SendFrame(m_socket, payload, n);
  for (;;) {
    support::RawHost::View f = Next();
    if (f.Socket() == m_socket) {
      --m_readCredits;
      return f.size - support::kHeaderLength;
    }
  }
}

}  // namespace zbench

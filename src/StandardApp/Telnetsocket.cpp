// Telnetsocket.cpp: CTelnetSocket: connect with a time-out, line sending and prompt-driven reading.
#include "StandardApp/Telnetsocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "StandardApp/Netutil.h"

CTelnetSocket::CTelnetSocket(int port) : m_port(port), m_recvBuffer(512), m_sendBuffer(128) {}

CTelnetSocket::~CTelnetSocket() {
  if (m_connected) Disconnect();
}

int CTelnetSocket::ConnectTo(const std::string& host, int timeoutSeconds) {
  sockaddr_in address{};
  if (!znet::Resolve(host, m_port, address)) return HOST_NOT_FOUND;
  m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (m_socket < 0) return NO_SOCKET;
  int rc = znet::ConnectWithin(m_socket, address, timeoutSeconds * 1000, m_cancel);
  if (rc != 0) {
    znet::AbortClose(m_socket);
    return rc == 5 ? CONNECT_TIMEOUT : CONNECT_FAILED;
  }
  m_connected = true;
  m_promptPending = true;
  return CONNECTED;
}

int CTelnetSocket::SendLine(const std::string& text) {
  int length = static_cast<int>(text.size());
  if (!m_connected || length == 0 || length > 127) return 0;
  std::memcpy(m_sendBuffer.data(), text.data(), length);
  m_sendBuffer[length] = '\n';
  int sent = 0;
  while (sent < length + 1) {
    ssize_t n = send(m_socket, m_sendBuffer.data() + sent, length + 1 - sent, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      pollfd p{m_socket, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) break;
      continue;
    }
    if (n <= 0) break;
    sent += static_cast<int>(n);
  }
  return sent > 0 ? sent - 1 : 0;
}

int CTelnetSocket::ReadUntilPrompt(std::string& out, unsigned timeoutMs) {
  if (!m_connected) return 0;
  out.clear();
  int total = 0;
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    long left = static_cast<long>(timeoutMs) - static_cast<long>(elapsed.count());
    if (left <= 0 || (m_cancel && m_cancel->load())) return total;
    pollfd p{m_socket, POLLIN, 0};
    if (poll(&p, 1, left < 50 ? static_cast<int>(left) : 50) <= 0) continue;
    // At most 511 characters of a chunk reach the text (the buffer keeps its terminator).
    ssize_t n = recv(m_socket, m_recvBuffer.data(), m_recvBuffer.size() - 1, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      m_promptPending = false;  // the console closed the connection
      return total;
    }
    if (n < 0) continue;
    out.append(m_recvBuffer.data(), n);
    total += static_cast<int>(n);
    if (n >= 2 && m_recvBuffer[n - 2] == '>' && m_recvBuffer[n - 1] == ' ') return total;
  }
}

void CTelnetSocket::Disconnect() {
  if (!m_connected) return;
  if (m_promptPending) {
    std::string scratch;
    ReadUntilPrompt(scratch, 200);
    m_promptPending = false;
  }
  close(m_socket);
  m_socket = -1;
  m_connected = false;
}

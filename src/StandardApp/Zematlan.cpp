// Zematlan.cpp: CZematInstr's transports: preparing the network card over its console, the TCP
// data connection, the serial port, and the byte-level send and receive used by the framing.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "StandardApp/Netutil.h"
#include "StandardApp/Telnetsocket.h"
#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"

bool CZematInstr::OpenTransport(int comPort, const char* host) {
  if (comPort != 0) {
    m_lan = 0;
    return comPort > 0 && OpenSerial(comPort);
  }
  m_lan = 1;
  return host && *host && SetupNetworkCard(host) && OpenLan(host);
}

bool CZematInstr::SetupNetworkCard(const char* host) {
  CTelnetSocket console(m_telnetPort);
  int rc = console.ConnectTo(host, 3);
  if (rc != CTelnetSocket::CONNECTED) {
    Tracer().Trace(1, "CZematInstr::SetupNetworkCard", "console of %s not reached (%d)", host, rc);
    return false;
  }
  std::string greeting;
  console.ReadUntilPrompt(greeting, 1000);
  bool ready = true;
  if (greeting.find("Zent Portlink") != std::string::npos) {
    for (const char* setting : {"\n", "write-mode: eoi_push", "buffer-packing: off"}) {
      console.SendLine(setting);
      std::string reply;
      console.ReadUntilPrompt(reply, 1000);
      if (reply != "> ") {
        Tracer().Trace(1, "CZematInstr::SetupNetworkCard", "setting \"%s\" rejected", setting);
        ready = false;
        break;
      }
    }
  }
  console.SendLine("quit");
  console.Disconnect();
  return ready;
}

bool CZematInstr::OpenLan(const char* host) {
  sockaddr_in remote{};
  if (!znet::Resolve(host, m_dataPort, remote)) return false;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return false;
  if (znet::ConnectWithin(fd, remote, 3000) != 0) {
    CloseSocket(fd, true);
    return false;
  }
  znet::SetNonBlocking(fd, false);
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  m_socket = fd;
  BoundSends();
  return true;
}

void CZematInstr::BoundSends() {
  // An instrument that stops reading must not hold the writer (and a disconnect) in send for ever.
  unsigned ms = m_timeout.load();
  timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
  setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

bool CZematInstr::CloseSocket(int& socket, bool abort) {
  if (socket < 0) return true;
  if (abort) {
    znet::AbortClose(socket);
    return true;
  }
  shutdown(socket, SHUT_RDWR);
  int rc = close(socket);
  socket = -1;
  return rc == 0;
}

bool CZematInstr::OpenSerial(int n) {
  if (!m_comm.Open(SerialDevice(n), 5000, 5000)) return false;
  if (!m_comm.Configure("19200,n,8,1"))
    Tracer().Trace(2, "CZematInstr::OpenSerial", "settings of COM%d not accepted, driver settings kept", n);
  return true;
}

void CZematInstr::CloseTransport() {
  CloseSocket(m_socket, false);
  m_comm.Close();
}

int CZematInstr::TransportSend(const uint8_t* bytes, int count, int& sent) {
  sent = 0;
  if (m_lan == 0) return m_comm.Write(bytes, count);
  if (m_socket < 0) return -1;
  while (sent < count) {  // a short write is completed: frames are never cut on the host side
    ssize_t n = send(m_socket, bytes + sent, count - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    sent += static_cast<int>(n);
  }
  return sent;
}

int CZematInstr::TransportReceive(uint8_t* into, int count, unsigned waitMs) {
  if (m_lan == 0) return m_comm.Read(into, count);
  if (m_socket < 0) return -1;
  pollfd p{m_socket, POLLIN, 0};
  int r = poll(&p, 1, static_cast<int>(waitMs));
  if (r <= 0) return r < 0 && errno != EINTR ? -1 : 0;
  ssize_t n = recv(m_socket, into, count, 0);
  if (n > 0) return static_cast<int>(n);
  // End of stream or a reset: nothing more will come; pace the caller instead of spinning.
  std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
  return n == 0 ? 0 : -1;
}

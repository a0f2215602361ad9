// Zematlan.cpp: opening CZematInstr's transports: preparing the network card over its console, the
// TCP data connection and the serial port.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "StandardApp/Netutil.h"
#include "StandardApp/Telnetsocket.h"
#include "StandardApp/Tracer.h"
#include "StandardApp/Zematcore.h"

bool CZematInstr::OpenTransport(int comPort, const char* host) {
  if (comPort != 0) return comPort > 0 && OpenSerial(comPort);
  return host && *host && SetupNetworkCard(host) && OpenLan(host);
}

bool CZematInstr::SetupNetworkCard(const char* host) {
  CTelnetSocket console(m_telnetPort);
  console.SetCancelFlag(&m_cancel);
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
  return ready && !m_cancel.load();
}

bool CZematInstr::OpenLan(const char* host) {
  sockaddr_in remote{};
  if (!znet::Resolve(host, m_dataPort, remote)) return false;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return false;
  if (znet::ConnectWithin(fd, remote, 3000, &m_cancel) != 0) {
    znet::AbortClose(fd);
    return false;
  }
  znet::SetNonBlocking(fd, false);
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  m_transport = std::make_unique<CSocketTransport>(fd, m_timeout.load());
  return true;
}

bool CZematInstr::OpenSerial(int n) {
  auto port = std::make_unique<CComm>();
  if (!port->Open(SerialDevice(n), 5000, 5000)) return false;
  if (!port->Configure("19200,n,8,1"))
    Tracer().Trace(2, "CZematInstr::OpenSerial", "settings of COM%d not accepted, driver settings kept", n);
  m_transport = std::make_unique<CSerialTransport>(std::move(port));
  return true;
}

// Telnetsocket.h: CTelnetSocket, the client of the network card's telnet console used to prepare
// the card before every LAN connection.
#pragma once

#include <atomic>
#include <string>
#include <vector>

class CTelnetSocket {
 public:
  // ConnectTo results.
  enum { CONNECTED = 0, NO_LIBRARY = 1, HOST_NOT_FOUND = 2, NO_SOCKET = 3, CONNECT_FAILED = 4, CONNECT_TIMEOUT = 5 };

  explicit CTelnetSocket(int port = 23);
  ~CTelnetSocket();
  CTelnetSocket(const CTelnetSocket&) = delete;
  CTelnetSocket& operator=(const CTelnetSocket&) = delete;

  int ConnectTo(const std::string& host, int timeoutSeconds);
  // Sends text and a line feed; returns the text bytes sent, 0 when not connected or the text is
  // empty or longer than 127 bytes.
  int SendLine(const std::string& text);
  // Collects what the console sends until a chunk ends in "> ", the peer closes or timeoutMs pass.
  int ReadUntilPrompt(std::string& out, unsigned timeoutMs);
  void Disconnect();
  bool IsConnected() const { return m_connected; }
  // Connecting and reading give up soon once *cancel becomes true.
  void SetCancelFlag(const std::atomic<bool>* cancel) { m_cancel = cancel; }

 private:
  int m_port;
  int m_socket = -1;
  bool m_connected = false;
  bool m_promptPending = false;
  const std::atomic<bool>* m_cancel = nullptr;
  std::vector<char> m_recvBuffer;
  std::vector<char> m_sendBuffer;
};

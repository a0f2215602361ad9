// Transport.h: the byte stream under the framing: one small interface, a TCP socket (the data port,
// or a connected stream a test hands in) and the serial port, so that the session never branches on
// the link kind.
#pragma once

#include <cstdint>
#include <memory>

#include "StandardApp/Comm.h"

class CTransport {
 public:
  virtual ~CTransport() = default;
  // Sends all bytes or fails: bytes sent, or -1; sent tells how many went out before a failure.
  virtual int Send(const uint8_t* bytes, int count, int& sent) = 0;
  // Waits up to waitMs for bytes: how many arrived (0: none), or -1 when the stream failed.
  virtual int Receive(uint8_t* into, int count, unsigned waitMs) = 0;
  // The peer closed its side or the link failed: no byte will come any more.
  virtual bool InputEnded() const { return false; }
  // The serial link reads in short slices and is paced by the caller.
  virtual bool IsSerial() const = 0;
};

// A connected stream socket; closed (shut down first) when the transport goes.
class CSocketTransport : public CTransport {
 public:
  // Owns fd. sendLimitMs bounds each send, so that an instrument that stops reading cannot hold the
  // writer (and a disconnect) for ever.
  CSocketTransport(int fd, unsigned sendLimitMs);
  ~CSocketTransport() override;
  CSocketTransport(const CSocketTransport&) = delete;
  CSocketTransport& operator=(const CSocketTransport&) = delete;
  int Send(const uint8_t* bytes, int count, int& sent) override;
  int Receive(uint8_t* into, int count, unsigned waitMs) override;
  bool IsSerial() const override { return false; }
  bool InputEnded() const override { return m_ended; }

 private:
  int m_fd;
  bool m_ended = false;   // read only by the thread that receives
  bool m_filled = false;  // the last receive filled its space: more is likely waiting, skip the poll
};

// The serial port (or an adopted pty in tests and tools).
class CSerialTransport : public CTransport {
 public:
  explicit CSerialTransport(std::unique_ptr<CComm> port) : m_port(std::move(port)) {}
  int Send(const uint8_t* bytes, int count, int& sent) override;
  int Receive(uint8_t* into, int count, unsigned waitMs) override;
  bool IsSerial() const override { return true; }

 private:
  std::unique_ptr<CComm> m_port;
};

// Comm.h: CComm, the serial port (termios): 19200 8N1, short read time-outs, one read or write
// call each, with the longest call durations recorded.
#pragma once

#include <cstdint>
#include <string>

class CComm {
 public:
  CComm() = default;
  ~CComm();
  CComm(const CComm&) = delete;
  CComm& operator=(const CComm&) = delete;

  // Opens the device exclusively. The queue sizes are kept for the record (termios has none).
  bool Open(const std::string& device, int inQueue, int outQueue);
  // Applies a mode text such as "19200,n,8,1" plus the fixed flow settings and time-outs.
  bool Configure(const std::string& mode);
  // One read: waits up to about 10 ms for data; bytes read (possibly 0) or -1.
  int Read(void* buffer, int count);
  // Writes all bytes within 10 ms per byte + 1 ms; bytes written or -1.
  int Write(const void* buffer, int count);
  // Takes over an already open descriptor (a pty in tests and tools); no settings are changed.
  void Adopt(int fd);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  int Handle() const { return m_fd; }
  uint32_t LongestRead() const { return m_maxRead; }
  uint32_t LongestWrite() const { return m_maxWrite; }

 private:
  int m_fd = -1;
  uint32_t m_maxRead = 0;
  uint32_t m_maxWrite = 0;
};

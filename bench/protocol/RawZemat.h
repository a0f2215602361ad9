// RawZemat.h: the baseline client: a plain blocking socket that speaks just enough Zemat by hand (red
// card, one open, credit grants) and otherwise only cuts frames out of large reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zbench {

class RawZemat {
 public:
  // Connects to the data port, synchronises and opens the CU of kBenchConfig named cuName.
  RawZemat(int dataPort, const std::string& cuName);
  // The same over a stream already connected (the in-process instrument); takes fd over.
  struct Adopt {
    int fd;
  };
  RawZemat(Adopt connected, const std::string& cuName);
  ~RawZemat();
  RawZemat(const RawZemat&) = delete;
  RawZemat& operator=(const RawZemat&) = delete;

  // Reads count frames on the CU's socket (granting read credits in batches of 235 when 20 or fewer
  // remain, as the engine does); returns the payload bytes received.
  long ReadFrames(long count);
  // Sends one payload on the CU (waiting for a send credit) and returns the payload of the next frame
  // on the CU's socket.
  size_t RoundTrip(const uint8_t* payload, size_t n);

 private:
  void Handshake(const std::string& cuName);
  void SendFrame(uint16_t socket, const uint8_t* payload, size_t n);
  // The next frame of any socket (flow frames update the send credits on the way).
  const uint8_t* NextFrame(size_t* length);
  void Fill();
  void GrantIfLow();

  int m_fd = -1;
  uint16_t m_socket = 0;
  long m_sendCredits = 0;
  long m_readCredits = 0;
  std::vector<uint8_t> m_buffer;
  size_t m_begin = 0, m_end = 0;
};

}  // namespace zbench

// RawZemat.h: the baseline client: the support library's raw host opening one CU of the benchmark
// instrument and then only cutting frames out of large reads, with the engine's credit policy.
#pragma once

#include <cstdint>
#include <string>

#include "support/InstrumentModel.h"
#include "support/RawHost.h"

namespace zbench {

class RawZemat {
 public:
  // Connects to the data port, synchronises and opens the CU.
  RawZemat(int dataPort, const support::CuModel& cu);
  // The same over a stream already connected (the in-process instrument); takes fd over.
  struct Adopt {
    int fd;
  };
  RawZemat(Adopt connected, const support::CuModel& cu);

  // Reads count frames on the CU's socket (granting read credits in batches of 235 when 20 or fewer
  // remain, as the engine does); returns the payload bytes received.
  long ReadFrames(long count);
  // Sends one payload on the CU (waiting for a send credit) and returns the payload length of the next
  // frame on the CU's socket.
  size_t RoundTrip(const uint8_t* payload, size_t n);

 private:
  void Handshake(const support::CuModel& cu);
  // The next frame of any socket; flow frames update the send credits on the way.
  support::RawHost::View Next();
  void GrantIfLow();
  // The host's own first credit plus the instrument's grants, less what was sent.
  long SendCredits() const { return 1 + m_host.Granted(m_socket) - m_sent; }

  support::RawHost m_host;
  uint16_t m_socket = 0;
  long m_sent = 0;
  long m_readCredits = 0;
};

}  // namespace zbench

// MiniInstrument.h: a minimal instrument in the benchmark's own process, on one end of a loopback TCP
// connection: it answers the red card, the enumeration of one module with one CU "DA" and the open, then
// streams pre-built frames as fast as the host's read credits allow. It exists so that stream throughput
// can be measured above the simulator's own sending rate.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

namespace zbench {

// A connected loopback TCP pair with TCP_NODELAY on both ends: {near end, far end}.
std::pair<int, int> LoopbackPair();

class MiniInstrument {
 public:
  // Creates the connection; HostFd() is the host's end (its owner closes it).
  MiniInstrument();
  ~MiniInstrument();
  MiniInstrument(const MiniInstrument&) = delete;
  MiniInstrument& operator=(const MiniInstrument&) = delete;

  int HostFd() const { return m_hostFd; }
  // The next count messages of size payload bytes go out on the CU as credits come.
  void Arm(long count, int size);

 private:
  void Run();
  bool HandleFrame(const uint8_t* frame, size_t n);  // false at the goodbye
  void Reply(uint16_t socket, const std::vector<uint8_t>& payload);
  void Pump();

  int m_fd = -1, m_hostFd = -1;
  std::atomic<long> m_remaining{0};
  std::atomic<int> m_size{64};
  long m_credits = 0;
  std::vector<uint8_t> m_in;
  std::thread m_thread;
};

}  // namespace zbench

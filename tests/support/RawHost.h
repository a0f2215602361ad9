// The host's side of the Zemat wire, by hand: red card, credit grants, requests on the control CUs and
// frames cut from the stream; flow-socket grants and keep-alives are counted as they pass. The
// simulator's tests drive it step by step, the protocol benchmarks use it as their plain-socket baseline.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/Frames.h"

namespace support {

using namespace std::chrono_literals;

// A limit that blocks without one (the benchmarks' reads: no poll before each read).
inline constexpr std::chrono::milliseconds kForever{-1};

class RawHost {
 public:
  static RawHost Tcp(int port);
  static RawHost Serial(const std::string& path);
  // Takes over a stream that is already connected (the far end of an in-process instrument).
  static RawHost Adopt(int fd);
  RawHost(RawHost&& o) noexcept;
  RawHost& operator=(RawHost&&) = delete;
  ~RawHost();

  // A frame as read, header included; valid until the next read.
  struct View {
    const uint8_t* data;
    size_t size;
    uint16_t Socket() const { return ReadU16(data + 2); }
  };

  void SendBytes(const Bytes& b);
  void SendFrame(uint16_t socket, const uint8_t* payload, size_t n);
  void Send(uint16_t socket, const Bytes& payload) { SendFrame(socket, payload.data(), payload.size()); }
  void Grant(uint16_t socket, uint8_t count);
  // Red card; returns the answer frame.
  Bytes RedCard();
  // Red card plus read credits on the three control CUs (sockets 0, 1, 2 unless given).
  void Start(uint16_t cfg = 0, uint16_t evt = 1, uint16_t opn = 2);
  // Next frame not on the flow socket (flow frames are absorbed into the counters).
  std::optional<Bytes> Next(std::chrono::milliseconds limit = 5000ms);
  // Next frame of any kind, flow frames included (and not counted).
  std::optional<Bytes> NextAny(std::chrono::milliseconds limit = 5000ms);
  // The same without a copy; nothing on time-out or close.
  std::optional<View> NextView(std::chrono::milliseconds limit = 5000ms);
  // Counts a flow frame's grants and keep-alives.
  void TakeFlow(const uint8_t* frame, size_t size);
  // Raw bytes, up to n, whatever they are; empty on time-out or close.
  Bytes ReadRaw(size_t n, std::chrono::milliseconds limit = 5000ms);
  // Reads until the instrument has granted at least total send credits on socket (other frames are kept
  // for later); false on time-out.
  bool WaitGranted(uint16_t socket, long total, std::chrono::milliseconds limit = 5000ms);
  bool WaitKeepAlives(long total, std::chrono::milliseconds limit = 5000ms);
  // A configuration round trip: everything sent before it has been processed when it returns.
  void Sync() { Ask(0, Bytes{0x01}); }
  // Ends the stream from our side and reads until the peer closes: everything sent has then been processed.
  bool Finish(std::chrono::milliseconds limit = 10000ms);
  bool ClosedByPeer(std::chrono::milliseconds limit = 5000ms);
  // Request on a control CU, reply payload back (empty when none came).
  Bytes Ask(uint16_t socket, const Bytes& payload);
  // Opens a CU; returns the reply payload (open reply or refusal).
  Bytes Open(const Bytes& key, const Bytes& params);
  // The opened CU's socket, or 0xFFFD when the open was refused.
  uint16_t OpenSocket(const Bytes& key, const Bytes& params);

  // Send credits the instrument granted on socket so far.
  long Granted(uint16_t socket) const;
  bool EverGranted(uint16_t socket) const { return m_granted.count(socket) != 0; }
  // The instrument's own keep-alives seen.
  long KeepAlives() const { return m_keepAlives; }
  // Read calls that returned data.
  int Reads() const { return m_reads; }

 private:
  explicit RawHost(int fd);
  // Reads until done() holds, taking in flow frames and keeping the others for later.
  bool WaitFlow(const std::function<bool()>& done, std::chrono::milliseconds limit);
  // The next frame from the stream itself (not the stash).
  std::optional<View> Cut(std::chrono::milliseconds limit);
  // One read into the buffer; waitMs < 0 blocks. False on time-out or close.
  bool Fill(int waitMs);
  ssize_t WriteSome(const uint8_t* p, size_t n);

  int m_fd = -1;
  bool m_socket = true;  // a socket (send without SIGPIPE) rather than a tty
  std::vector<uint8_t> m_buf;
  size_t m_begin = 0, m_end = 0;  // unread bytes of m_buf
  std::vector<Bytes> m_stash;     // data frames read while waiting for flow frames
  Bytes m_current;                // the frame a View from the stash points into
  Bytes m_out;                    // the frame being sent
  std::map<uint16_t, long> m_granted;
  long m_keepAlives = 0;
  int m_reads = 0;
};

// Reads a whole module list (1 or 2): the module records' payloads in order.
std::vector<Bytes> WalkModules(RawHost& h, int list);
// Reads a module's CU descriptors: the descriptor payloads in order.
std::vector<Bytes> WalkCus(RawHost& h, const Bytes& moduleRecord);
// The zero-terminated texts of a module record or descriptor payload, from offset 1.
std::vector<std::string> Texts(const Bytes& payload, int count);

}  // namespace support

// A scripted instrument in the test's own process. It plays one end of a stream as a conversation: each
// expected request (socket and payload) is answered with canned frames, the host's flow-socket traffic
// (red cards, grants, keep-alives) is logged apart, and anything the script did not foresee is recorded
// as an error. A stream of frames can be sent as fast as the host's read credits allow.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/Frames.h"

namespace support {

class FakeInstrument {
 public:
  // Serves fd (one end of a socketpair, an accepted socket or a pty master); owns it.
  explicit FakeInstrument(int fd);
  ~FakeInstrument();
  FakeInstrument(const FakeInstrument&) = delete;
  FakeInstrument& operator=(const FakeInstrument&) = delete;
  // A socketpair: the fake takes one end, the other is returned for the session.
  static std::pair<std::unique_ptr<FakeInstrument>, int> Pair();

  void SetRedCardAnswer(const Bytes& raw) {
    std::lock_guard<std::mutex> g(m_lock);
    m_answer = raw;
  }
  void SetControlSockets(long cfg, long evt, long opn);
  // Grant one send credit on a control socket after every request seen there (default on).
  void SetAutoGrant(bool on) { m_autoGrant = on; }
  void Expect(long socket, const Bytes& payload, const std::vector<Bytes>& replies = {});
  void Send(const Bytes& raw);
  // Sends count frames of size payload bytes on socket, each as the host's read credits there allow.
  void Stream(long socket, long count, int size);
  // Frames the host sends on socket come back unchanged, behind a grant of the send credit they used,
  // both in one write.
  void Echo(long socket) { m_echoSocket = socket; }
  void Start();
  // Stops serving and closes the stream (the host sees the connection end).
  void Close();
  // Ends the stream towards the host (it sees the connection end) but goes on reading what it sends.
  void HalfClose();

  bool WaitConsumed(unsigned ms);
  bool WaitFor(const std::function<bool()>& pred, unsigned ms);
  std::vector<std::string> Errors();
  int RedCards();
  int KeepAlives();
  // Grants the host gave (socket, count) with count > 0.
  std::vector<std::pair<long, int>> Grants();
  int GrantsFor(long socket);
  size_t StepsLeft();
  long CfgSocket() const { return m_cfg; }
  // The host closed its end of the stream.
  bool PeerClosed() const { return m_peerClosed.load(); }

 private:
  struct Step {
    long socket;
    Bytes payload;
    std::vector<Bytes> replies;
  };
  void Run();
  void OnFrame(const Bytes& frame);
  void OnFlow(const Bytes& frame);
  void WriteAll(const Bytes& raw);
  void WriteAll(const uint8_t* p, size_t n);
  bool Streaming();
  // Sends the next batch of the stream that the credits allow.
  void Pump();

  int m_fd;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_peerClosed{false};
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::mutex m_writeLock;
  Bytes m_answer = RedCard();
  long m_cfg = 0, m_evt = 1, m_opn = 2;
  std::atomic<bool> m_autoGrant{true};
  std::vector<Step> m_steps;
  size_t m_next = 0;
  std::vector<std::string> m_errors;
  int m_redCards = 0;
  int m_keepAlives = 0;
  std::vector<std::pair<long, int>> m_grants;
  std::map<long, long> m_credits;  // read credits granted and not yet used, per socket
  std::atomic<long> m_echoSocket{-1};
  long m_streamSocket = -1, m_streamLeft = 0;
  int m_streamSize = 0;
  Bytes m_batch;  // pre-built stream frames
};

}  // namespace support

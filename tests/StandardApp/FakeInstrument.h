// FakeInstrument.h: a scripted instrument for the engine's tests. It plays one end of a stream as a
// conversation: each expected request (socket and payload) is answered with canned frames, the
// host's flow-socket traffic (red cards, grants, keep-alives) is logged apart, and anything the
// script did not foresee is recorded as an error.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes MakeFrame(long socket, const Bytes& payload);
Bytes Join(std::initializer_list<Bytes> parts);
// The text with its zero terminator.
Bytes Z(const std::string& text);
Bytes U16(unsigned value);
std::string Hex(const Bytes& bytes);

class FakeInstrument {
 public:
  // Serves fd (one end of a socketpair, an accepted socket or a pty master); owns it.
  explicit FakeInstrument(int fd);
  ~FakeInstrument();
  // A socketpair: the fake takes one end, the other is returned for the session.
  static std::pair<FakeInstrument*, int> Pair();

  void SetRedCardAnswer(const Bytes& raw) {
    std::lock_guard<std::mutex> g(m_lock);
    m_answer = raw;
  }
  void SetControlSockets(long cfg, long evt, long opn);
  // Grant one send credit on a control socket after every request seen there (default on).
  void SetAutoGrant(bool on) { m_autoGrant = on; }
  void Expect(long socket, const Bytes& payload, const std::vector<Bytes>& replies = {});
  void Send(const Bytes& raw);
  void Start();
  // Stops serving and closes the stream (the host sees the connection end).
  void Close();

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

  int m_fd;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_peerClosed{false};
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::mutex m_writeLock;
  Bytes m_answer{0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF};
  long m_cfg = 0, m_evt = 1, m_opn = 2;
  std::atomic<bool> m_autoGrant{true};
  std::vector<Step> m_steps;
  size_t m_next = 0;
  std::vector<std::string> m_errors;
  int m_redCards = 0;
  int m_keepAlives = 0;
  std::vector<std::pair<long, int>> m_grants;
};

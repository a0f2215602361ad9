// Fuzz target of the frame reader: the input is a received byte stream that the reader cuts into
// frames and routes, once fed byte by byte and once in cuts whose lengths come from the input, each
// with the single step (Poll, then TakeFrame until nothing is complete) and with the reader's batched
// step (TakeFrames). Until the framing breaks, all feeds must take the same frames; and the reader
// must never get stuck with a full buffer.
//
// Input: byte 0 = flags (bit 0: start waiting for the red-card answer), bytes 1-2 = seed of the cut
// lengths, then the stream.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "StandardApp/Cu.h"
#include "StandardApp/FramingProbe.h"  // tests/StandardApp
#include "StandardApp/Transport.h"

namespace {
// Hands out the stream in the given cut lengths, as a socket would deliver it.
class CMemoryTransport : public CTransport {
 public:
  CMemoryTransport(const uint8_t* data, size_t size, std::vector<int> cuts)
      : m_data(data), m_size(size), m_cuts(std::move(cuts)) {}
  int Send(const uint8_t*, int, int& sent) override {
    sent = 0;
    return -1;  // nothing reaches an instrument here
  }
  int Receive(uint8_t* into, int count, unsigned) override {
    if (m_pos >= m_size) return 0;
    size_t n = m_cuts.empty() ? 1 : static_cast<size_t>(m_cuts[m_cut++ % m_cuts.size()]);
    if (n > m_size - m_pos) n = m_size - m_pos;
    if (n > static_cast<size_t>(count)) n = count;  // the rest comes with the next poll
    std::copy(m_data + m_pos, m_data + m_pos + n, into);
    m_pos += n;
    return static_cast<int>(n);
  }
  bool IsSerial() const override { return false; }
  bool Exhausted() const { return m_pos >= m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
  std::vector<int> m_cuts;
  size_t m_cut = 0;
};

struct TFeedResult {
  int framesBeforeBreak = 0;  // frames taken before the framing first broke
  bool broke = false;
};

TFeedResult Feed(const uint8_t* data, size_t size, bool awaitRedCard, std::vector<int> cuts, bool batched) {
  // Two open channels (sockets 12 and 13) take frames and credit grants; they outlive the session.
  CCuIO data12;
  CBaseCuIO data13;
  CFramingProbe s;
  s.AddOpenCu(&data12, 12);
  s.AddOpenCu(&data13, 13);
  auto owned = std::make_unique<CMemoryTransport>(data, size, std::move(cuts));
  CMemoryTransport* t = owned.get();
  s.UseTransport(std::move(owned));
  if (awaitRedCard) s.AwaitRedCardAnswer();
  TFeedResult r;
  for (;;) {
    const int received = s.Poll(0);
    int taken;
    while ((taken = batched ? s.TakeFrames() : s.TakeFrame()) != 0) {
      if (taken < 0) r.broke = true;
      if (taken > 0 && !r.broke) r.framesBeforeBreak += taken;
    }
    if (received > 0) continue;
    if (t->Exhausted()) break;
    if (s.InputBuffered() >= Z_BUFFER_SIZE) std::abort();  // stuck: a full buffer holds no frame
  }
  return r;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool awaitRedCard = data[0] & 1;
  uint32_t state = (data[1] << 8 | data[2]) * 2654435761u + 1;
  const uint8_t* stream = data + 3;
  const size_t length = size - 3;
  // Cut lengths from the seed: mostly short, now and then longer than a frame.
  std::vector<int> cuts;
  for (int i = 0; i < 32; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    cuts.push_back(state % 8 == 0 ? 1 + state % 6000 : 1 + state % 64);
  }
  const TFeedResult bytewise = Feed(stream, length, awaitRedCard, {}, false);
  const TFeedResult cut = Feed(stream, length, awaitRedCard, cuts, false);
  const TFeedResult batched = Feed(stream, length, awaitRedCard, cuts, true);
  // The framing does not depend on how the stream arrives, up to the first break (after it the
  // discarded amount does).
  if (!bytewise.broke && !cut.broke && bytewise.framesBeforeBreak != cut.framesBeforeBreak) std::abort();
  if (bytewise.broke != cut.broke) std::abort();
  // Nor on whether frames are taken one by one or all at once: the same frames before the first break.
  if (batched.broke != cut.broke || batched.framesBeforeBreak != cut.framesBeforeBreak) std::abort();
  return 0;
}

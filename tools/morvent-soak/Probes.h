// What the soak measures: a CU channel that checks the sequence of the simulator's text stream as the
// window's reader takes the messages out, the counters it feeds, and the process's resident memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "StandardApp/Cu.h"
#include "morvent-soak/Watchdog.h"

// Counters of every checked stream; shared by the readers (any thread) and the soak (GUI thread).
struct TStreamStats {
  std::atomic<uint64_t> frames{0};      // "line <k>" messages read
  std::atomic<uint64_t> intervals{0};   // channel lifetimes that carried stream messages
  std::atomic<uint64_t> violations{0};  // messages out of sequence (lost, repeated or reordered)
  std::atomic<uint64_t> otherMessages{0};
  // Set from just before a fault that breaks the link's framing until the link is back: frames cut out
  // of the broken input are lost by design, and frames still routed until the windows let go of their
  // channels come after that gap. Such gaps are counted, not failed: that stream did not stay connected.
  std::atomic<bool> linkBreaking{false};
  std::atomic<uint64_t> gapsAfterBreak{0};
  TSoakWatchdog::TSource* reader = nullptr;  // beaten for every stream message
  std::mutex lock;
  std::string firstViolation;
  void Violation(const std::string& text);
  // A message out of sequence: a violation, or a gap after a breaking fault.
  void OutOfSequence(const std::string& text);
};

// The channel of a window whose CU carries a text stream ("line 0", "line 1", ...): every message the
// reader takes must be the next one. Each channel is one connected interval; it starts at "line 0".
class TStreamCheckIO : public CCuIO {
 public:
  TStreamCheckIO(std::shared_ptr<CCuDesc> desc, TStreamStats& stats) : CCuIO(std::move(desc)), m_stats(stats) {}
  ~TStreamCheckIO() override;
  int Read(void* buffer, int* length, unsigned timeoutMs) override;

 private:
  TStreamStats& m_stats;
  int64_t m_next = 0;  // reader thread only
};

// Parses "line <k>" at text; -1 when it is no stream message.
int64_t StreamIndex(const char* text, size_t length);

// Resident set size in KiB (after giving freed heap back, so that the figure is what is in use).
long ResidentKiB(bool trim);
// Heap bytes in use (allocated and not freed), in KiB: unlike the resident size, free of fragmentation.
long HeapInUseKiB();
// Threads of the process (a thread that outlives its owner shows here).
int ThreadCount();

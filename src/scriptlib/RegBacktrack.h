// The matcher's backtracking stack: fixed-size segments on the heap, so that growing it never copies
// what it holds, and a few segments are kept from one match to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One entry: kind and node (or group) in `what`, a position and a count.
struct TRegBacktrack {
  uint32_t what;
  int32_t pos;
  int32_t count;
};

class CRegBacktrackStack {
 public:
  static constexpr size_t kSegment = 8192;  // entries; a segment stays below the allocator's mmap size
  static constexpr size_t kKeptSegments = 8;

  CRegBacktrackStack() = default;
  // A copy starts empty: entries belong to the match under way.
  CRegBacktrackStack(const CRegBacktrackStack&) {}
  CRegBacktrackStack& operator=(const CRegBacktrackStack&) { return *this; }

  // False when the stack already holds `limit` entries.
  bool Push(const TRegBacktrack& e, size_t limit) {
    if (m_top == m_end && !Grow(limit)) return false;
    *m_top++ = e;
    return true;
  }
  bool Empty() const { return m_top == m_begin && m_segment == 0; }
  TRegBacktrack Pop() {
    if (m_top == m_begin) Shrink();
    return *--m_top;
  }
  // Empties the stack for a match that may hold up to `limit` entries.
  void Clear(size_t limit) {
    if (m_segments.empty()) return;
    Enter(0, m_segments[0].get());
    if (limit < kSegment) m_end = m_begin + limit;
  }
  // Empties the stack and gives back all but the first few segments.
  void Trim() {
    Clear(0);
    if (m_segments.size() > kKeptSegments) m_segments.resize(kKeptSegments);
  }

 private:
  bool Grow(size_t limit);
  void Shrink();
  void Enter(size_t segment, TRegBacktrack* top) {
    m_segment = segment;
    m_begin = m_segments[segment].get();
    m_end = m_begin + kSegment;
    m_top = top;
  }

  std::vector<std::unique_ptr<TRegBacktrack[]>> m_segments;
  size_t m_segment = 0;  // the segment m_top points into
  TRegBacktrack* m_begin = nullptr;
  TRegBacktrack* m_top = nullptr;
  TRegBacktrack* m_end = nullptr;
};

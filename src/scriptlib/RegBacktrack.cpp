// The matcher's segmented backtracking stack: moving between segments and the entry limit.
#include "scriptlib/RegBacktrack.h"

#include <algorithm>

void CRegBacktrackStack::Enter(size_t segment, TRegBacktrack* top) {
  m_segment = segment;
  m_begin = m_segments[segment].get();
  m_end = m_begin + kSegment;
  m_top = top;
}

// The current segment is used up to its end (or, after Clear, not opened yet): open it, or move on to
// the next one (allocating it when new). The segment holding the limit ends there.
bool CRegBacktrackStack::Grow(size_t limit) {
  const size_t before = m_segment * kSegment;
  const size_t used = m_begin ? before + static_cast<size_t>(m_end - m_begin) : 0;
  if (used >= limit) return false;
  if (m_begin && m_end - m_begin < static_cast<std::ptrdiff_t>(kSegment)) {
    m_end = m_begin + std::min(kSegment, limit - before);
    return true;
  }
  const size_t next = m_begin ? m_segment + 1 : 0;
  if (next == m_segments.size()) m_segments.push_back(std::make_unique_for_overwrite<TRegBacktrack[]>(kSegment));
  Enter(next, m_segments[next].get());
  m_end = m_begin + std::min(kSegment, limit - used);
  return true;
}

// The current segment is empty: continue at the top of the one before.
void CRegBacktrackStack::Shrink() {
  if (m_segment == 0) return;
  Enter(m_segment - 1, m_segments[m_segment - 1].get() + kSegment);
}

void CRegBacktrackStack::Clear() {
  if (m_segments.empty()) return;
  Enter(0, m_segments[0].get());
  m_end = m_begin;  // the first push applies the limit
}

void CRegBacktrackStack::Trim() {
  Clear();
  if (m_segments.size() > kKeptSegments) m_segments.resize(kKeptSegments);
}

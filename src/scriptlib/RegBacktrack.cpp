// The matcher's segmented backtracking stack: moving between segments and the entry limit.
#include "scriptlib/RegBacktrack.h"

#include <algorithm>

// The current segment is used up to its end: move on to the next one (allocating it when new). The
// segment that holds the limit ends there.
bool CRegBacktrackStack::Grow(size_t limit) {
  const size_t used = m_begin ? m_segment * kSegment + static_cast<size_t>(m_end - m_begin) : 0;
  if (used >= limit) return false;
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

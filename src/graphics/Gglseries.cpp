// CGglSeries (see Gglseries.h).
#include "graphics/Gglseries.h"

#include <cmath>

void CGglSeries::Clear() {
  m_x.clear();
  m_y.clear();
  m_blocks.clear();
  m_ascending = true;
}

void CGglSeries::Set(long count, const double* x, const double* y) {
  Clear();
  Append(count, x, y);
}

void CGglSeries::Append(long count, const double* x, const double* y) {
  if (count <= 0) return;
  const long from = Count();
  m_x.insert(m_x.end(), x, x + count);
  m_y.insert(m_y.end(), y, y + count);
  for (long i = from; i < Count() && m_ascending; ++i)
    m_ascending = std::isfinite(m_x[i]) && (i == 0 || m_x[i] >= m_x[i - 1]);
  Summarise(from);
}

// Summarises every block completed since from; each point is looked at once here in its life.
void CGglSeries::Summarise(long from) {
  const long full = Count() / kBlock;
  for (long b = from / kBlock; b < full; ++b) {
    TBlock t{HUGE_VAL, -HUGE_VAL};
    for (long i = b * kBlock; i < (b + 1) * kBlock; ++i) {
      const double v = m_y[i];
      if (GglIsGap(v)) continue;
      t.min = v < t.min ? v : t.min;
      t.max = v > t.max ? v : t.max;
    }
    if (b < long(m_blocks.size()))
      m_blocks[b] = t;
    else
      m_blocks.push_back(t);
  }
}

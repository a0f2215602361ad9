// CGglSeries: the points of one curve with a per-block minimum/maximum summary, so that a curve of
// millions of points is drawn from the summary, and appending stays amortised constant time per point.
#pragma once

#include <vector>

#include "graphics/Gglscale.h"

class CGglSeries {
 public:
  static constexpr long kBlock = 64;  // points per summary block
  struct TBlock {
    double min;  // +inf when the block has no value
    double max;  // -inf when the block has no value
  };

  void Set(long count, const double* x, const double* y);
  void Append(long count, const double* x, const double* y);
  void Clear();

  long Count() const { return long(m_x.size()); }
  const double* X() const { return m_x.data(); }
  const double* Y() const { return m_y.data(); }
  // x never decreases and is finite everywhere: the renderer may then search and decimate.
  bool Ascending() const { return m_ascending; }
  // One entry per full block of kBlock points.
  const std::vector<TBlock>& Blocks() const { return m_blocks; }

 private:
  void Summarise(long from);

  std::vector<double> m_x, m_y;
  std::vector<TBlock> m_blocks;
  bool m_ascending = true;
};

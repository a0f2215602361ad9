// CGglSeries: the points of one curve with a per-block minimum/maximum summary, so that a curve of
// millions of points is drawn from the summary, and appending stays amortised constant time per point.
#pragma once

#include <cstddef>
#include <vector>

#include "graphics/Gglscale.h"

// A growing array of doubles in its own mapping: growing moves the pages (mremap) instead of copying
// them, so a signal of tens of millions of points is never copied or touched again as it grows.
class CGglDoubles {
 public:
  CGglDoubles() = default;
  CGglDoubles(const CGglDoubles&) = delete;
  CGglDoubles& operator=(const CGglDoubles&) = delete;
  ~CGglDoubles() { Clear(); }

  // Room for n values in all; throws std::bad_alloc when no memory is left, keeping what is held.
  void Reserve(size_t n);
  void Append(const double* v, size_t count);
  void Clear();
  size_t Size() const { return m_size; }
  const double* Data() const { return m_data; }
  double operator[](size_t i) const { return m_data[i]; }

 private:
  double* m_data = nullptr;
  size_t m_size = 0;
  size_t m_bytes = 0;  // mapped
};

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

  long Count() const { return long(m_x.Size()); }
  const double* X() const { return m_x.Data(); }
  const double* Y() const { return m_y.Data(); }
  // x never decreases and is finite everywhere: the renderer may then search and decimate.
  bool Ascending() const { return m_ascending; }
  // One entry per full block of kBlock points.
  const std::vector<TBlock>& Blocks() const { return m_blocks; }

 private:
  void Summarise(long from);

  CGglDoubles m_x, m_y;
  std::vector<TBlock> m_blocks;
  bool m_ascending = true;
};

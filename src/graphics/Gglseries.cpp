// CGglSeries (see Gglseries.h).
#include "graphics/Gglseries.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <new>

void CGglDoubles::Reserve(size_t n) {
  const size_t need = n * sizeof(double);
  if (need > m_bytes) {
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    size_t bytes = m_bytes ? m_bytes : 16 * page;
    while (bytes < need) bytes *= 2;
    void* p = m_data ? ::mremap(m_data, m_bytes, bytes, MREMAP_MAYMOVE)
                     : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    m_data = static_cast<double*>(p);
    m_bytes = bytes;
  }
}

void CGglDoubles::Append(const double* v, size_t count) {
  if (count == 0) return;
  Reserve(m_size + count);
  std::memcpy(m_data + m_size, v, count * sizeof(double));
  m_size += count;
}

void CGglDoubles::Clear() {
  if (m_data) ::munmap(m_data, m_bytes);
  m_data = nullptr;
  m_size = m_bytes = 0;
}

void CGglSeries::Clear() {
  m_x.Clear();
  m_y.Clear();
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
  // Room in both first, so that running out of memory leaves the curve as it was, never torn.
  m_x.Reserve(size_t(from + count));
  m_y.Reserve(size_t(from + count));
  m_x.Append(x, size_t(count));
  m_y.Append(y, size_t(count));
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

// CSignalData: the growable table of (x, y) points behind the script class TSignalData, and the
// registration of the plot scripting names: TPlotWnd and TPlot (Graphiccmd.cpp), TSignal
// (Curvecmd.cpp), TSignalData (Signaldata.cpp).
#pragma once

#include <cstdint>
#include <memory>

class CSignalData {
 public:
  // Largest index a write may reach: the two arrays then take 1 GiB, which no plot needs.
  static constexpr int32_t kMaxIndex = (1 << 26) - 1;

  int32_t Capacity() const { return m_capacity; }
  int32_t Count() const { return m_count; }
  const double* X() const { return m_x.get(); }
  const double* Y() const { return m_y.get(); }
  // 0.0 outside 0..count-1.
  double GetX(int64_t i) const { return InRange(i) ? m_x[i] : 0.0; }
  double GetY(int64_t i) const { return InRange(i) ? m_y[i] : 0.0; }
  // false for an index below 0 or above kMaxIndex (nothing changes).
  bool SetX(int64_t i, double v);
  bool SetY(int64_t i, double v);
  // false for a negative count or one above kMaxIndex + 1.
  bool SetCount(int64_t n);
  // Removes entries first..last when 0 <= first < last < count; else nothing.
  void Delete(int64_t first, int64_t last);
  void Clear();

 private:
  bool InRange(int64_t i) const { return i >= 0 && i < m_count; }
  bool MakeRoom(int64_t i);

  int32_t m_capacity = 0;
  int32_t m_count = 0;
  std::unique_ptr<double[]> m_x, m_y;
};

// In the script host's registration order: plot windows, then signals, then signal data.
void RegisterPlotLibrary();
void RegisterSignalLibrary();
void RegisterSignalDataLibrary();

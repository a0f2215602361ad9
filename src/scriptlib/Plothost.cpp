// The plot host hook and the plot window registry (see Plothost.h).
#include "scriptlib/Plothost.h"

#include <algorithm>
#include <atomic>

uint64_t NextPlotSignalId() {
  static std::atomic<uint64_t> next{0};
  return ++next;
}

namespace {
std::atomic<IPlotHost*> g_host{nullptr};
}

void SetPlotHost(IPlotHost* host) { g_host.store(host); }
IPlotHost* PlotHost() { return g_host.load(); }

CPlotRegistry& CPlotRegistry::Instance() {
  static CPlotRegistry registry;
  return registry;
}

uint64_t CPlotRegistry::Add(const std::string& name, IPlotWindow* window) {
  std::lock_guard<std::mutex> lock(m_lock);
  for (const TEntry& e : m_entries)
    if (e.name == name) return 0;
  m_entries.push_back({name, window, m_next});
  return m_next++;
}

void CPlotRegistry::Remove(const IPlotWindow* window) {
  std::lock_guard<std::mutex> lock(m_lock);
  std::erase_if(m_entries, [window](const TEntry& e) { return e.window == window; });
}

IPlotWindow* CPlotRegistry::Find(const std::string& name, uint64_t* serial) {
  std::lock_guard<std::mutex> lock(m_lock);
  for (const TEntry& e : m_entries) {
    if (e.name != name) continue;
    if (serial) *serial = e.serial;
    return e.window;
  }
  return nullptr;
}

IPlotWindow* CPlotRegistry::FindSerial(uint64_t serial) {
  std::lock_guard<std::mutex> lock(m_lock);
  for (const TEntry& e : m_entries)
    if (e.serial == serial) return e.window;
  return nullptr;
}

std::vector<std::string> CPlotRegistry::Names() {
  std::lock_guard<std::mutex> lock(m_lock);
  std::vector<std::string> names;
  for (const TEntry& e : m_entries) names.push_back(e.name);
  return names;
}

void CPlotRegistry::Clear() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_entries.clear();
}

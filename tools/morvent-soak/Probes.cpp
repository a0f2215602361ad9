// The stream check on the reader's side and the memory figure.
#include "morvent-soak/Probes.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

void TStreamStats::Violation(const std::string& text) {
  violations.fetch_add(1);
  std::lock_guard<std::mutex> g(lock);
  if (firstViolation.empty()) firstViolation = text;
}

void TStreamStats::OutOfSequence(const std::string& text) {
  if (linkBreaking.load())
    gapsAfterBreak.fetch_add(1);
  else
    Violation(text);
}

int64_t StreamIndex(const char* text, size_t length) {
  static const char kPrefix[] = "line ";
  const size_t prefix = sizeof kPrefix - 1;
  if (length <= prefix || std::memcmp(text, kPrefix, prefix) != 0) return -1;
  int64_t k = 0;
  for (size_t i = prefix; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    k = k * 10 + (text[i] - '0');
  }
  return k;
}

TStreamCheckIO::~TStreamCheckIO() { Unlink(); }

int TStreamCheckIO::Read(void* buffer, int* length, unsigned timeoutMs) {
  const int rc = CCuIO::Read(buffer, length, timeoutMs);
  if (rc != 0) return rc;
  // The frame: 4 header bytes, the payload, the zero the channel adds (counted in *length).
  const auto* frame = static_cast<const char*>(buffer);
  const size_t payload = *length > 5 ? static_cast<size_t>(*length - 5) : 0;
  const int64_t k = StreamIndex(frame + 4, payload);
  if (k < 0) {
    m_stats.otherMessages.fetch_add(1);  // the CU's own periodic messages between the stream's
    return rc;
  }
  if (m_next == 0 && k == 0) m_stats.intervals.fetch_add(1);
  if (k != m_next)
    m_stats.OutOfSequence("expected line " + std::to_string(m_next) + ", read line " + std::to_string(k) +
                          " on socket " + std::to_string(GetSocket()));
  m_next = k + 1;
  m_stats.frames.fetch_add(1);
  if (m_stats.reader) m_stats.reader->Beat();
  return rc;
}

long ResidentKiB(bool trim) {
  if (trim) ::malloc_trim(0);
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

long HeapInUseKiB() {
  const struct mallinfo2 m = ::mallinfo2();
  return static_cast<long>((m.uordblks + m.hblkhd) / 1024);  // large blocks are mapped apart
}

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string key;
  for (int n = 0; status >> key;)
    if (key == "Threads:" && status >> n) return n;
  return 0;
}

// Tracer.h: CTracer, the engine's trace log (levels 0..4, one line per message, file opened per line).
// One global instance is reachable through Tracer().
#pragma once

#include <atomic>
#include <cstddef>
#include <fstream>
#include <mutex>
#include <string>

class CTracer {
 public:
  CTracer();
  ~CTracer();
  CTracer(const CTracer&) = delete;
  CTracer& operator=(const CTracer&) = delete;

  // An existing read-only file switches tracing off (the name is stored empty).
  void SetFileName(const std::string& path);
  std::string GetFileName() const;
  // Values outside 0..4 leave the level unchanged.
  void SetLevel(int level);
  int GetLevel() const { return m_level.load(std::memory_order_relaxed); }

  void Trace(int level, const char* source, const char* format, ...) __attribute__((format(printf, 4, 5)));
  void TraceHex(int level, const char* source, const void* data, int count, const char* format, ...)
      __attribute__((format(printf, 6, 7)));
  static void AppendHexData(std::string& line, const void* data, int count);

  // True when a message of this level would be written (callers skip costly preparation otherwise).
  bool Enabled(int level) const;

 private:
  std::string Prefix(int level, const char* source) const;
  void WriteLine(const std::string& line);

  std::ofstream m_stream;
  std::atomic<int> m_level{0};
  std::string m_fileName;
  mutable std::mutex m_nameLock;  // the name is a std::string, so reads need a short lock
  std::mutex m_lock;              // serialises writing
};

// The program-wide tracer (created on first use, destroyed at exit).
CTracer& Tracer();

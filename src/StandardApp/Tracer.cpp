// Tracer.cpp: CTracer; formatting happens outside the lock, the file is opened per line.
#include "StandardApp/Tracer.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
const char* LevelName(int level) {
  switch (level) {
    case 1:
      return "Error, ";
    case 2:
      return "Warning, ";
    case 3:
      return "Info, ";
    case 4:
      return "Dump, ";
    default:
      return "Undefined, ";
  }
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (n < static_cast<int>(sizeof small)) return std::string(small, n);
  std::vector<char> big(n + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), n);
}
}  // namespace

CTracer::CTracer() = default;
CTracer::~CTracer() = default;

void CTracer::SetFileName(const std::string& path) {
  struct stat st {};
  bool readOnly = !path.empty() && ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  std::lock_guard<std::mutex> g(m_nameLock);
  m_fileName = readOnly ? std::string() : path;
}

std::string CTracer::GetFileName() const {
  std::lock_guard<std::mutex> g(m_nameLock);
  return m_fileName;
}

void CTracer::SetLevel(int level) {
  if (level >= 0 && level <= 4) m_level.store(level);
}

bool CTracer::Enabled(int level) const {
  int current = GetLevel();
  if (current == 0 || current < level) return false;
  std::lock_guard<std::mutex> g(m_nameLock);
  return !m_fileName.empty();
}

std::string CTracer::Prefix(int level, const char* source) const {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%d.%m.%Y, %H:%M:%S", &local);
  std::string line = stamp;
  line += ", " + std::to_string(level) + ", " + LevelName(level);
  line += source ? source : "";
  line += ", ";
  return line;
}

void CTracer::Trace(int level, const char* source, const char* format, ...) {
  if (!Enabled(level)) return;
  va_list args;
  va_start(args, format);
  std::string line = Prefix(level, source) + FormatV(format, args);
  va_end(args);
  WriteLine(line);
}

void CTracer::TraceHex(int level, const char* source, const void* data, int count, const char* format, ...) {
  if (!Enabled(level)) return;
  va_list args;
  va_start(args, format);
  std::string line = Prefix(level, source) + FormatV(format, args) + " ";
  va_end(args);
  AppendHexData(line, data, count);
  WriteLine(line);
}

void CTracer::AppendHexData(std::string& line, const void* data, int count) {
  if (data == nullptr || count > 4500 || count < 0) return;
  static const char digits[] = "0123456789ABCDEF";
  const auto* bytes = static_cast<const uint8_t*>(data);
  line.reserve(line.size() + 4 + 3 * static_cast<size_t>(count));
  line += "HEX ";
  for (int i = 0; i < count; ++i) {
    line += digits[bytes[i] >> 4];
    line += digits[bytes[i] & 15];
    line += ' ';
  }
}

void CTracer::WriteLine(const std::string& line) {
  std::string name = GetFileName();
  if (name.empty()) return;
  std::lock_guard<std::mutex> g(m_lock);
  m_stream.open(name, std::ios::out | std::ios::app);
  if (!m_stream.is_open()) return;
  m_stream << line << '\n';
  m_stream.flush();
  m_stream.close();
  m_stream.clear();
}

CTracer& Tracer() {
  static CTracer tracer;
  return tracer;
}

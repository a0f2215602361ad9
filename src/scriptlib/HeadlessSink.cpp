// CStreamSink: writes lines as they come, flushing each, so that a reader sees them at once.
#include "scriptlib/HeadlessSink.h"

void CStreamSink::WriteLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), m_out);
  std::fputc('\n', m_out);
  std::fflush(m_out);
  if (m_log) {
    std::fwrite(line.data(), 1, line.size(), m_log.get());
    std::fputc('\n', m_log.get());
    std::fflush(m_log.get());
  }
}

void CStreamSink::AddText(const std::string& text) {
  std::lock_guard<std::mutex> g(m_lock);
  size_t p = 0;
  do {
    size_t e = text.find_first_of("\r\n", p);
    if (e == std::string::npos) e = text.size();
    WriteLine(text.substr(p, e - p));
    if (e < text.size() && text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ++e;
    p = e + 1;
  } while (p < text.size());
}

bool CStreamSink::OpenLogFile(const std::string& name, bool append) {
  std::lock_guard<std::mutex> g(m_lock);
  if (m_log) return true;
  m_log.reset(std::fopen(name.c_str(), append ? "ab" : "wb"));
  return m_log != nullptr;
}

void CStreamSink::CloseLogFile() {
  std::lock_guard<std::mutex> g(m_lock);
  m_log.reset();
}

bool CStreamSink::LogOpen() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_log != nullptr;
}

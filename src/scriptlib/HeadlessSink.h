// CStreamSink: the headless host's output: every output line to a stream (standard output in the
// command-line client) and, while one is open, to the log file.
#pragma once

#include "scriptlib/ScriptSink.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

class CStreamSink : public IScriptSink {
 public:
  explicit CStreamSink(std::FILE* out) : m_out(out) {}
  // Line breaks (CR LF, LF or CR) split a text into lines; each is written with one line feed.
  void AddText(const std::string& text) override;
  void ClearOutput() override {}  // a stream cannot be cleared
  bool OpenLogFile(const std::string& name, bool append) override;
  void CloseLogFile() override;
  bool LogOpen();

 private:
  void WriteLine(const std::string& line);

  std::mutex m_lock;
  std::FILE* m_out;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_log{nullptr, &std::fclose};
};

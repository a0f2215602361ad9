// Test support implementation.
#include "ScriptTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>

void CRecordingSink::AddText(const std::string& text) {
  std::lock_guard<std::mutex> g(m_lock);
  m_lines.push_back(text);
  m_changed.notify_all();
}

void CRecordingSink::ClearOutput() {
  std::lock_guard<std::mutex> g(m_lock);
  ++m_clears;
}

bool CRecordingSink::OpenLogFile(const std::string&, bool) { return false; }

void CRecordingSink::CloseLogFile() {
  std::lock_guard<std::mutex> g(m_lock);
  ++m_logCloses;
}

void CRecordingSink::ScriptFinished() {
  std::lock_guard<std::mutex> g(m_lock);
  m_finished = true;
  m_changed.notify_all();
}

std::vector<std::string> CRecordingSink::Lines() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_lines;
}

int CRecordingSink::Clears() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_clears;
}

int CRecordingSink::LogCloses() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_logCloses;
}

bool CRecordingSink::WaitForLine(const std::string& line, int timeoutMs) {
  std::unique_lock<std::mutex> g(m_lock);
  return m_changed.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
    for (const std::string& l : m_lines)
      if (l == line) return true;
    return false;
  });
}

std::string TempPath(const std::string& name) {
  static support::TempDir folder("scriptlib");  // one per program: ctest runs several side by side
  static std::atomic<int> counter{0};
  return folder.File(std::to_string(counter++) + "_" + name);
}

CTempFile::CTempFile(const std::string& name, const std::string& text) : m_path(TempPath(name)) {
  std::ofstream(m_path, std::ios::binary) << text;
}

CTempFile::~CTempFile() { std::remove(m_path.c_str()); }

TRunResult RunScript(const std::string& source, const std::vector<std::string>& args, int debugLevel) {
  CTempFile file("script.pas", source);
  CRecordingSink sink;
  TScriptHost host;
  host.sink = &sink;
  TInstrScriptThread thread(host, file.Path(), args);
  thread.SetDebugLevel(debugLevel);
  thread.Start();
  thread.Wait();
  return TRunResult{sink.Lines(), thread.Outcome()};
}

std::vector<std::string> OkLines(const TRunResult& r) {
  EXPECT_EQ(r.outcome, TScriptOutcome::Ok);
  EXPECT_GE(r.lines.size(), 2u);
  if (r.lines.size() < 2) return r.lines;
  EXPECT_EQ(r.lines[r.lines.size() - 2], "ok.");
  EXPECT_EQ(r.lines.back(), "");
  return std::vector<std::string>(r.lines.begin(), r.lines.end() - 2);
}

CScriptRun::CScriptRun(const std::string& source, const std::vector<std::string>& args) : m_file("script.pas", source) {
  TScriptHost host;
  host.sink = &m_sink;
  m_thread = std::make_unique<TInstrScriptThread>(host, m_file.Path(), args);
  m_thread->Start();
}

TRunResult CScriptRun::Finish() {
  m_thread->Wait();
  return TRunResult{m_sink.Lines(), m_thread->Outcome()};
}

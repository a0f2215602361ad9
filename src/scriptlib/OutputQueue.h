// TOutputQueue: the run's queue of output texts; the script thread appends, the main thread drains
// everything queued, in order, inside one synchronous call.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>

class TOutputQueue {
 public:
  void Push(std::string text) {
    std::lock_guard<std::mutex> g(m_lock);
    m_texts.push_back(std::move(text));
  }
  void Drain(const std::function<void(const std::string&)>& take) {
    std::lock_guard<std::mutex> g(m_lock);
    for (const std::string& t : m_texts) take(t);
    m_texts.clear();
  }

 private:
  std::mutex m_lock;
  std::deque<std::string> m_texts;
};

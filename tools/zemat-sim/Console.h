// One connection to the simulated network card's telnet console: greeting, settings, "quit".
#pragma once

#include "zemat-sim/Net.h"

#include <functional>
#include <string>
#include <vector>

namespace zsim {

class Console {
 public:
  // reject: a setting answered with an error text (empty: every setting is accepted)
  Console(Fd fd, const std::string& greeting, const std::string& reject,
          std::function<void(const std::string&)> on_line);
  // Reads what arrived and answers it; false once the connection is over.
  bool on_readable();
  int fd() const { return fd_.get(); }

 private:
  void answer(const std::vector<std::string>& lines);
  void send(const std::string& text);

  Fd fd_;
  std::string reject_;
  std::function<void(const std::string&)> on_line_;
  std::string in_;
  bool done_ = false;
};

}  // namespace zsim

// The network card's console: every batch of lines that arrives together gets one prompt "> ",
// because the host sends an empty line as two line feeds in one write and expects exactly "> ".
#include "zemat-sim/Console.h"

#include <sys/socket.h>
#include <unistd.h>

namespace zsim {

Console::Console(Fd fd, const std::string& greeting, const std::string& reject,
                 std::function<void(const std::string&)> on_line)
    : fd_(std::move(fd)), reject_(reject), on_line_(std::move(on_line)) {
  send(greeting);
}

void Console::send(const std::string& text) {
  // Console replies are tiny; a full socket buffer means the client is not reading: drop it.
  if (!text.empty() && ::send(fd_.get(), text.data(), text.size(), MSG_NOSIGNAL) < 0) done_ = true;
}

bool Console::on_readable() {
  char buf[512];
  ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
  if (n <= 0) return false;
  in_.append(buf, static_cast<size_t>(n));
  std::vector<std::string> lines;
  for (size_t nl; (nl = in_.find('\n')) != std::string::npos;) {
    std::string line = in_.substr(0, nl);
    in_.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  if (in_.size() > 4096) in_.clear();  // no line feed in sight: not a console client
  if (!lines.empty()) answer(lines);
  return !done_;
}

void Console::answer(const std::vector<std::string>& lines) {
  std::string reply;
  for (const std::string& line : lines) {
    on_line_(line);
    if (line == "quit") {
      done_ = true;
      return;
    }
    if (!reject_.empty() && line == reject_) reply += "error: invalid setting \"" + line + "\"\r\n";
  }
  send(reply + "> ");
}

}  // namespace zsim

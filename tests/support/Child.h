// A child process for the harnesses (the simulator, morvent-cli, the desktop program): started with
// posix_spawn, its output read through pipes, its end waited for with a limit, killed if need be.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace support {

using namespace std::chrono_literals;

struct ChildOptions {
  // Where standard output or standard error goes.
  enum Sink { Pipe, Inherit, Null, File };
  // Standard input: a pipe held open while the Child lives (a child started with --quit-on-eof then ends
  // with a test that dies), or /dev/null.
  bool holdInput = true;
  Sink out = Pipe;
  Sink err = Pipe;
  std::string outFile, errFile;  // for File
};

class Child {
 public:
  // program without a slash is looked up in PATH; throws when it cannot be started.
  Child(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options = ChildOptions());
  // Kills the child if it still runs.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads until pred holds for the standard output read so far; false at the limit or when it ended first.
  bool WaitFor(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds limit);
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
  // The next line of standard output, without its line feed; false at the limit or at its end.
  bool ReadLine(std::string& line, std::chrono::milliseconds limit);
  // Reads both pipes to their end and waits for the exit: the exit code (128 + signal after a signal), or
  // -1 after killing the child at the limit.
  int Finish(std::chrono::milliseconds limit);
  bool Write(const std::string& text);
  void CloseInput();
  void Signal(int sig);
  bool Running() const { return m_pid > 0; }
  const std::string& Out() const { return m_out; }
  const std::string& Err() const { return m_err; }
  // Hands standard output over (for a reader of its own); Out() then stays as it is.
  int TakeOutput();

 private:
  // One round of reading the pipes; false once both are at their end.
  bool ReadSome(int waitMs);
  // Waits for the exit until the deadline; false if the child still runs then.
  bool Reap(std::chrono::steady_clock::time_point deadline);

  int m_pid = -1;
  int m_pidFd = -1;
  int m_inFd = -1, m_outFd = -1, m_errFd = -1;
  size_t m_lineAt = 0;  // what ReadLine has taken of m_out
  std::string m_out, m_err;
  int m_exit = -1;
};

}  // namespace support

// CliHarness.h: child processes for the client's end-to-end tests: a zemat-sim on ports it picked
// (with its control port) and morvent-cli runs whose output, error text and exit code are collected.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace clitest {

using namespace std::chrono_literals;

// A started child with its standard output and error read through pipes.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads until standard output contains text; false when the limit passed or the child ended first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
  bool WaitFor(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds limit);
  // Reads everything until the child ends; its exit code, or -1 after killing it at the limit.
  int Finish(std::chrono::milliseconds limit);
  void Signal(int sig);
  const std::string& Out() const { return m_out; }
  const std::string& Err() const { return m_err; }

 private:
  // One round of reading both pipes; false once both are at their end.
  bool ReadSome(int waitMs);
  void Reap();

  int m_pid = -1;
  int m_outFd = -1, m_errFd = -1, m_inFd = -1;
  std::string m_out, m_err;
  int m_exit = -1;
};

// A temporary folder removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string m_path;
};

class Simulator {
 public:
  // configJson empty: the simulator's demo instrument. serial: a pty instead of the data port.
  explicit Simulator(const std::string& configJson = "", bool serial = false);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // One control command and its reply line.
  std::string Command(const std::string& line);
  // Polls "status" until its JSON contains text; false at the limit.
  bool WaitForStatus(const std::string& text, std::chrono::milliseconds limit);
  // Global options that reach this simulator over the LAN (or the pty as COM1).
  std::vector<std::string> LinkArgs() const;

  int telnetPort = 0, dataPort = 0, controlPort = 0;
  std::string pty;

 private:
  TempDir m_dir;
  std::unique_ptr<Child> m_child;
  int m_control = -1;
};

struct CliResult {
  int exitCode = -1;
  std::string out, err;
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b);
CliResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds limit = 60s);
std::unique_ptr<Child> StartCli(const std::vector<std::string>& args);
// A loopback port on which nothing listens (bound, then released).
int UnusedPort();

}  // namespace clitest

// TSimulator: runs tools/zemat-sim on ports it picks, reads them back and sends it control commands over
// its control port. Started with posix_spawn and driven over plain sockets, so no Qt process machinery
// (and no forking of a threaded process) is involved; the desktop benchmark uses it too.
#pragma once

#include <filesystem>
#include <string>

class TSimulator {
 public:
  // configJson empty: the demo instrument. The configuration and the simulator's output live in folder.
  explicit TSimulator(const std::filesystem::path& folder, const std::string& configJson = std::string(),
                      const std::string& program = MORVENT_SIM);
  ~TSimulator();
  TSimulator(const TSimulator&) = delete;
  TSimulator& operator=(const TSimulator&) = delete;

  bool Started() const { return m_dataPort > 0 && m_control >= 0; }
  int TelnetPort() const { return m_telnetPort; }
  int DataPort() const { return m_dataPort; }
  // One control command; returns its reply line ("ok ...", "error: ..."), empty when none came.
  std::string Command(const std::string& line);

 private:
  bool ReadPorts(const std::filesystem::path& portsFile);
  void ConnectControl(int port);

  int m_pid = -1;
  int m_stdin = -1;
  int m_control = -1;
  int m_telnetPort = 0;
  int m_dataPort = 0;
};

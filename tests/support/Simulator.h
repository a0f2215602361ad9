// The instrument simulator (tools/zemat-sim) as a child process: started on ports it picks, which are read
// back, driven through its control port (or standard input), quit at the end.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Child.h"
#include "support/TempDir.h"

namespace support {

// The built simulator program.
const char* SimulatorPath();

class Simulator {
 public:
  // configJson empty: the simulator's demo instrument; args are added to its command line ("--serial" puts
  // the stream on a pty). Throws when it does not start. ZEMAT_SIM_TEST_LOG=1 in the environment shows its
  // log on standard error (InputCommand then has no replies to read).
  explicit Simulator(const std::string& configJson = "", const std::vector<std::string>& args = {});
  // Quits the simulator (killing it after 5 s); a simulator that does not end with 0 fails the running test.
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  int TelnetPort() const { return m_telnetPort; }
  int DataPort() const { return m_dataPort; }
  int ControlPort() const { return m_controlPort; }
  // The pty's path with --serial, else empty.
  const std::string& Pty() const { return m_pty; }

  // One control command on the control port; its reply line ("ok ...", "error: ..."), "" when none came.
  std::string Command(const std::string& line);
  // One command on standard input; the reply line from standard output.
  std::string InputCommand(const std::string& line);
  // The "status" reply's JSON text ("{}" without a reply).
  std::string Status();
  // Polls the status until its JSON text contains text; false at the limit.
  bool WaitForStatus(const std::string& text, std::chrono::milliseconds limit);
  bool WaitForStatus(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds limit);
  // Waits for the simulator to end on its own (after "quit" on standard input): its exit code, or -1 after
  // killing it at the limit.
  int WaitExit(std::chrono::milliseconds limit);

 private:
  void ReadPorts();

  TempDir m_dir{"zemat-sim"};
  std::unique_ptr<Child> m_child;
  std::thread m_log;  // copies the log to standard error with ZEMAT_SIM_TEST_LOG
  std::mutex m_commandLock;
  int m_control = -1;
  std::string m_pending;  // control-port bytes after the last reply line
  int m_telnetPort = 0, m_dataPort = 0, m_controlPort = 0;
  std::string m_pty;
  int m_exit = -1;
  bool m_ended = false;
};

}  // namespace support

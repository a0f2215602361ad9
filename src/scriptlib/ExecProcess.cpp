// StartProcess with posix_spawn; the output file is the child's standard output through a dup2
// file action, and a detached reaper waits for the child so that none is left as a zombie.
#include "scriptlib/ExecProcess.h"

#include "scriptlib/Fd.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include <thread>
#include <vector>

extern char** environ;

namespace {

class CFileActions {
 public:
  CFileActions() { posix_spawn_file_actions_init(&m_actions); }
  ~CFileActions() { posix_spawn_file_actions_destroy(&m_actions); }
  CFileActions(const CFileActions&) = delete;
  CFileActions& operator=(const CFileActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions;
};

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> out;
  size_t p = 0;
  while (p < s.size()) {
    while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
    size_t e = p;
    while (e < s.size() && s[e] != ' ' && s[e] != '\t') ++e;
    if (e > p) out.push_back(s.substr(p, e - p));
    p = e;
  }
  return out;
}

}  // namespace

bool CommandLineNeedsShell(const std::string& commandLine) {
  return commandLine.find_first_of("\"'`$|&;<>()*?[]{}~#=%!\\\n") != std::string::npos;
}

bool StartProcess(const std::string& commandLine, const std::string& outputFile) {
  std::vector<std::string> words =
      CommandLineNeedsShell(commandLine) ? std::vector<std::string>{"/bin/sh", "-c", commandLine} : Words(commandLine);
  if (words.empty()) return false;
  CFd out(outputFile.empty() ? -1 : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!outputFile.empty() && out.Get() < 0) return false;
  CFileActions actions;
  if (out.Get() >= 0) posix_spawn_file_actions_adddup2(actions.Get(), out.Get(), STDOUT_FILENO);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], actions.Get(), nullptr, argv.data(), environ) != 0) return false;
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

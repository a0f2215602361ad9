// The child process: spawning with its pipes, reading them, waiting for its end on a process descriptor.
#include "support/Child.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

extern char** environ;

namespace support {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

void MakePipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

// The child side of one standard stream: what the file actions set up on fd; returns our end (or -1).
int Route(posix_spawn_file_actions_t& actions, int fd, ChildOptions::Sink sink, const std::string& file,
          std::vector<int>& childEnds) {
  switch (sink) {
    case ChildOptions::Pipe: {
      int p[2];
      MakePipe(p);
      posix_spawn_file_actions_adddup2(&actions, p[1], fd);
      childEnds.push_back(p[1]);
      return p[0];
    }
    case ChildOptions::Null:
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
      return -1;
    case ChildOptions::File:
      posix_spawn_file_actions_addopen(&actions, fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      return -1;
    case ChildOptions::Inherit:
      return -1;
  }
  return -1;
}

}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::vector<int> childEnds;
  if (options.holdInput) {
    int in[2];
    MakePipe(in);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    childEnds.push_back(in[0]);
    m_inFd = in[1];
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  m_outFd = Route(actions, 1, options.out, options.outFile, childEnds);
  m_errFd = Route(actions, 2, options.err, options.errFile, childEnds);
  // The child starts with default signal handling whatever this process ignores or blocks.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&defaults, sig);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const bool search = program.find('/') == std::string::npos;
  int rc = search ? posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ)
                  : posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  for (int fd : childEnds) ::close(fd);
  if (rc != 0) {
    for (int fd : {m_inFd, m_outFd, m_errFd})
      if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot start " + program);
  }
  m_pid = pid;
  // A process descriptor makes the exit an event to poll for (-1 on kernels without it: then we poll waitpid).
  m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
}

Child::~Child() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    Reap(Clock::time_point::max());
  }
  for (int fd : {m_inFd, m_outFd, m_errFd, m_pidFd})
    if (fd >= 0) ::close(fd);
}

bool Child::Write(const std::string& text) {
  return m_inFd >= 0 && ::write(m_inFd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void Child::CloseInput() {
  if (m_inFd >= 0) ::close(m_inFd);
  m_inFd = -1;
}

void Child::Signal(int sig) {
  if (m_pid > 0) ::kill(m_pid, sig);
}

int Child::TakeOutput() {
  int fd = m_outFd;
  m_outFd = -1;
  return fd;
}

bool Child::ReadSome(int waitMs) {
  pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
  if (m_outFd < 0 && m_errFd < 0) return false;
  if (::poll(fds, 2, waitMs) <= 0) return true;
  std::string* sinks[2] = {&m_out, &m_err};
  int* ends[2] = {&m_outFd, &m_errFd};
  for (int i = 0; i < 2; ++i) {
    if (*ends[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buffer[4096];
    ssize_t n = ::read(*ends[i], buffer, sizeof buffer);
    if (n > 0) {
      sinks[i]->append(buffer, static_cast<size_t>(n));
    } else {
      ::close(*ends[i]);
      *ends[i] = -1;
    }
  }
  return true;
}

bool Child::WaitFor(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while (!pred(m_out)) {
    if (Clock::now() >= deadline || m_outFd < 0) return pred(m_out);
    ReadSome(std::min(MsLeft(deadline), 100));
  }
  return true;
}

bool Child::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
  return WaitFor([&text](const std::string& out) { return out.find(text) != std::string::npos; }, limit);
}

bool Child::ReadLine(std::string& line, std::chrono::milliseconds limit) {
  auto feedAfter = [this](const std::string& out) { return out.find('\n', m_lineAt) != std::string::npos; };
  if (!WaitFor(feedAfter, limit)) return false;
  size_t feed = m_out.find('\n', m_lineAt);
  line = m_out.substr(m_lineAt, feed - m_lineAt);
  m_lineAt = feed + 1;
  return true;
}

bool Child::Reap(Clock::time_point deadline) {
  while (m_pid > 0) {
    int status = 0;
    pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
      m_exit = r != m_pid ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      m_pid = -1;
      break;
    }
    if (Clock::now() >= deadline) return false;
    int wait = deadline == Clock::time_point::max() ? -1 : MsLeft(deadline);
    if (m_pidFd >= 0) {
      pollfd p{m_pidFd, POLLIN, 0};
      ::poll(&p, 1, wait);
    } else {
      ::poll(nullptr, 0, wait < 0 ? 5 : std::min(wait, 5));  // no process descriptor: look again soon
    }
  }
  return true;
}

int Child::Finish(std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  while ((m_outFd >= 0 || m_errFd >= 0) && Clock::now() < deadline) ReadSome(std::min(MsLeft(deadline), 100));
  if (m_pid <= 0) return m_exit;
  if (!Reap(deadline)) {
    ::kill(m_pid, SIGKILL);
    Reap(Clock::time_point::max());
    return -1;
  }
  return m_exit;
}

}  // namespace support

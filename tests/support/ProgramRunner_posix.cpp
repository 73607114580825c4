// Running a program in a child process on POSIX systems: posix_spawn with an environment built
// beforehand, standard error read through a pipe, a kill when the time limit passes.
//
// Tests start programs while other threads (scripted servers) run, so nothing may happen between
// fork and exec that is not async-signal-safe: no setenv, no allocation. posix_spawn takes the
// finished environment and file actions and does only safe steps in the child.
#include "tests/support/ProgramRunner.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {
namespace {

// NAME=value lines: this process's environment with `overrides` put in place of their names.
std::vector<std::string> childEnvironment(const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> lines;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string line(*entry);
    const std::string name = line.substr(0, line.find('='));
    bool replaced = false;
    for (const auto& [overrideName, value] : overrides) replaced = replaced || overrideName == name;
    if (!replaced) lines.push_back(line);
  }
  for (const auto& [name, value] : overrides) lines.push_back(name + "=" + value);
  return lines;
}

// The pipe's two ends, closed on every path.
struct Pipe {
  int ends[2] = {-1, -1};
  Pipe() {
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  }
  ~Pipe() {
    closeEnd(0);
    closeEnd(1);
  }
  void closeEnd(int which) {
    if (ends[which] >= 0) close(ends[which]);
    ends[which] = -1;
  }
};

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

}  // namespace

ProgramResult runProgram(const ProgramLaunch& launch) {
  const std::vector<std::string> environment = childEnvironment(launch.environment);
  std::vector<char*> envp;
  for (const std::string& line : environment) envp.push_back(const_cast<char*>(line.c_str()));
  envp.push_back(nullptr);
  const std::string program = launch.program.string();
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  const std::string folder = launch.workingFolder.empty() ? launch.program.root_path().string()
                                                          : launch.workingFolder.string();

  Pipe errors;
  SpawnActions spawn;
  posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&spawn.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&spawn.actions, errors.ends[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&spawn.actions, folder.c_str());

  const auto started = std::chrono::steady_clock::now();
  pid_t child = -1;
  if (posix_spawn(&child, program.c_str(), &spawn.actions, nullptr, argv, envp.data()) != 0)
    throw std::runtime_error("cannot start " + program);
  errors.closeEnd(1);

  ProgramResult result;
  const auto deadline = started + std::chrono::duration<double>(launch.timeoutSeconds);
  bool killed = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !killed) {
      kill(child, SIGKILL);
      killed = true;
    }
    pollfd waitFor {errors.ends[0], POLLIN, 0};
    poll(&waitFor, 1, killed ? 1000 : static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (waitFor.revents == 0) {
      if (killed) break;  // a grandchild holding the pipe open cannot keep us here
      continue;
    }
    char buffer[4096];
    const ssize_t got = read(errors.ends[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.errorOutput.append(buffer, static_cast<size_t>(got));
  }
  // A child may close its standard error and go on running: the deadline holds for the wait too.
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (!killed && std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      killed = true;
    }
    usleep(10000);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.exitCode = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return result;
}

InstanceLockHolder::InstanceLockHolder(const std::filesystem::path& runtimeDir) {
  const int fd = open((runtimeDir / "TALVENOOK.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot open the instance lock");
  handle_ = fd;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    handle_ = -1;
    throw std::runtime_error("cannot take the instance lock");
  }
}

InstanceLockHolder::~InstanceLockHolder() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

}  // namespace testsupport

// Running a program in a child process on POSIX systems: posix_spawn of the launcher (which
// starts the program from a small address space and reports its peak memory) with an environment
// built beforehand, standard error read through a pipe, and a kill of the launcher's process group
// when the time limit passes.
//
// Tests start programs while other threads (scripted servers) run, so nothing may happen between
// fork and exec that is not async-signal-safe: no setenv, no allocation. posix_spawn takes the
// finished environment and file actions and does only safe steps in the child.
#include "tests/support/ProgramRunner.h"

#include <chrono>
#include <cstdlib>
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

struct SpawnAttributes {
  posix_spawnattr_t attributes;
  SpawnAttributes() { posix_spawnattr_init(&attributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

// The peak the launcher reported on descriptor 3, in kilobytes; 0 when it reported none.
long long reportedPeak(int report) {
  std::string text;
  char buffer[64];
  ssize_t got = 0;
  while ((got = read(report, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text.empty() ? 0 : std::atoll(text.c_str());
}

}  // namespace

ProgramResult runProgram(const ProgramLaunch& launch) {
  const std::vector<std::string> environment = childEnvironment(launch.environment);
  std::vector<char*> envp;
  for (const std::string& line : environment) envp.push_back(const_cast<char*>(line.c_str()));
  envp.push_back(nullptr);
  const std::string launcher = TALVENOOK_PROGRAM_LAUNCHER;
  const std::string program = launch.program.string();
  char* argv[] = {const_cast<char*>(launcher.c_str()), const_cast<char*>(program.c_str()), nullptr};
  const std::string folder = launch.workingFolder.empty() ? launch.program.root_path().string()
                                                          : launch.workingFolder.string();

  Pipe errors;
  Pipe report;
  SpawnActions spawn;
  posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&spawn.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&spawn.actions, errors.ends[1], STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&spawn.actions, report.ends[1], 3);
  posix_spawn_file_actions_addchdir_np(&spawn.actions, folder.c_str());
  // A group of its own, so that a kill reaches the program too, not only the launcher.
  SpawnAttributes group;
  posix_spawnattr_setflags(&group.attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&group.attributes, 0);

  const auto started = std::chrono::steady_clock::now();
  pid_t child = -1;
  {
    const std::lock_guard turn(copyAndStartTurn());
    if (posix_spawn(&child, launcher.c_str(), &spawn.actions, &group.attributes, argv, envp.data()) != 0)
      throw std::runtime_error("cannot start " + program);
  }
  errors.closeEnd(1);
  report.closeEnd(1);

  ProgramResult result;
  const auto deadline = started + std::chrono::duration<double>(launch.timeoutSeconds);
  bool killed = false;
  const auto killAll = [&] {
    kill(-child, SIGKILL);
    killed = true;
  };
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !killed) killAll();
    pollfd waitFor {errors.ends[0], POLLIN, 0};
    poll(&waitFor, 1, killed ? 1000 : static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (waitFor.revents == 0) {
      if (killed) break;  // a grandchild holding the pipe open cannot keep us here
      continue;
    }
    char buffer[65536];
    const ssize_t got = read(errors.ends[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.addErrorOutput(buffer, static_cast<size_t>(got), launch.errorOutputLimit);
  }
  // A child may close its standard error and go on running: the deadline holds for the wait too.
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (!killed && std::chrono::steady_clock::now() >= deadline) killAll();
    usleep(10000);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.exitCode = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  if (!killed) result.peakKilobytes = reportedPeak(report.ends[0]);
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

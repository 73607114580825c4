// Running the real program in a child process with a bounded wait.
#include "tests/support/ProgramRunner.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

std::filesystem::path installProgram(const std::filesystem::path& binary, const std::filesystem::path& folder) {
  const auto copy = folder / binary.filename();
  std::filesystem::copy_file(binary, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

ProgramResult runProgram(const std::filesystem::path& program, const std::filesystem::path& runtimeDir,
                         double timeoutSeconds) {
  int errPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const auto started = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    dup2(errPipe[1], STDERR_FILENO);
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    chdir("/");  // the program must find its files beside itself, not in the current folder
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(errPipe[1]);
  ProgramResult result;
  const auto deadline = started + std::chrono::duration<double>(timeoutSeconds);
  bool killed = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !killed) {
      kill(child, SIGKILL);
      killed = true;
    }
    pollfd waitFor {errPipe[0], POLLIN, 0};
    poll(&waitFor, 1, killed ? 1000 : static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (waitFor.revents == 0) continue;
    char buffer[4096];
    const ssize_t got = read(errPipe[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.errorOutput.append(buffer, static_cast<size_t>(got));
  }
  close(errPipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.exitCode = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return result;
}

InstanceLockHolder::InstanceLockHolder(const std::filesystem::path& runtimeDir) {
  fd_ = open((runtimeDir / "TALVENOOK.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0 || flock(fd_, LOCK_EX | LOCK_NB) != 0) throw std::runtime_error("cannot take the instance lock");
}

InstanceLockHolder::~InstanceLockHolder() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace testsupport

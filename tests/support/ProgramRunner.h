// Runs a real program in a child process, as a user would start it, with a bounded wait.
// ProgramRunner.cpp holds what every platform shares; ProgramRunner_posix.cpp and
// ProgramRunner_win32.cpp start the program, and CMake picks one of them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ProgramResult {
  int exitCode = -1;             // -1 when it had to be killed or could not be started
  std::string errorOutput;       // what it wrote to standard error, up to the launch's limit
  std::uint64_t errorBytes = 0;  // everything it wrote to standard error, kept or not
  double seconds = 0;
  long long peakKilobytes = 0;   // its own peak resident memory (0 when it was killed)

  // Counts `count` more bytes of standard error and keeps those that fit under `limit`.
  void addErrorOutput(const char* bytes, std::size_t count, std::size_t limit) {
    errorBytes += count;
    if (errorOutput.size() < limit) errorOutput.append(bytes, std::min(count, limit - errorOutput.size()));
  }
};

// What to start and how.
struct ProgramLaunch {
  std::filesystem::path program;
  // Variables set for the child on top of this process's environment (replacing any of the same
  // name). The child's environment is built in full before the child exists.
  std::vector<std::pair<std::string, std::string>> environment;
  // The child's current folder; empty means the root of the program's file system, so that a
  // program that must find its files beside itself does not find them through the current folder.
  std::filesystem::path workingFolder;
  double timeoutSeconds = 60;  // after this the child is killed and exitCode is -1
  // How much of standard error is kept (a flood is counted, not held).
  std::size_t errorOutputLimit = std::string::npos;
};

// Copying a program and starting one take turns across threads: a child started while another
// thread still writes its copy would inherit that copy open for writing, and the copy's own start
// would then fail ("text file busy").
std::mutex& copyAndStartTurn();

// Copies `binary` into `folder` (keeping its file name) and returns the copy's path. Threads may
// install and run programs side by side.
std::filesystem::path installProgram(const std::filesystem::path& binary, const std::filesystem::path& folder);

// Starts the program with its standard input and output on the null device and its standard error
// captured, and waits for it to end or for the time limit. On POSIX systems it is started through a
// small launcher process, so that its peak memory is its own, not the test process's. Raises std::runtime_error when it
// cannot be started at all.
ProgramResult runProgram(const ProgramLaunch& launch);

// Starts `program` with `runtimeDir` as XDG_RUNTIME_DIR (so the instance lock is the test's own on
// Linux) and waits for it, at most `timeoutSeconds`.
inline ProgramResult runProgram(const std::filesystem::path& program, const std::filesystem::path& runtimeDir,
                                double timeoutSeconds = 60) {
  return runProgram(ProgramLaunch{program, {{"XDG_RUNTIME_DIR", runtimeDir.string()}}, {}, timeoutSeconds});
}

// Holds the program's single-instance claim for as long as it lives: the lock file in
// `runtimeDir` on Linux, the named mutex on Windows (where `runtimeDir` plays no part). Raises
// std::runtime_error when the claim is held by someone else already.
class InstanceLockHolder {
 public:
  explicit InstanceLockHolder(const std::filesystem::path& runtimeDir);
  ~InstanceLockHolder();
  InstanceLockHolder(const InstanceLockHolder&) = delete;
  InstanceLockHolder& operator=(const InstanceLockHolder&) = delete;

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace testsupport

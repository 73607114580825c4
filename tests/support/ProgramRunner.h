// Runs the real `talvenook` binary from a folder of its own, as a user would start it.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

struct ProgramResult {
  int exitCode = -1;     // -1 when it had to be killed
  std::string errorOutput;  // everything written to standard error
  double seconds = 0;
};

// Copies `binary` into `folder` (keeping its file name) and returns the copy's path.
std::filesystem::path installProgram(const std::filesystem::path& binary, const std::filesystem::path& folder);

// Starts `program` with `runtimeDir` as XDG_RUNTIME_DIR (so the instance lock is the test's own)
// and waits for it, at most `timeoutSeconds`, after which it is killed.
ProgramResult runProgram(const std::filesystem::path& program, const std::filesystem::path& runtimeDir,
                         double timeoutSeconds = 60);

// Holds the program's instance lock in `runtimeDir` for as long as it lives.
class InstanceLockHolder {
 public:
  explicit InstanceLockHolder(const std::filesystem::path& runtimeDir);
  ~InstanceLockHolder();
  InstanceLockHolder(const InstanceLockHolder&) = delete;
  InstanceLockHolder& operator=(const InstanceLockHolder&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace testsupport

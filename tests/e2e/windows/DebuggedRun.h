// A Windows program started under Wine through debugrun (the debugger-runner test tool of the
// Windows build), so its debug lines and error boxes can be checked.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/windows/WinePrefix.h"

namespace wintest {

struct DebuggedResult {
  int exitCode = -1;                    // the program's (124: debugrun's deadline; -1: killed)
  std::vector<std::string> debugLines;  // UTF-8, in order
  std::string reports;                  // debugrun's own lines (error boxes, ...), as written
  double seconds = 0;
};

class DebuggedRun {
 public:
  // Starts `program` (a Windows path) in the prefix, in the Linux folder `workingFolder`, with
  // `arguments`; debugrun ends it after `deadlineSeconds`. Output goes to files in `logFolder`.
  DebuggedRun(const WinePrefix& prefix, const std::filesystem::path& debugrun, const std::string& program,
              const std::vector<std::string>& arguments, const std::filesystem::path& workingFolder,
              const std::filesystem::path& logFolder, double deadlineSeconds = 60);
  // Kills the run when it is still going (it then belongs to nobody).
  ~DebuggedRun();
  DebuggedRun(const DebuggedRun&) = delete;
  DebuggedRun& operator=(const DebuggedRun&) = delete;

  bool running();
  // Waits for the end (at most the deadline plus a margin, then kills it) and reads the output.
  DebuggedResult wait();

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  double deadlineSeconds_;
  std::filesystem::path output_, errors_;
  std::chrono::steady_clock::time_point started_;
};

// Starts and waits in one.
DebuggedResult runDebugged(const WinePrefix& prefix, const std::filesystem::path& debugrun, const std::string& program,
                           const std::filesystem::path& workingFolder, const std::filesystem::path& logFolder,
                           double deadlineSeconds = 60);

}  // namespace wintest

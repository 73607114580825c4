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
  // Lines Wine's own processes wrote on the same standard error (see splitWineMessages).
  std::vector<std::string> wineMessages;
  double seconds = 0;
  // Peak resident memory of the program's own process, in kilobytes, when the run was measured
  // (see DebuggedRun's `peakMemoryTool`); -1 otherwise or when the report has no such process.
  long long programPeakKilobytes = -1;
};

class DebuggedRun {
 public:
  // Starts `program` (a Windows path) in the prefix, in the Linux folder `workingFolder`, with
  // `arguments`; debugrun ends it after `deadlineSeconds`. Output goes to files in `logFolder`.
  // With `peakMemoryTool` (tools/peak_memory), Wine runs under it, and the result carries the
  // peak memory of the process named after the program's file.
  DebuggedRun(const WinePrefix& prefix, const std::filesystem::path& debugrun, const std::string& program,
              const std::vector<std::string>& arguments, const std::filesystem::path& workingFolder,
              const std::filesystem::path& logFolder, double deadlineSeconds = 60,
              const std::filesystem::path& peakMemoryTool = {});
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
  std::filesystem::path output_, errors_, peakReport_;
  std::string programName_;
  std::chrono::steady_clock::time_point started_;
};

// Splits what debugrun's standard error received into debugrun's own report and the lines that
// Wine's processes of the prefix wrote there: the system processes that the first Wine program of
// a prefix starts (services, the desktop's explorer, ...) inherit its standard error, and when one
// of them faults, Wine writes "wine: Unhandled ... starting debugger..." there. Wine writes that
// line only for a process that has no debugger; the program under test always has one
// (debugrun), whose own report of any fault of it ("debugrun: unhandled exception ...") and
// whose exit code stay in the result. So a "wine: " line never speaks of the program under test.
void splitWineMessages(const std::string& errorOutput, DebuggedResult& into);

// Starts and waits in one.
DebuggedResult runDebugged(const WinePrefix& prefix, const std::filesystem::path& debugrun, const std::string& program,
                           const std::filesystem::path& workingFolder, const std::filesystem::path& logFolder,
                           double deadlineSeconds = 60);

}  // namespace wintest

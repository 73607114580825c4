// One program run under the Win32 debugging API (DEBUG_ONLY_THIS_PROCESS): its debug lines go to
// standard output as they arrive, its error boxes are reported and dismissed, and a deadline ends
// it when it does not end by itself.
#pragma once

#include <windows.h>

#include <string>

namespace debugrun {

// Exit code given to a debuggee that had to be terminated at the deadline (as timeout(1) does).
constexpr DWORD kDeadlineExitCode = 124;

class DebugSession {
 public:
  // Starts `commandLine` (program and arguments, quoted as CreateProcessW expects) in the current
  // folder, with this process's environment. Raises std::runtime_error when it cannot start.
  explicit DebugSession(const std::wstring& commandLine);
  ~DebugSession();
  DebugSession(const DebugSession&) = delete;
  DebugSession& operator=(const DebugSession&) = delete;

  // Runs the debug loop until the program exits, and returns its exit code. After
  // `deadlineSeconds` the program is terminated with kDeadlineExitCode.
  DWORD run(double deadlineSeconds);

 private:
  // Handles one event; returns the continue status for it.
  DWORD handle(const DEBUG_EVENT& event);
  DWORD handleException(const EXCEPTION_DEBUG_INFO& exception);
  void handleDebugString(const OUTPUT_DEBUG_STRING_INFO& info);

  PROCESS_INFORMATION process_{};
  bool initialBreakpointSeen_ = false;
  bool initialWow64BreakpointSeen_ = false;
  bool exited_ = false;
  DWORD exitCode_ = 0;
};

}  // namespace debugrun

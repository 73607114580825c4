// Child processes of the Windows end-to-end suite (Wine, its server, php, the Linux build's
// program): started with an environment of the suite's choosing and their output in files.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace wintest {

using Environment = std::vector<std::pair<std::string, std::string>>;

// This process's environment with `extra` set on top (replacing variables of the same name), and
// without DISPLAY and WAYLAND_DISPLAY: Wine always runs headless here.
std::vector<std::string> environmentWith(const Environment& extra);

// Where a child's standard output and error go (the same file when both name it), and the folder
// it starts in (empty: this process's). Standard input is the null device.
struct ChildFiles {
  std::filesystem::path output;
  std::filesystem::path errors;
  std::filesystem::path workingFolder;
};

// Starts `argv` (searched on PATH); raises std::runtime_error when it cannot be started.
pid_t startChild(const std::vector<std::string>& argv, const Environment& extra, const ChildFiles& files);

// Waits for the child at most `seconds`; kills it after that. Returns its exit code, or -1 when it
// was killed or ended by a signal.
int waitForChild(pid_t child, double seconds);

// Starts and waits in one, stdout and stderr appended to `log`.
int runCommand(const std::vector<std::string>& argv, const Environment& extra, const std::filesystem::path& log,
               double seconds);

}  // namespace wintest

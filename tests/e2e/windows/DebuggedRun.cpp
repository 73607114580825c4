// Wine processes under debugrun: spawned with the prefix's environment, reaped with a deadline.
#include "tests/e2e/windows/DebuggedRun.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace wintest {
namespace fs = std::filesystem;
namespace {

// Extra seconds granted beyond debugrun's own deadline before the Linux side kills Wine.
constexpr double kMarginSeconds = 30;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

std::atomic<int> runNumber{0};

}  // namespace

DebuggedRun::DebuggedRun(const WinePrefix& prefix, const fs::path& debugrun, const std::string& program,
                         const std::vector<std::string>& arguments, const fs::path& workingFolder,
                         const fs::path& logFolder, double deadlineSeconds, const fs::path& peakMemoryTool)
    : deadlineSeconds_(deadlineSeconds) {
  const int number = runNumber++;
  output_ = logFolder / ("debugrun-" + std::to_string(number) + ".out");
  errors_ = logFolder / ("debugrun-" + std::to_string(number) + ".err");
  std::vector<std::string> argv = {wineLoader(), debugrun.string(), "--deadline", std::to_string(deadlineSeconds),
                                   program};
  if (!peakMemoryTool.empty()) {
    peakReport_ = logFolder / ("debugrun-" + std::to_string(number) + ".peaks");
    programName_ = program.substr(program.find_last_of("\\/") + 1).substr(0, 15);  // the kernel keeps 15
    argv.insert(argv.begin(), {peakMemoryTool.string(), peakReport_.string(),
                               std::to_string(deadlineSeconds + kMarginSeconds / 2)});
  }
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  started_ = std::chrono::steady_clock::now();
  pid_ = startChild(argv, prefix.environment(), {output_, errors_, workingFolder});
}

DebuggedRun::~DebuggedRun() {
  if (ended_ || pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, &status_, 0);
}

bool DebuggedRun::running() {
  if (ended_) return false;
  ended_ = waitpid(pid_, &status_, WNOHANG) == pid_;
  return !ended_;
}

DebuggedResult DebuggedRun::wait() {
  const auto limit = started_ + std::chrono::duration<double>(deadlineSeconds_ + kMarginSeconds);
  bool killed = false;
  while (running()) {
    if (std::chrono::steady_clock::now() >= limit) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      ended_ = true;
      killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  DebuggedResult result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  result.exitCode = !killed && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  result.debugLines = linesOf(readAll(output_));
  if (!peakReport_.empty()) {
    // One line per process: "PID<TAB>PEAK_KB<TAB>NAME".
    for (const std::string& line : linesOf(readAll(peakReport_))) {
      const std::size_t tab = line.find('\t'), name = line.rfind('\t');
      if (tab == std::string::npos || name == tab || line.substr(name + 1) != programName_) continue;
      result.programPeakKilobytes =
          std::max(result.programPeakKilobytes, std::stoll(line.substr(tab + 1, name - tab - 1)));
    }
  }
  splitWineMessages(readAll(errors_), result);
  // Kept visible in the test log: a fault of Wine's own processes is worth knowing about.
  for (const std::string& line : result.wineMessages) std::cerr << "Wine, beside the run: " << line << "\n";
  return result;
}

void splitWineMessages(const std::string& errorOutput, DebuggedResult& into) {
  static const std::string kWinePrefix = "wine: ";
  into.reports.clear();
  into.wineMessages.clear();
  std::size_t start = 0;
  while (start < errorOutput.size()) {
    const std::size_t newline = errorOutput.find('\n', start);
    const std::size_t end = newline == std::string::npos ? errorOutput.size() : newline + 1;
    const std::string line = errorOutput.substr(start, end - start);
    if (line.rfind(kWinePrefix, 0) == 0) {
      into.wineMessages.push_back(line.substr(0, line.find('\n')));
    } else {
      into.reports += line;
    }
    start = end;
  }
}

DebuggedResult runDebugged(const WinePrefix& prefix, const fs::path& debugrun, const std::string& program,
                           const fs::path& workingFolder, const fs::path& logFolder, double deadlineSeconds) {
  DebuggedRun run(prefix, debugrun, program, {}, workingFolder, logFolder, deadlineSeconds);
  return run.wait();
}

}  // namespace wintest

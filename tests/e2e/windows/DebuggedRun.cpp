// Wine processes under debugrun: spawned with the prefix's environment, reaped with a deadline.
#include "tests/e2e/windows/DebuggedRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <fstream>
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

std::atomic<int> runNumber {0};

}  // namespace

DebuggedRun::DebuggedRun(const WinePrefix& prefix, const fs::path& debugrun, const std::string& program,
                         const std::vector<std::string>& arguments, const fs::path& workingFolder,
                         const fs::path& logFolder, double deadlineSeconds)
    : deadlineSeconds_(deadlineSeconds) {
  const int number = runNumber++;
  output_ = logFolder / ("debugrun-" + std::to_string(number) + ".out");
  errors_ = logFolder / ("debugrun-" + std::to_string(number) + ".err");
  std::vector<std::string> argv = {wineLoader(), debugrun.string(), "--deadline", std::to_string(deadlineSeconds),
                                   program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env = environmentWith(prefix.environment());
  std::vector<char*> args, envp;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  started_ = std::chrono::steady_clock::now();
  const int spawned = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
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
  result.reports = readAll(errors_);
  return result;
}

DebuggedResult runDebugged(const WinePrefix& prefix, const fs::path& debugrun, const std::string& program,
                           const fs::path& workingFolder, const fs::path& logFolder, double deadlineSeconds) {
  DebuggedRun run(prefix, debugrun, program, {}, workingFolder, logFolder, deadlineSeconds);
  return run.wait();
}

}  // namespace wintest

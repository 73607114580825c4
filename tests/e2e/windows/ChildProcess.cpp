// posix_spawn with file actions; waits poll with a deadline, so a hung child cannot hang a test.
#include "tests/e2e/windows/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace wintest {
namespace fs = std::filesystem;

std::vector<std::string> environmentWith(const Environment& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool replaced = name == "DISPLAY" || name == "WAYLAND_DISPLAY";
    for (const auto& [key, value] : extra) replaced = replaced || key == name;
    if (!replaced) merged.push_back(text);
  }
  for (const auto& [key, value] : extra) merged.push_back(key + "=" + value);
  return merged;
}

pid_t startChild(const std::vector<std::string>& argv, const Environment& extra, const ChildFiles& files) {
  std::vector<std::string> words = argv;
  std::vector<std::string> env = environmentWith(extra);
  std::vector<char*> args, envp;
  for (auto& word : words) args.push_back(word.data());
  args.push_back(nullptr);
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, files.output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (files.errors == files.output)
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, files.errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (!files.workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, files.workingFolder.c_str());
  pid_t child = -1;
  const int failed = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + argv.at(0));
  return child;
}

int waitForChild(pid_t child, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runCommand(const std::vector<std::string>& argv, const Environment& extra, const fs::path& log, double seconds) {
  try {
    return waitForChild(startChild(argv, extra, {log, log, {}}), seconds);
  } catch (const std::runtime_error&) {
    return -1;
  }
}

}  // namespace wintest

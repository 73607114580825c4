// Template and per-test copies of the Wine prefix.
#include "tests/e2e/windows/WinePrefix.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace wintest {
namespace fs = std::filesystem;
namespace {

constexpr const char* kReadyMark = ".talvenook-template-ready-2";

// Holds an exclusive lock on a file for as long as it lives.
class FileLock {
 public:
  explicit FileLock(const fs::path& path) : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ < 0 || flock(fd_, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + path.string());
  }
  ~FileLock() { close(fd_); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

std::vector<std::pair<std::string, std::string>> prefixEnvironment(const fs::path& prefix) {
  // A prefix as a user has it (mshtml registered, so the registry knows the usual content types);
  // without a display the Mono and Gecko installers ask nobody.
  return {{"WINEPREFIX", prefix.string()}, {"WINEDEBUG", "-all"}};
}

void makeTemplate(const fs::path& folder) {
  const fs::path fresh = folder.string() + ".new";
  fs::remove_all(fresh);
  fs::create_directories(fresh.parent_path());
  const fs::path log = folder.string() + ".log";
  const auto environment = prefixEnvironment(fresh);
  if (runCommand({wineLoader(), "wineboot", "-i"}, environment, log, 300) != 0)
    throw std::runtime_error("wineboot could not make a prefix; see " + log.string());
  if (runCommand({wineLoader(), "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"},
                 environment, log, 120) != 0)
    throw std::runtime_error("cannot select Wine's null graphics driver; see " + log.string());
  runCommand({wineServer(), "-w"}, environment, log, 120);  // the registry is on disk once it is gone
  std::ofstream(fresh / kReadyMark) << "made by the Windows end-to-end tests\n";
  fs::remove_all(folder);
  fs::rename(fresh, folder);
}

void hardLinkCopy(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::create_hard_links);
  // Wine rewrites the registry files; they must not be shared with the template.
  for (const char* name : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"}) {
    if (!fs::exists(from / name)) continue;
    fs::remove(to / name);
    fs::copy_file(from / name, to / name);
  }
}

}  // namespace

std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& extra) {
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

std::string wineLoader() {
  const char* chosen = std::getenv("TALVENOOK_WINE");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  return fs::exists("/usr/lib/wine/wine64") ? "/usr/lib/wine/wine64" : "wine64";
}

std::string wineServer() {
  const fs::path beside = fs::path(wineLoader()).parent_path() / "wineserver";
  return fs::exists(beside) ? beside.string() : "wineserver";
}

int runCommand(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& environment,
               const fs::path& log, double seconds) {
  std::vector<std::string> env = environmentWith(environment);
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
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

WinePrefix::WinePrefix(const fs::path& templateFolder) {
  {
    fs::create_directories(templateFolder.parent_path());
    FileLock lock(templateFolder.string() + ".lock");
    if (!fs::exists(templateFolder / kReadyMark)) makeTemplate(templateFolder);
  }
  std::string pattern = (templateFolder.parent_path() / "prefix-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a folder for a Wine prefix");
  folder_ = pattern;
  fs::remove(folder_);
  hardLinkCopy(templateFolder, folder_);
}

WinePrefix::~WinePrefix() {
  runCommand({wineServer(), "-k"}, environment(), "/dev/null", 30);
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string WinePrefix::windowsPath(const fs::path& path) const {
  const fs::path absolute = fs::absolute(path).lexically_normal();
  const fs::path inside = absolute.lexically_relative(driveC());
  std::string text;
  if (!inside.empty() && *inside.begin() != "..") {
    text = "C:\\" + inside.string();
  } else {
    text = "Z:" + absolute.string();
  }
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

std::vector<std::pair<std::string, std::string>> WinePrefix::environment() const {
  return prefixEnvironment(folder_);
}

}  // namespace wintest

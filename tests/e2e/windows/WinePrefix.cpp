// Template and per-test copies of the Wine prefix.
#include "tests/e2e/windows/WinePrefix.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

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

Environment prefixEnvironment(const fs::path& prefix) {
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
  fs::copy(from, to,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::create_hard_links);
  // Wine rewrites the registry files; they must not be shared with the template.
  for (const char* name : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"}) {
    if (!fs::exists(from / name)) continue;
    fs::remove(to / name);
    fs::copy_file(from / name, to / name);
  }
}

}  // namespace

std::string wineLoader() {
  const char* chosen = std::getenv("TALVENOOK_WINE");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  return fs::exists("/usr/lib/wine/wine64") ? "/usr/lib/wine/wine64" : "wine64";
}

std::string wineServer() {
  const fs::path beside = fs::path(wineLoader()).parent_path() / "wineserver";
  return fs::exists(beside) ? beside.string() : "wineserver";
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

Environment WinePrefix::environment() const { return prefixEnvironment(folder_); }

}  // namespace wintest

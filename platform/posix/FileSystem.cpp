// File and folder tests on POSIX.
#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/TextCodePage.h"

namespace platform {
namespace {

bool statPath(const std::u16string& path, struct stat& info) {
  if (path.empty()) return false;
  return stat(toAnsi(path).c_str(), &info) == 0;
}

}  // namespace

bool fileExists(const std::u16string& path) {
  struct stat info {};
  return statPath(path, info) && !S_ISDIR(info.st_mode);
}

bool directoryExists(const std::u16string& path) {
  struct stat info {};
  return statPath(path, info) && S_ISDIR(info.st_mode);
}

// lstat or stat answer from the directory entry and the inode; neither opens the file.
bool isAbsentOrRegularFile(const std::u16string& path, LinkPolicy links) {
  if (path.empty()) return true;
  const std::string name = toAnsi(path);
  struct stat info {};
  const int result = links == LinkPolicy::Refuse ? lstat(name.c_str(), &info) : stat(name.c_str(), &info);
  if (result != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

bool createDirectory(const std::u16string& path) { return mkdir(toAnsi(path).c_str(), 0777) == 0; }

bool removeFile(const std::u16string& path) { return unlink(toAnsi(path).c_str()) == 0; }

std::u16string absolutePath(const std::u16string& path) {
  if (!path.empty() && path.front() == u'/') return path;
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return path;
  std::u16string folder = fromAnsi(buffer);
  if (folder.empty() || folder.back() != u'/') folder += u'/';
  return folder + path;
}

}  // namespace platform

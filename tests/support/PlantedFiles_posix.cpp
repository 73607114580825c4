// Symbolic links and FIFOs on POSIX: symlink() and mkfifo().
#include "tests/support/PlantedFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

bool makeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& link) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

bool makeFifo(const std::filesystem::path& path) { return mkfifo(path.c_str(), 0600) == 0; }

void releaseFifo(const std::filesystem::path& path) {
  const int both = open(path.c_str(), O_RDWR | O_NONBLOCK);
  if (both >= 0) close(both);
}

void removePlanted(const std::filesystem::path& path) { unlink(path.c_str()); }

bool systemShowsLink(const std::filesystem::path& link) {
  struct stat info {};
  return lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace testsupport

// Single instance on POSIX: an exclusive flock on a lock file in a folder only this user can
// write to. The descriptor is deliberately never closed, so the lock lives exactly as long as the
// process.
//
// The folder is $XDG_RUNTIME_DIR when set (the session's private folder), else
// "talvenook-<uid>" in $TMPDIR or /tmp, created with mode 0700. A shared temporary folder lets any
// local user create names in it first, so that folder is only used when it is a real folder (not
// a link), owned by this user and closed to everyone else; otherwise the guard is unavailable and
// the program runs as if alone rather than be silenced by a lock someone else holds. The lock file
// itself is opened without following a symbolic link, so a link planted in its place cannot make
// us create or lock a file elsewhere.
#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <utility>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr char kLockName[] = "TALVENOOK.lock";

// An open descriptor, closed with the object unless released.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  int release() { return std::exchange(fd, -1); }
};

std::string privateFolderBase() {
  const char* temporary = std::getenv("TMPDIR");
  return temporary != nullptr && temporary[0] == '/' ? std::string(temporary) : std::string("/tmp");
}

// Opens the per-user folder in the temporary folder, creating it 0700 when missing. -1 when it is
// not a folder of ours that only we can enter (a link, another owner, wider permissions).
int openPrivateFolder() {
  const std::string folder = privateFolderBase() + "/talvenook-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  Descriptor dir {open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
  if (dir.fd < 0) return -1;
  // Checked on the open folder itself, so nothing can be swapped in between check and use.
  struct stat info {};
  if (fstat(dir.fd, &info) != 0 || !S_ISDIR(info.st_mode)) return -1;
  if (info.st_uid != getuid() || (info.st_mode & 0077) != 0) return -1;
  return dir.release();
}

// The folder the lock file lives in, opened; -1 when there is none fit for it.
int openLockFolder() {
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir != nullptr && runtimeDir[0] != '\0') {
    return open(runtimeDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  return openPrivateFolder();
}

}  // namespace

InstanceClaim claimSingleInstance() {
  Descriptor folder {openLockFolder()};
  if (folder.fd < 0) return InstanceClaim::Unavailable;
  // O_NONBLOCK: a FIFO planted under the lock's name must not hold the open.
  Descriptor lock {openat(folder.fd, kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600)};
  if (lock.fd < 0) return InstanceClaim::Unavailable;
  struct stat info {};
  if (fstat(lock.fd, &info) != 0 || !S_ISREG(info.st_mode)) return InstanceClaim::Unavailable;
  if (flock(lock.fd, LOCK_EX | LOCK_NB) == 0) {
    lock.release();  // held until exit
    return InstanceClaim::Acquired;
  }
  return errno == EWOULDBLOCK ? InstanceClaim::AlreadyRunning : InstanceClaim::Unavailable;
}

}  // namespace platform

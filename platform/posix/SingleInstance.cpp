// Single instance on POSIX: an exclusive flock on a lock file in the user's runtime folder.
// The descriptor is deliberately never closed, so the lock lives exactly as long as the process.
#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace platform {
namespace {

std::string lockPath() {
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir != nullptr && runtimeDir[0] != '\0') return std::string(runtimeDir) + "/TALVENOOK.lock";
  return "/tmp/TALVENOOK-" + std::to_string(getuid()) + ".lock";
}

}  // namespace

InstanceClaim claimSingleInstance() {
  const int fd = open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return InstanceClaim::Unavailable;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return InstanceClaim::Acquired;  // fd held until exit
  const int error = errno;
  close(fd);
  return error == EWOULDBLOCK ? InstanceClaim::AlreadyRunning : InstanceClaim::Unavailable;
}

}  // namespace platform

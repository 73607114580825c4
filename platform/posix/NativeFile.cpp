// Open files on POSIX. Windows' sharing modes are imitated with advisory flock locks, which all
// of our own file streams take: "no sharing" holds an exclusive lock, "read, others may not
// write" a shared one. Programs that ignore flock are not kept out.
#include "platform/NativeFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/TextCodePage.h"
#include "platform/posix/FileStamp.h"

namespace platform {
namespace {

// The message Windows gives for a sharing violation, so callers see the same text everywhere.
constexpr char kSharingViolation[] = "The process cannot access the file because it is being used by another process";

FileError errorFor(int code) {
  if (code == EWOULDBLOCK) return {code, fromAnsi(kSharingViolation)};
  return {code, fromAnsi(std::strerror(code))};
}

// The folder part of `path` and the name inside it: "image/0.ico" is "image" and "0.ico", "0.ico"
// is "." and itself, "/0.ico" is "/" and "0.ico".
std::pair<std::string, std::string> splitFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// A descriptor that closes itself, for the folder a file is opened in.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Opens the folder that holds `path` without following a link in its place (ELOOP when one is
// there), so that the file is then opened relative to this very folder: renaming another folder
// or a link into its place afterwards changes nothing for this open. O_PATH: the folder is only
// named, never listed, so it needs no read permission, as a plain open of the file did not.
bool openHoldingFolder(const std::string& path, Descriptor& folder) {
  const std::string name = splitFolder(path).first;
  folder.fd = ::open(name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder.fd >= 0) return true;
  // With O_PATH a link fails O_DIRECTORY ("not a directory"); it is reported as the link it is,
  // with the number a no-follow open gives a link.
  struct stat info {};
  if (errno == ENOTDIR && lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) errno = ELOOP;
  return false;
}

// Opens `path` with `flags` (and `mode` when creating) following no symbolic link on the way:
// openat2's RESOLVE_NO_SYMLINKS refuses (ELOOP) a link at the file's name, at the folder that
// holds it and at every folder of the path above that, each judged as the walk reaches it, so a
// link renamed into place meanwhile changes nothing. That is stricter than needed only for
// folders above the holding one, and the program's own files lie in the program's folder, which
// comes from /proc/self/exe with every link already resolved. One call, where holding the folder
// took three (open it, open the file in it, close it): creating, writing and reading back a row's
// ICO file took 24 us of CPU that way, 22 us so (2,000 files on tmpfs, best of 7). Without openat2
// (a kernel before 5.6, or a filter that refuses the call) the folder is held as before.
int openFollowingNoLink(const std::string& path, int flags, mode_t mode = 0) {
  open_how how {};
  how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW | O_CLOEXEC);
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  how.resolve = RESOLVE_NO_SYMLINKS;
  const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
  Descriptor folder;
  if (!openHoldingFolder(path, folder)) return -1;
  return ::openat(folder.fd, splitFolder(path).second.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

}  // namespace

NativeFile NativeFile::createAlways(const std::u16string& path, FileError& error) {
  const std::string name = toAnsi(path);
  // The common case is a file that does not exist yet: created here, it is empty already, and
  // truncating it would cost more than nothing (on ext4 a truncation to 0 arms a forced block
  // allocation when the file is closed). O_EXCL never follows a link, not even a dangling one.
  bool created = true;
  int fd = openFollowingNoLink(name, O_RDWR | O_CREAT | O_EXCL, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Open without truncating first: a file someone else holds must keep its contents, and so
    // must anything that turns out not to be a regular file. O_NONBLOCK: a FIFO planted here
    // must not hold the open.
    created = false;
    fd = openFollowingNoLink(name, O_RDWR | O_CREAT | O_NONBLOCK, 0666);
  }
  if (fd < 0) {
    error = errorFor(errno);
    return {};
  }
  NativeFile file(fd);
  struct stat info {};
  if (!created && fstat(fd, &info) != 0) {
    error = errorFor(errno);
    return {};
  }
  if (!created && !S_ISREG(info.st_mode)) {
    error = errorFor(EACCES);
    return {};
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (!created && ftruncate(fd, 0) != 0)) {
    error = errorFor(errno);
    return {};
  }
  return file;
}

NativeFile NativeFile::openReadDenyWrite(const std::u16string& path, FileError& error, LinkPolicy links) {
  // O_NONBLOCK: opening a FIFO for reading would wait for a writer forever (and a device could
  // wait too). Only a regular file is read; for one, Linux ignores the flag (reads and writes of
  // regular files never return EAGAIN), so it is left set rather than cleared with two more calls.
  const std::string name = toAnsi(path);
  constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  const int fd = links == LinkPolicy::Follow ? ::open(name.c_str(), kFlags) : openFollowingNoLink(name, kFlags);
  if (fd < 0) {
    error = errorFor(errno);
    return {};
  }
  NativeFile file(fd);
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    error = errorFor(errno);
    return {};
  }
  if (!S_ISREG(info.st_mode)) {
    error = errorFor(S_ISDIR(info.st_mode) ? EISDIR : EACCES);
    return {};
  }
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    error = errorFor(errno);
    return {};
  }
  file.opened_ = posix::stampOf(info);
  return file;
}

// The position lives here, not in the kernel's file description: every read and write names
// its offset, and a seek is arithmetic.
std::int64_t NativeFile::read(void* buffer, std::int64_t count) {
  const std::int64_t got = readAt(position_, buffer, count);
  if (got > 0) position_ += got;
  return got;
}

std::int64_t NativeFile::write(const void* buffer, std::int64_t count) {
  if (!isOpen() || count < 0) return -1;
  const char* bytes = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t put = ::pwrite(static_cast<int>(handle_), bytes + done, static_cast<size_t>(count - done),
                                 static_cast<off_t>(position_ + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += put;
  }
  position_ += done;
  return done > 0 || count == 0 ? done : -1;
}

std::int64_t NativeFile::seek(std::int64_t offset, int origin) {
  if (!isOpen()) return -1;
  std::int64_t base = 0;
  if (origin == 1) base = position_;
  if (origin == 2 && (base = size()) < 0) return -1;
  if (offset < -base) return -1;  // before the start of the file
  position_ = base + offset;
  return position_;
}

std::int64_t NativeFile::readAt(std::int64_t offset, void* buffer, std::int64_t count) {
  if (!isOpen() || count < 0 || offset < 0) return -1;
  for (;;) {
    const ssize_t got = pread(static_cast<int>(handle_), buffer, static_cast<size_t>(count), offset);
    if (got >= 0 || errno != EINTR) return got;
  }
}

std::int64_t NativeFile::size() {
  if (!isOpen()) return -1;
  if (opened_) return opened_->size;
  struct stat info {};
  if (fstat(static_cast<int>(handle_), &info) != 0) return -1;
  return info.st_size;
}

bool NativeFile::truncate(std::int64_t size) { return isOpen() && ftruncate(static_cast<int>(handle_), size) == 0; }

void NativeFile::close() {
  opened_.reset();
  if (handle_ < 0) return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform

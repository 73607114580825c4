// How the Windows layer opens files it did not make and checks what it opened, for platform/win32
// only: nothing the program opens may block it (a pipe, a device), act as it (a pipe server), or
// lead its writes elsewhere (a link planted in place of its own file or folder).
#pragma once

#include <string>

#include "platform/win32/Win32Text.h"

namespace platform::win32 {

// Security quality of service for every CreateFileW of the layer. A name that reaches a named pipe
// after all would otherwise let the pipe's server impersonate the program's account, with all its
// rights. Identification, not anonymous: the server may learn who connected (over the network the
// redirector's session tells it anyway) but can never act as that account, and remote files keep
// opening as before (anonymous is refused by some servers for ordinary files).
inline constexpr DWORD kNoImpersonation = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// True when `path`, read with "\" and "/" alike, names the device namespace ("\\.\", "\\?\"
// other than a drive or UNC path, the object manager's "\??\" with the same exceptions,
// "\\?\GLOBALROOT\...") or a machine's named pipes or mailslots ("\\host\pipe\...",
// "\\?\UNC\host\pipe\..."). A quick refusal by spelling only: what an open finds decides the rest.
bool namesDeviceNamespace(const std::u16string& path);

// True when the open `handle` is a file on a disk: GetFileType says so and its attributes are not
// those of a folder, a device or a reparse point. `facts`, when given, receives those attributes.
bool isDiskFileHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* facts = nullptr);

// True when `handle`, opened with FILE_FLAG_OPEN_REPARSE_POINT, is a link: a reparse point whose
// tag is a name surrogate (a symbolic link, a junction, a mount point), which sends a name
// somewhere else. Other reparse points (a cloud file's placeholder, a deduplicated file) keep the
// file's own data here and are no link. Where no tag can be read, any reparse point is one.
bool isLinkHandle(HANDLE handle);

// True when `path` names an existing regular file on a disk: not a folder, not a device ("CON",
// "\\.\COM1"), not a pipe ("\\.\pipe\..."), not a reparse point left unfollowed. Decided without
// reading a byte and without waiting on the object: device-namespace paths are refused by their
// form, anything else is opened for its attributes only (links followed, impersonation
// forbidden) and the handle judged by isDiskFileHandle.
bool isRegularFile(const std::u16string& path);

// The folder that holds the file at `path`, held open for as long as this object lives. It is
// open only when that folder is a real folder, not a link, junction or other reparse point; held
// without delete sharing, so it cannot be renamed away or replaced while the file is opened in it.
class HeldFolder {
 public:
  explicit HeldFolder(const std::u16string& filePath);
  ~HeldFolder();
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  bool isHeld() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Why the folder is not held: GetLastError's number for a failed open (a missing folder is
  // ERROR_PATH_NOT_FOUND, as a create in it would say), ERROR_CANT_ACCESS_FILE for a link.
  DWORD error() const { return error_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DWORD error_ = 0;
};

}  // namespace platform::win32

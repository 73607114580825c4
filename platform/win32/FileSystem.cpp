// File and folder tests on Windows: GetFileAttributesW, CreateDirectoryW, DeleteFileW,
// GetFullPathNameW; and the regular-file test of RegularFile.h.
#include "platform/FileSystem.h"

#include "platform/win32/RegularFile.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

DWORD attributesOf(const std::u16string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(win32::wide(path));
}

// "\\.\" and "\\?\GLOBALROOT" name devices and pipes directly; "\\?\C:\..." is an ordinary
// long path and stays allowed.
bool namesDeviceNamespace(const std::u16string& path) {
  if (path.rfind(u"\\\\.\\", 0) == 0 || path.rfind(u"//./", 0) == 0) return true;
  if (path.rfind(u"\\\\?\\", 0) != 0) return false;
  const std::u16string rest = path.substr(4);
  return !(rest.size() >= 2 && rest[1] == u':') && rest.rfind(u"UNC\\", 0) != 0;
}

}  // namespace

namespace win32 {

bool isRegularFile(const std::u16string& path) {
  if (path.empty() || namesDeviceNamespace(path)) return false;
  // Attributes only, every sharing mode allowed: the open neither reads nor disturbs anyone.
  const HANDLE file = CreateFileW(wide(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information) &&
                       (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  CloseHandle(file);
  return regular;
}

}  // namespace win32

bool fileExists(const std::u16string& path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool directoryExists(const std::u16string& path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool createDirectory(const std::u16string& path) { return CreateDirectoryW(win32::wide(path), nullptr) != 0; }

bool removeFile(const std::u16string& path) { return DeleteFileW(win32::wide(path)) != 0; }

std::u16string absolutePath(const std::u16string& path) {
  if (path.empty()) return path;
  const DWORD length = GetFullPathNameW(win32::wide(path), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::u16string full(length, u'\0');
  const DWORD written = GetFullPathNameW(win32::wide(path), length, win32::wide(full.data()), nullptr);
  if (written == 0 || written >= length) return path;
  full.resize(written);
  return full;
}

}  // namespace platform

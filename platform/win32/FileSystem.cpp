// File and folder tests on Windows: GetFileAttributesW, CreateDirectoryW, DeleteFileW,
// GetFullPathNameW; and the regular-file test, the handle check and the held folder of
// RegularFile.h.
#include "platform/FileSystem.h"

#include <string_view>

#include "platform/AsciiCase.h"
#include "platform/win32/RegularFile.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

// The longest path the wide calls take (a "\\?\" path of 32,767 characters and its terminator).
constexpr DWORD kLongestPath = 32768;

DWORD attributesOf(const std::u16string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(win32::wide(path));
}

// True when `text` begins with `word` (ASCII, any case) followed by "\" or its end.
bool beginsWithWord(std::u16string_view text, std::u16string_view word) {
  if (text.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (lowerAscii(text[i]) != word[i]) return false;
  }
  return text.size() == word.size() || text[word.size()] == u'\\';
}

// "host\pipe\..." or "host\mailslot\...", the part of a UNC path after its leading "\\": the
// network redirector takes these shares for the named pipes and mailslots of that machine
// (its own under "localhost" or its own name).
bool namesPipeShare(std::u16string_view unc) {
  const std::size_t slash = unc.find(u'\\');
  if (slash == std::u16string_view::npos) return false;
  const std::u16string_view share = unc.substr(slash + 1);
  return beginsWithWord(share, u"pipe") || beginsWithWord(share, u"mailslot");
}

bool isDriveLetterPath(std::u16string_view rest) {
  return rest.size() >= 2 && rest[1] == u':' && lowerAscii(rest[0]) >= u'a' && lowerAscii(rest[0]) <= u'z';
}

constexpr DWORD kLinkOrOddity = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;

// An attribute-only open of `path` (every sharing mode, so nobody is disturbed, and nothing read),
// which a folder passes too; `extra` adds flags. INVALID_HANDLE_VALUE when it fails.
HANDLE openForAttributes(const std::u16string& path, DWORD extra) {
  return CreateFileW(win32::wide(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | win32::kNoImpersonation | extra, nullptr);
}

// The folder part of `path`, without a trailing separator (a trailing one could make the system
// pass through a link it names) unless it is a root: "C:\image\0.ico" is "C:\image", "C:\0.ico"
// is "C:\", "0.ico" is ".".
std::u16string folderOf(const std::u16string& path) {
  const std::size_t separator = path.find_last_of(u"\\/");
  if (separator == std::u16string::npos) return u".";
  std::u16string folder = path.substr(0, separator);
  if (folder.empty() || folder.back() == u':' || folder.back() == u'\\' || folder.back() == u'/') {
    folder = path.substr(0, separator + 1);
  }
  return folder;
}

}  // namespace

namespace win32 {

bool namesDeviceNamespace(const std::u16string& path) {
  std::u16string spelt = path;
  for (char16_t& c : spelt) {
    if (c == u'/') c = u'\\';
  }
  const std::u16string_view text(spelt);
  if (text.rfind(u"\\\\.\\", 0) == 0) return true;
  if (text.rfind(u"\\\\?\\", 0) == 0 || text.rfind(u"\\??\\", 0) == 0) {
    // "\\?\C:\..." and "\??\C:\..." are ordinary long paths; "\\?\UNC\host\share\..." is a
    // network path; everything else there (GLOBALROOT, a volume, "pipe") is the object namespace.
    const std::u16string_view rest = text.substr(4);
    if (isDriveLetterPath(rest)) return false;
    if (!beginsWithWord(rest, u"unc")) return true;
    return namesPipeShare(rest.substr(rest.size() > 3 ? 4 : 3));
  }
  if (text.rfind(u"\\\\", 0) == 0) return namesPipeShare(text.substr(2));
  return false;
}

bool isDiskFileHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* facts) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information)) return false;
  if (facts != nullptr) *facts = information;
  return (information.dwFileAttributes & kLinkOrOddity) == 0;
}

bool isLinkHandle(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
    // A file system that keeps no tags: only the attribute tells.
    BY_HANDLE_FILE_INFORMATION facts{};
    return !GetFileInformationByHandle(handle, &facts) || (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return tag.ReparseTag == 0 || IsReparseTagNameSurrogate(tag.ReparseTag);
}

bool isRegularFile(const std::u16string& path) {
  if (path.empty() || namesDeviceNamespace(path)) return false;
  const HANDLE file = openForAttributes(path, 0);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool regular = isDiskFileHandle(file);
  CloseHandle(file);
  return regular;
}

HeldFolder::HeldFolder(const std::u16string& filePath) {
  const std::u16string folder = folderOf(filePath);
  if (namesDeviceNamespace(folder)) {
    error_ = ERROR_ACCESS_DENIED;
    return;
  }
  // Backup semantics: the only way to open a folder; the reparse-point flag: a link there is
  // opened itself instead of what it leads to. Every sharing mode but delete.
  handle_ = CreateFileW(wide(folder), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT | kNoImpersonation, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    error_ = GetLastError();
    if (error_ == ERROR_FILE_NOT_FOUND) error_ = ERROR_PATH_NOT_FOUND;
    return;
  }
  // The handle tells on Windows. Wine shows a link to a folder only in the name's attributes
  // (FILE_ATTRIBUTE_REPARSE_POINT beside FILE_ATTRIBUTE_DIRECTORY) and not in the handle's, so a
  // name that says "reparse point" where its handle does not is a link too. The name cannot be
  // renamed to something else while the handle is held.
  BY_HANDLE_FILE_INFORMATION facts{};
  const bool described = GetFileType(handle_) == FILE_TYPE_DISK && GetFileInformationByHandle(handle_, &facts);
  const DWORD named = attributesOf(folder);
  const bool namedLink = named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                         (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  const bool link = namedLink || isLinkHandle(handle_);
  if (described && (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !link) return;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  // A file where the folder should be is what a create in it reports too: the path is not found.
  error_ = link ? ERROR_CANT_ACCESS_FILE : ERROR_PATH_NOT_FOUND;
}

HeldFolder::~HeldFolder() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
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

bool isAbsentOrRegularFile(const std::u16string& path, LinkPolicy links) {
  if (path.empty()) return true;
  if (win32::namesDeviceNamespace(path)) return false;
  const DWORD attributes = attributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  // The name's own attributes first (a link, not what it leads to); then what an attribute-only
  // open finds, which tells a pipe or a device (and under Wine a FIFO) from a file, without waiting.
  const DWORD refused = links == LinkPolicy::Refuse ? kLinkOrOddity : FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  if ((attributes & refused) != 0) return false;
  const HANDLE file = openForAttributes(path, links == LinkPolicy::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  const bool regular = win32::isDiskFileHandle(file);
  CloseHandle(file);
  return regular;
}

bool createDirectory(const std::u16string& path) { return CreateDirectoryW(win32::wide(path), nullptr) != 0; }

bool removeFile(const std::u16string& path) { return DeleteFileW(win32::wide(path)) != 0; }

// The size query's answer is bounded before anything is allocated for it: no path the wide calls
// take is longer than kLongestPath.
std::u16string absolutePath(const std::u16string& path) {
  if (path.empty()) return path;
  const DWORD length = GetFullPathNameW(win32::wide(path), 0, nullptr, nullptr);
  if (length == 0 || length > kLongestPath) return path;
  std::u16string full(length, u'\0');
  const DWORD written = GetFullPathNameW(win32::wide(path), length, win32::wide(full.data()), nullptr);
  if (written == 0 || written >= length) return path;
  full.resize(written);
  return full;
}

}  // namespace platform

// Open files on Windows: CreateFileW with the system's own sharing modes. "No sharing" refuses
// every other opener; "read, others may not write" lets readers in and fails while someone
// writes. Every open forbids impersonation and is judged by what it opened (RegularFile.h).
// Error numbers are GetLastError's, their texts FormatMessageW's.
#include "platform/NativeFile.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/win32/RegularFile.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

HANDLE toHandle(long long handle) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle)); }
long long fromHandle(HANDLE handle) { return static_cast<long long>(reinterpret_cast<std::intptr_t>(handle)); }

FileError lastError() {
  const DWORD code = GetLastError();
  return {static_cast<int>(code), win32::systemMessage(code)};
}

// The largest piece one ReadFile or WriteFile call takes.
constexpr std::int64_t kLargestPiece = 0x40000000;

bool moveTo(HANDLE file, std::int64_t offset, DWORD origin, std::int64_t* position = nullptr) {
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER reached{};
  if (!SetFilePointerEx(file, distance, &reached, origin)) return false;
  if (position != nullptr) *position = reached.QuadPart;
  return true;
}

FileError errorOf(DWORD code) { return {static_cast<int>(code), win32::systemMessage(code)}; }

// The stamp of an open file from what GetFileInformationByHandle told of it; nothing when its size
// is beyond what the stamp holds (no real file is, but the answer is the file system's).
std::optional<FileStamp> stampOf(const BY_HANDLE_FILE_INFORMATION& facts) {
  // The write time counts 100-nanosecond steps since 1601.
  const std::uint64_t written = (std::uint64_t{facts.ftLastWriteTime.dwHighDateTime} << 32) |
                                facts.ftLastWriteTime.dwLowDateTime;
  const std::uint64_t size = (std::uint64_t{facts.nFileSizeHigh} << 32) | facts.nFileSizeLow;
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
  return FileStamp{facts.dwVolumeSerialNumber, (std::uint64_t{facts.nFileIndexHigh} << 32) | facts.nFileIndexLow,
                   static_cast<std::int64_t>(size), static_cast<std::int64_t>(written / 10000000),
                   static_cast<std::int64_t>(written % 10000000 * 100)};
}

// True, with `error` set, when the program's own file opened at `file` (with the reparse-point
// flag) must not be used: a link (ERROR_CANT_ACCESS_FILE), or no plain file on a disk at all (a
// folder, a device, a pipe: ERROR_ACCESS_DENIED). A reparse point that is no link (a cloud file's
// placeholder left by an earlier run) is the file itself and is used.
bool refusedOwnFile(HANDLE file, FileError& error, BY_HANDLE_FILE_INFORMATION* facts = nullptr) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (win32::isLinkHandle(file)) {
    error = errorOf(ERROR_CANT_ACCESS_FILE);
    return true;
  }
  constexpr DWORD kNoFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
      (information.dwFileAttributes & kNoFile) != 0) {
    error = errorOf(ERROR_ACCESS_DENIED);
    return true;
  }
  if (facts != nullptr) *facts = information;
  return false;
}

}  // namespace

// INVALID_HANDLE_VALUE is -1, the "not open" value of handle_; real handles are positive.
//
// The folder is held (and checked not to be a link) while the file is opened in it. The file is
// opened without truncation and with the reparse-point flag, so that a link in its place is opened
// itself, seen and refused before anything is cut; only a plain file that was there already is
// then emptied, which is what CREATE_ALWAYS would have done to it.
NativeFile NativeFile::createAlways(const std::u16string& path, FileError& error) {
  if (win32::namesDeviceNamespace(path)) {
    error = errorOf(ERROR_ACCESS_DENIED);
    return {};
  }
  const win32::HeldFolder folder(path);
  if (!folder.isHeld()) {
    error = errorOf(folder.error());
    return {};
  }
  const HANDLE file =
      CreateFileW(win32::wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | win32::kNoImpersonation, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = lastError();
    return {};
  }
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  NativeFile created(fromHandle(file));
  if (refusedOwnFile(file, error)) return {};
  if (existed && !SetEndOfFile(file)) {  // the position of a fresh handle is 0
    error = lastError();
    return {};
  }
  return created;
}

// The spelling check refuses the device namespace before anything is opened (a pipe's server sees
// a connection at the open itself); what the open found decides the rest.
NativeFile NativeFile::openReadDenyWrite(const std::u16string& path, FileError& error, LinkPolicy links) {
  if (path.empty() || win32::namesDeviceNamespace(path)) {
    error = errorOf(path.empty() ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    return {};
  }
  std::optional<win32::HeldFolder> folder;
  DWORD flags = FILE_ATTRIBUTE_NORMAL | win32::kNoImpersonation;
  if (links == LinkPolicy::Refuse) {
    folder.emplace(path);
    if (!folder->isHeld()) {
      error = errorOf(folder->error());
      return {};
    }
    flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  }
  const HANDLE file = CreateFileW(win32::wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = lastError();
    return {};
  }
  NativeFile opened(fromHandle(file));
  // Only a file on disk is read: a device (NUL, a serial port, the console) or a pipe named in its
  // place would be read as if it were one, and a pipe's read waits for its writer. With links
  // followed, a reparse point still on the handle is one the system did not resolve.
  BY_HANDLE_FILE_INFORMATION facts{};
  if (links == LinkPolicy::Refuse ? refusedOwnFile(file, error, &facts) : !win32::isDiskFileHandle(file, &facts)) {
    if (links == LinkPolicy::Follow) error = errorOf(ERROR_ACCESS_DENIED);
    return {};
  }
  opened.opened_ = stampOf(facts);
  return opened;
}

std::int64_t NativeFile::read(void* buffer, std::int64_t count) {
  if (!isOpen() || count < 0) return -1;
  DWORD got = 0;
  const auto piece = static_cast<DWORD>(std::min(count, kLargestPiece));
  if (!ReadFile(toHandle(handle_), buffer, piece, &got, nullptr)) return -1;
  return got;
}

std::int64_t NativeFile::write(const void* buffer, std::int64_t count) {
  if (!isOpen() || count < 0) return -1;
  const char* bytes = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    DWORD put = 0;
    const auto piece = static_cast<DWORD>(std::min(count - done, kLargestPiece));
    if (!WriteFile(toHandle(handle_), bytes + done, piece, &put, nullptr) || put == 0) return done > 0 ? done : -1;
    done += put;
  }
  return done;
}

std::int64_t NativeFile::seek(std::int64_t offset, int origin) {
  if (!isOpen()) return -1;
  const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  std::int64_t position = -1;
  return moveTo(toHandle(handle_), offset, method, &position) ? position : -1;
}

// A synchronous handle's ReadFile at an offset also moves the file position, so the position is
// put back afterwards.
std::int64_t NativeFile::readAt(std::int64_t offset, void* buffer, std::int64_t count) {
  if (!isOpen() || count < 0 || offset < 0) return -1;
  const HANDLE file = toHandle(handle_);
  std::int64_t position = 0;
  if (!moveTo(file, 0, FILE_CURRENT, &position)) return -1;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const auto piece = static_cast<DWORD>(std::min(count, kLargestPiece));
  const bool read = ReadFile(file, buffer, piece, &got, &at) || GetLastError() == ERROR_HANDLE_EOF;
  moveTo(file, position, FILE_BEGIN);
  return read ? static_cast<std::int64_t>(got) : -1;
}

std::int64_t NativeFile::size() {
  if (!isOpen()) return -1;
  if (opened_) return opened_->size;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(toHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

// SetEndOfFile cuts at the file position, so the position is moved there and put back.
bool NativeFile::truncate(std::int64_t size) {
  if (!isOpen() || size < 0) return false;
  const HANDLE file = toHandle(handle_);
  std::int64_t position = 0;
  if (!moveTo(file, 0, FILE_CURRENT, &position) || !moveTo(file, size, FILE_BEGIN)) return false;
  const bool cut = SetEndOfFile(file) != 0;
  moveTo(file, position, FILE_BEGIN);
  return cut;
}

void NativeFile::close() {
  opened_.reset();
  if (handle_ < 0) return;
  CloseHandle(toHandle(handle_));
  handle_ = -1;
}

}  // namespace platform

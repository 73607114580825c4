// Open files on Windows: CreateFileW with the system's own sharing modes. "No sharing" refuses
// every other opener; "read, others may not write" lets readers in and fails while someone
// writes. Error numbers are GetLastError's, their texts FormatMessageW's.
#include "platform/NativeFile.h"

#include <algorithm>
#include <cstdint>

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

}  // namespace

// INVALID_HANDLE_VALUE is -1, the "not open" value of handle_; real handles are positive.
NativeFile NativeFile::createAlways(const std::u16string& path, FileError& error) {
  const HANDLE file = CreateFileW(win32::wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = lastError();
    return {};
  }
  return NativeFile(fromHandle(file));
}

NativeFile NativeFile::openReadDenyWrite(const std::u16string& path, FileError& error) {
  const HANDLE file =
      CreateFileW(win32::wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = lastError();
    return {};
  }
  NativeFile opened(fromHandle(file));
  // Only a file on disk is read: a device (NUL, a serial port, the console) or a pipe named in its
  // place would be read as if it were one, and a pipe's read waits for its writer.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    error = {ERROR_ACCESS_DENIED, win32::systemMessage(ERROR_ACCESS_DENIED)};
    return {};
  }
  BY_HANDLE_FILE_INFORMATION facts {};
  if (GetFileInformationByHandle(file, &facts)) {
    // The write time counts 100-nanosecond steps since 1601.
    const std::uint64_t written = (std::uint64_t{facts.ftLastWriteTime.dwHighDateTime} << 32) |
                                  facts.ftLastWriteTime.dwLowDateTime;
    const std::uint64_t size = (std::uint64_t{facts.nFileSizeHigh} << 32) | facts.nFileSizeLow;
    opened.opened_ = FileStamp{facts.dwVolumeSerialNumber,
                               (std::uint64_t{facts.nFileIndexHigh} << 32) | facts.nFileIndexLow,
                               static_cast<std::int64_t>(size), static_cast<std::int64_t>(written / 10000000),
                               static_cast<std::int64_t>(written % 10000000 * 100)};
  }
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

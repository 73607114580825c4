// An open file handle with the two sharing modes the program uses, as a move-only owner.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Why an open failed: the platform's error number and its message text.
struct FileError {
  int code = 0;
  std::u16string text;
};

class NativeFile {
 public:
  NativeFile() = default;
  ~NativeFile();
  NativeFile(NativeFile&& other) noexcept;
  NativeFile& operator=(NativeFile&& other) noexcept;
  NativeFile(const NativeFile&) = delete;
  NativeFile& operator=(const NativeFile&) = delete;

  // Creates or truncates `path` for reading and writing, refusing every other opener while it is
  // open ("no sharing"). When another process has the file open in a refused mode, fails without
  // touching the file's contents.
  static NativeFile createAlways(const std::u16string& path, FileError& error);

  // Opens an existing regular file at `path` for reading; others may read it but not write it
  // while it is open, and the open fails when someone is writing it already. Anything that is not
  // a regular file (a folder, a FIFO, a device, a socket) fails at once, without waiting.
  static NativeFile openReadDenyWrite(const std::u16string& path, FileError& error);

  bool isOpen() const { return handle_ >= 0; }

  // Reads up to `count` bytes at the file position; 0 at the end, -1 on an error.
  std::int64_t read(void* buffer, std::int64_t count);
  // Writes `count` bytes at the file position; returns how many were written, -1 on an error.
  std::int64_t write(const void* buffer, std::int64_t count);
  // Moves the file position: origin 0 = beginning, 1 = current, 2 = end. -1 on an error.
  std::int64_t seek(std::int64_t offset, int origin);
  // Reads up to `count` bytes at `offset` without moving the file position.
  std::int64_t readAt(std::int64_t offset, void* buffer, std::int64_t count);
  std::int64_t size();
  bool truncate(std::int64_t size);
  void close();

 private:
  explicit NativeFile(long long handle) : handle_(handle) {}
  long long handle_ = -1;
};

}  // namespace platform

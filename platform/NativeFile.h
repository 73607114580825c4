// An open file handle with the two sharing modes the program uses, as a move-only owner.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/LinkPolicy.h"

namespace platform {

// Why an open failed: the platform's error number and its message text.
struct FileError {
  int code = 0;
  std::u16string text;
};

// Which file a name or handle leads to, and in what state: its volume and file number, its length
// and the time of its last write. Two equal stamps name the same file, unchanged as far as its
// metadata tells.
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t fileNumber = 0;
  std::int64_t size = 0;
  std::int64_t modifiedSeconds = 0;
  std::int64_t modifiedNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
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
  // touching the file's contents. Only the program's own files are created, so links are refused
  // (LinkPolicy::Refuse): when `path` or the folder that holds it is a symbolic link or reparse
  // point, or something other than a regular file is at `path`, the create fails before anything
  // is truncated or made, and the link and what it leads to keep their contents.
  static NativeFile createAlways(const std::u16string& path, FileError& error);

  // Opens an existing regular file at `path` for reading; others may read it but not write it
  // while it is open, and the open fails when someone is writing it already. Anything that is not
  // a regular file (a folder, a FIFO, a device, a socket, a pipe) fails at once, without waiting,
  // judged by what the open found rather than by how the path is spelt. `links` says whether the
  // path may lead through a link: an executable of the catalogue may (Follow), a file the program
  // wrote itself may not (Refuse).
  static NativeFile openReadDenyWrite(const std::u16string& path, FileError& error,
                                      LinkPolicy links = LinkPolicy::Follow);

  bool isOpen() const { return handle_ >= 0; }

  // The stamp of a file opened for reading, as the open found it; nothing for a file opened for
  // writing (or where the platform could not tell).
  const std::optional<FileStamp>& openedStamp() const { return opened_; }

  // Reads up to `count` bytes at the file position; 0 at the end, -1 on an error.
  std::int64_t read(void* buffer, std::int64_t count);
  // Writes `count` bytes at the file position; returns how many were written, -1 on an error.
  std::int64_t write(const void* buffer, std::int64_t count);
  // Moves the file position: origin 0 = beginning, 1 = current, 2 = end. -1 on an error.
  std::int64_t seek(std::int64_t offset, int origin);
  // Reads up to `count` bytes at `offset` without moving the file position.
  std::int64_t readAt(std::int64_t offset, void* buffer, std::int64_t count);
  // The file's length. For a file opened for reading it is the length the open found: nobody may
  // write the file while it is open, so that is asked of the system once.
  std::int64_t size();
  bool truncate(std::int64_t size);
  void close();

 private:
  explicit NativeFile(long long handle) : handle_(handle) {}
  long long handle_ = -1;
  std::optional<FileStamp> opened_;
  // The file position where the platform's handle does not keep one for us (on POSIX systems
  // reads and writes name their offset, so moving the position costs no call).
  std::int64_t position_ = 0;
};

}  // namespace platform

// A row's executable, opened once and held by the upload pass while it reads the icon and the
// version, so both come from the one file. On Windows the file is held against being written,
// deleted or renamed, and the system's icon and version parsers only see it once our reader of
// executables has checked it (win32/Executable.cpp); on Linux the open descriptor itself is read
// by our reader (posix/Executable.cpp).
//
// How the upload pass uses this, once per row:
//   platform::Executable executable(exePath);
//   std::optional<platform::IconBitmaps> icon = executable.iconBitmaps48();
//   std::optional<platform::FileVersionWords> words = executable.fileVersionWords();
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/IconBitmaps.h"

namespace platform {

namespace executable {
class FileByteSource;
}

// The two file-version words of the fixed file information record (VS_FIXEDFILEINFO
// dwFileVersionMS / LS): major in the high and minor in the low half of `mostSignificant`, release
// and build likewise in `leastSignificant`.
struct FileVersionWords {
  std::uint32_t mostSignificant = 0;
  std::uint32_t leastSignificant = 0;
};

class Executable {
 public:
  // Opens `path` for reading while others may read it but not write, delete or rename it. A path
  // that is not a regular file (missing, a folder, a pipe, a device) is not opened, and without
  // blocking: such an executable has no icon and no version.
  explicit Executable(std::u16string path);
  ~Executable();
  Executable(const Executable&) = delete;
  Executable& operator=(const Executable&) = delete;

  bool isOpen() const { return file_ != nullptr; }

  // The bitmaps of the file's 48x48 icon of index 0 (the first icon group), or nothing when the
  // file has none or its icon is malformed. On Windows an icon the system extracted but whose
  // bitmaps it would not hand out comes back with maskWidth 0 (see IconBitmaps). May raise only
  // std::bad_alloc.
  std::optional<IconBitmaps> iconBitmaps48() const;

  // The file-version words of the fixed version record, or nothing when the file has no readable
  // one. String tables are never consulted. May raise only std::bad_alloc.
  std::optional<FileVersionWords> fileVersionWords() const;

 private:
  std::u16string path_;
  std::unique_ptr<executable::FileByteSource> file_;
};

}  // namespace platform

// A stream over a file, opened in one of the two modes the program uses.
#pragma once

#include <string>

#include "platform/NativeFile.h"
#include "runtime/TStream.h"

namespace rt {

enum class FileMode {
  CreateExclusive,  // create always (truncating), read and write, no sharing
  OpenReadDenyWrite,  // existing file, read only, others may read but not write
  // As OpenReadDenyWrite, for a file the program wrote itself: never reached through a symbolic
  // link, neither at its name nor at the folder that holds it.
  OpenOwnReadDenyWrite,
};

class TFileStream : public TStream {
 public:
  // Opens `path`; CreateExclusive, like every create of the platform's files, never through a
  // link. Raises EFCreateError "Cannot create file "%s". %s" or EFOpenError
  // "Cannot open file "%s". %s", filled with the absolute path and the system's error text.
  TFileStream(const std::u16string& path, FileMode mode);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  // The file's length in one query, instead of the three seeks the base class makes.
  std::int64_t Size() override;

 private:
  platform::NativeFile file_;
};

}  // namespace rt

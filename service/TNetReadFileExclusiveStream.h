// The file stream of a file part: read only, and nobody may write the file while it is open (on
// POSIX systems an advisory lock that the program's own file streams respect).
#pragma once

#include <string>

#include "runtime/TFileStream.h"

namespace service {

// A file opened for reading while others may read it but not write it.
class TNetReadFileExclusiveStream : public rt::TFileStream {
 public:
  // Raises EFOpenError "Cannot open file "%s". %s" when the file cannot be opened.
  explicit TNetReadFileExclusiveStream(const std::u16string& path)
      : rt::TFileStream(path, rt::FileMode::OpenReadDenyWrite) {}
};

}  // namespace service

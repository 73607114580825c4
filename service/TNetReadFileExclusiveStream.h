// The file stream of a file part: read only, and nobody may write the file while it is open (on
// POSIX systems an advisory lock that the program's own file streams respect). The files sent are
// the program's own icons, so a link planted at one, or at its folder, is not followed.
#pragma once

#include <string>

#include "runtime/TFileStream.h"

namespace service {

// A file opened for reading while others may read it but not write it, never through a link.
class TNetReadFileExclusiveStream : public rt::TFileStream {
 public:
  // Raises EFOpenError "Cannot open file "%s". %s" when the file cannot be opened.
  explicit TNetReadFileExclusiveStream(const std::u16string& path)
      : rt::TFileStream(path, rt::FileMode::OpenOwnReadDenyWrite) {}
};

}  // namespace service

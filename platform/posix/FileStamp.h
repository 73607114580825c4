// A file's stamp from what stat() tells of it.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "platform/NativeFile.h"

namespace platform::posix {

inline FileStamp stampOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::int64_t>(info.st_size), static_cast<std::int64_t>(info.st_mtim.tv_sec),
          static_cast<std::int64_t>(info.st_mtim.tv_nsec)};
}

}  // namespace platform::posix

// The platform-neutral part of an open file: ownership moves with the handle, and what the open
// found and the file position move with it.
#include "platform/NativeFile.h"

#include <utility>

namespace platform {

NativeFile::~NativeFile() { close(); }

NativeFile::NativeFile(NativeFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      opened_(std::exchange(other.opened_, std::nullopt)),
      position_(std::exchange(other.position_, 0)) {}

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
    opened_ = std::exchange(other.opened_, std::nullopt);
    position_ = std::exchange(other.position_, 0);
  }
  return *this;
}

}  // namespace platform

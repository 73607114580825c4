// A row's executable on Linux: the open descriptor is read by our reader of executables for both
// the icon and the version.
#include "platform/Executable.h"

#include "platform/executable/ByteSource.h"
#include "platform/executable/ExecutableResources.h"
#include "platform/posix/PeResourceReader.h"

namespace platform {

Executable::Executable(std::u16string path) : path_(std::move(path)) {
  FileError error;
  NativeFile file = NativeFile::openReadDenyWrite(path_, error);
  if (file.isOpen()) file_ = std::make_unique<executable::FileByteSource>(std::move(file));
}

Executable::~Executable() = default;

std::optional<IconBitmaps> Executable::iconBitmaps48() const {
  if (!file_) return std::nullopt;
  return posix::iconBitmaps48(*file_);
}

std::optional<FileVersionWords> Executable::fileVersionWords() const {
  if (!file_) return std::nullopt;
  const auto words = executable::checkedFileVersion(*file_);
  if (!words) return std::nullopt;
  const auto& w = *words;
  return FileVersionWords{(std::uint32_t{w[0]} << 16) | w[1], (std::uint32_t{w[2]} << 16) | w[3]};
}

}  // namespace platform

// The file version on Linux: the words come from our reader of the PE version resource.
#include "platform/VersionInfo.h"

#include "platform/posix/PeResourceReader.h"

namespace platform {

std::optional<FileVersionWords> readFileVersionWords(const std::u16string& path) {
  const auto words = posix::readFileVersion(path);
  if (!words) return std::nullopt;
  const auto& w = *words;
  return FileVersionWords{(std::uint32_t{w[0]} << 16) | w[1], (std::uint32_t{w[2]} << 16) | w[3]};
}

}  // namespace platform

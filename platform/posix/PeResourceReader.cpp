// Icons and versions of executables and .ico files on Linux: the shared checks say whether the
// file's icon is well-formed and which image index 0 at 48x48 is made from; that image is decoded
// and scaled here. The version is the shared checks' answer.
#include "platform/posix/PeResourceReader.h"

#include "platform/executable/ByteSource.h"
#include "platform/executable/ExecutableResources.h"
#include "platform/executable/HeldExecutable.h"
#include "platform/posix/IconImageDecoder.h"
#include "platform/posix/IconScaler.h"

namespace platform::posix {

std::optional<DecodedIcon> extractIcon48(const executable::ByteSource& source) {
  // The image is located only once the whole group has passed the checks.
  const auto image = executable::checkedIconImage(source);
  if (!image) return std::nullopt;
  const auto bytes = source.bytesAt(image->offset, image->size);  // bounded by the checks
  if (!bytes) return std::nullopt;
  auto pixels = decodeIconImage(*bytes);
  if (!pixels) return std::nullopt;
  return scaleIconTo48(std::move(*pixels));
}

std::optional<std::array<std::uint16_t, 4>> readFileVersion(const executable::ByteSource& source) {
  return executable::checkedFileVersion(source);
}

std::optional<DecodedIcon> extractIcon48(const std::u16string& path) {
  auto file = executable::openForIconRead(path);
  if (!file) return std::nullopt;
  auto icon = extractIcon48(*file);
  // Without an icon the pass reads no version, so nothing is kept then.
  if (icon) executable::keepForVersionRead(path, std::move(file));
  return icon;
}

std::optional<std::array<std::uint16_t, 4>> readFileVersion(const std::u16string& path) {
  const auto file = executable::openForVersionRead(path);
  if (!file) return std::nullopt;
  return readFileVersion(*file);
}

}  // namespace platform::posix

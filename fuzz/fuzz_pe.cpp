// Arbitrary bytes through the resource reader (as an executable or .ico file) and straight through
// the icon image decoder (BMP-style and PNG) and the scaler. Nothing may crash, hang or allocate
// without bound; every answer is either a well-formed icon or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/posix/ByteSource.h"
#include "platform/posix/IconImageDecoder.h"
#include "platform/posix/IconScaler.h"
#include "platform/posix/PeResourceReader.h"

namespace {

void check(const std::optional<platform::posix::DecodedIcon>& icon) {
  if (!icon) return;
  const std::size_t maskRows = icon->monochrome ? 96 : 48;
  if (icon->mask.size() != 48 * maskRows) std::abort();
  if (icon->bgra.size() != (icon->monochrome ? 0u : 48u * 48 * 4)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const platform::posix::MemoryByteSource source(bytes);
  check(platform::posix::extractIcon48(source));
  (void)platform::posix::readFileVersion(source);
  if (const auto image = platform::posix::decodeIconImage(bytes)) check(platform::posix::scaleIconTo48(*image));
  return 0;
}

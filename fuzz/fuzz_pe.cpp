// Arbitrary bytes through the shared checks of executables (icon and version, as both builds ask
// them, straight from memory and through the block cache files are read through), the Linux
// resource reader that turns what they pass into the icon's bitmaps (as an executable or .ico
// file) and the ICO writer that lays those out,
// and straight through the icon image decoder (BMP-style and PNG) and the scaler. Nothing may
// crash, hang or allocate without bound; every answer is either well-formed or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "imaging/IconWriter.h"
#include "platform/executable/ByteSource.h"
#include "platform/executable/ExecutableResources.h"
#include "platform/posix/IconImageDecoder.h"
#include "platform/posix/IconScaler.h"
#include "platform/posix/PeResourceReader.h"

namespace {

void check(const platform::posix::DecodedIcon& icon) {
  const std::size_t maskRows = icon.monochrome ? 96 : 48;
  if (icon.mask.size() != 48 * maskRows) std::abort();
  if (icon.bgra.size() != (icon.monochrome ? 0u : 48u * 48 * 4)) std::abort();
}

// The bitmaps of a 48x48 icon as Windows reads them back, and an ICO file of the size they make.
void check(const std::optional<platform::IconBitmaps>& icon) {
  if (!icon) return;
  const bool mono = icon->monochrome();
  if (icon->maskWidth != 48 || icon->maskHeight != (mono ? 96 : 48) || icon->maskRows.size() != 8u * icon->maskHeight)
    std::abort();
  if (icon->colourRows.size() != (mono ? 0u : 9216u) || icon->colourInfo.size() != (mono ? 0u : 40u)) std::abort();
  if (imaging::BuildIconImage(*icon).size() != (mono ? 838u : 9662u)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const platform::executable::MemoryByteSource source(bytes);
  // The checked image lies wholly inside the input, and the reader decodes only what was checked.
  const auto image = platform::executable::checkedIconImage(source);
  if (image && (image->offset > size || image->size > size - image->offset || image->size == 0)) std::abort();
  const auto icon = platform::posix::iconBitmaps48(source);
  if (icon && !image) std::abort();
  check(icon);
  // Read through the block cache that files are read through, the checks give the same answers.
  const platform::executable::CachedByteSource cached(source);
  if (platform::executable::checkedIconImage(cached) != image) std::abort();
  if (platform::executable::checkedFileVersion(cached) != platform::executable::checkedFileVersion(source)) std::abort();
  if (const auto decoded = platform::posix::decodeIconImage(bytes)) check(platform::posix::scaleIconTo48(*decoded));
  return 0;
}

// Bitmaps and icons for tests on Linux: made in the in-memory stand-in of the Windows bitmap calls,
// which counts its live objects exactly.
#include "tests/support/BitmapFixtures.h"

#include "platform/posix/BitmapStandIn.h"

namespace testsupport {

std::vector<std::uint32_t> devicePalette(int bitsPerPixel) { return platform::posix::devicePalette(bitsPerPixel); }

platform::BitmapHandle createDeviceBitmap(int width, int height, int bitsPerPixel, std::span<const std::uint8_t> rows) {
  return platform::posix::createDeviceBitmap(width, height, bitsPerPixel, rows);
}

platform::BitmapHandle createDibSection(const platform::BitmapInfoHeader& header,
                                        std::span<const std::uint32_t> colourTable,
                                        std::span<const std::uint32_t> masks, std::span<const std::uint8_t> bits) {
  return platform::posix::createDibSection(header, colourTable, masks, bits);
}

platform::IconHandle createIcon(platform::BitmapHandle colour, platform::BitmapHandle mask) {
  return platform::posix::createIcon(colour, mask);
}

std::size_t liveBitmapCount() { return platform::posix::liveBitmapCount(); }
std::size_t liveIconCount() { return platform::posix::liveIconCount(); }
std::size_t liveDeviceContextCount() { return platform::posix::liveDeviceContextCount(); }

}  // namespace testsupport

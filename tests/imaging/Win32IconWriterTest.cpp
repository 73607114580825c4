// What the Windows layer reads back from icons made from bitmaps of other depths and from
// device-independent sections: CreateIconIndirect copies them into bitmaps of the screen's depth,
// so the writer is handed a 32-bit colour bitmap whatever the icon was made of, and writes a
// 32-bit image with the same colours.
#include <gtest/gtest.h>

#include "imaging/EInvalidGraphic.h"
#include "imaging/IconWriter.h"
#include "tests/imaging/IconFixtures.h"

using namespace iconfixtures;
using testsupport::devicePalette;

namespace {

// The written image is a 48x48 32-bit one holding `expected` (colour only) under the test mask.
void expectThirtyTwoBitImage(const std::string& bytes, const PixelFunction& expected) {
  ASSERT_EQ(bytes.size(), 9662u);
  const IcoImage image = readIco(bytes);
  EXPECT_EQ(image.bits, 32);
  EXPECT_EQ(image.infoSize, 40u);
  expectPixels(image, expected, pictureMask, false);
}

}  // namespace

TEST(Win32IconWriter, DeviceBitmapsOfOtherDepthsComeBackAtTheScreensDepth) {
  LiveObjects live;
  const auto mask = [] { return maskBitmap(48, 48, pictureMask); };
  const auto index4 = [](int x, int y) { return static_cast<std::uint32_t>(x + 3 * y) % 16; };
  const std::vector<std::uint32_t> palette4 = devicePalette(4);
  ASSERT_EQ(palette4.size(), 16u);
  expectThirtyTwoBitImage(build(readBack(iconOf(deviceBitmap(48, 48, 4, index4), mask()))),
                          [&](int x, int y) { return palette4[index4(x, y)]; });
  expectThirtyTwoBitImage(build(readBack(iconOf(deviceBitmap(48, 48, 24, picture), mask()))), picture);
}

TEST(Win32IconWriter, SectionsComeBackAsScreenBitmaps) {
  LiveObjects live;
  const auto mask = [] { return maskBitmap(48, 48, pictureMask); };
  expectThirtyTwoBitImage(
      build(readBack(iconOf(dibSection(sectionHeader(48, 48, 32, 3), {}, {0xFF0000, 0xFF00, 0xFF}, picture), mask()))), picture);
  std::vector<std::uint32_t> table;
  for (std::uint32_t i = 0; i < 20; ++i) table.push_back(i * 0x0A0B0C);
  const auto index = [](int x, int y) { return static_cast<std::uint32_t>(x + y) % 20; };
  expectThirtyTwoBitImage(build(readBack(iconOf(dibSection(sectionHeader(48, 48, 8, 0, 20), table, {}, index), mask()))),
                          [&](int x, int y) { return table[index(x, y)]; });
  // A top-down section still reads top row first.
  expectThirtyTwoBitImage(build(readBack(iconOf(dibSection(sectionHeader(48, -48, 32), {}, {}, picture), mask()))), picture);
}

// The shapes the program meets read back from icon handles as the plain bitmaps of the writer's
// own table, byte for byte; a monochrome mask of odd height has no two halves.
TEST(Win32IconWriter, IconHandlesReadBackAsThePlainBitmaps) {
  LiveObjects live;
  EXPECT_EQ(build(readBack(pictureIcon())), build(pictureBitmaps()));
  EXPECT_EQ(build(readBack(pictureIcon(256, 256))), build(pictureBitmaps(256, 256)));
  const auto halves = [](int x, int y) { return y < 48 ? (x / 4 + y) % 3 == 0 : x > y - 48; };
  EXPECT_EQ(build(readBack(iconOf(nullptr, maskBitmap(48, 96, halves)))), build(monochromeOf(48, 96, halves)));
  EXPECT_THROW(build(readBack(iconOf(nullptr, maskBitmap(48, 47, pictureMask)))), imaging::EInvalidGraphic);
}

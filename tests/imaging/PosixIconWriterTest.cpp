// ICO bytes from the shapes of icon only the Linux stand-in hands back: colour bitmaps that keep a
// depth other than the screen's, and device-independent sections that stay sections. Windows
// copies an icon's bitmaps into bitmaps of the screen's depth when the icon is made, so its icons
// never have these shapes (Win32IconWriterTest.cpp checks what it hands back instead).
#include <gtest/gtest.h>

#include "imaging/EInvalidGraphic.h"
#include "imaging/IconWriter.h"
#include "tests/imaging/IconFixtures.h"

using namespace iconfixtures;
using testsupport::devicePalette;

namespace {

std::uint32_t paletteColour(int bits, std::uint32_t index) { return devicePalette(bits).at(index); }

}  // namespace

// Colour bitmaps of the screen's other depths keep their depth; palettes come with them.
TEST(PosixIconWriter, DeviceBitmapsOfOtherDepths) {
  LiveObjects live;
  const auto index4 = [](int x, int y) { return static_cast<std::uint32_t>(x + 3 * y) % 16; };
  const auto index8 = [](int x, int y) { return static_cast<std::uint32_t>(x * 7 + y * 5) % 256; };

  // 4 bits: a 16-entry table, 1152 bytes of colour, 384 of mask.
  std::string bytes = build(iconOf(deviceBitmap(48, 48, 4, index4), maskBitmap(48, 48, pictureMask)));
  IcoImage image = readIco(bytes);
  EXPECT_EQ(image.colours, 4u);
  EXPECT_EQ(image.infoSize, 104u);
  EXPECT_EQ(image.sizeImage, 1152u);
  EXPECT_EQ(image.bytesInImage, 1640u);
  EXPECT_EQ(bytes.size(), 22u + 1640u);
  expectPixels(image, [&](int x, int y) { return paletteColour(4, index4(x, y)); }, pictureMask, false);

  // 8 bits: a 256-entry table, so a 1064-byte colour header.
  bytes = build(iconOf(deviceBitmap(48, 48, 8, index8), maskBitmap(48, 48, pictureMask)));
  image = readIco(bytes);
  EXPECT_EQ(image.colours, 8u);
  EXPECT_EQ(image.infoSize, 1064u);
  EXPECT_EQ(image.bytesInImage, 1064u + 2304u + 384u);
  expectPixels(image, [&](int x, int y) { return paletteColour(8, index8(x, y)); }, pictureMask, false);

  // 24 bits: no table, three bytes a pixel (48 x 3 = 144, already a multiple of 4).
  bytes = build(iconOf(deviceBitmap(48, 48, 24, picture), maskBitmap(48, 48, pictureMask)));
  image = readIco(bytes);
  EXPECT_EQ(image.colours, 24u);
  EXPECT_EQ(image.bytesInImage, 40u + 6912u + 384u);
  expectPixels(image, picture, pictureMask, false);

  // 16 bits: the screen's 5-6-5 pixels come back as plain 5-5-5, header 40 bytes.
  const auto rgb565 = [](int x, int y) {
    const std::uint32_t c = picture(x, y);
    return ((c >> 19) & 0x1F) << 11 | ((c >> 10) & 0x3F) << 5 | ((c >> 3) & 0x1F);
  };
  bytes = build(iconOf(deviceBitmap(48, 48, 16, rgb565), maskBitmap(48, 48, pictureMask)));
  image = readIco(bytes);
  EXPECT_EQ(image.colours, 16u);
  EXPECT_EQ(image.infoSize, 40u);
  EXPECT_EQ(image.bytesInImage, 40u + 4608u + 384u);
  for (std::size_t i = 0; i < image.rgb.size(); ++i) {
    const std::uint32_t want = picture(static_cast<int>(i % 48), static_cast<int>(i / 48));
    for (int shift : {0, 8, 16})
      ASSERT_NEAR(static_cast<int>((image.rgb[i] >> shift) & 0xFF), static_cast<int>((want >> shift) & 0xFF), 9) << i;
  }
}

// Device-independent sections bring their own header, table or masks.
TEST(PosixIconWriter, SectionsKeepTheirOwnFormat) {
  LiveObjects live;
  const auto mask = [] { return maskBitmap(48, 48, pictureMask); };

  // 32-bit bit-fields: header plus three masks, 52 bytes; the masks are the section's own.
  std::string bytes = build(iconOf(dibSection(sectionHeader(48, 48, 32, 3), {}, {0xFF0000, 0xFF00, 0xFF}, picture), mask()));
  IcoImage image = readIco(bytes);
  EXPECT_EQ(image.infoSize, 52u);
  EXPECT_EQ(image.compression, 3u);
  EXPECT_EQ(image.bytesInImage, 52u + 9216u + 384u);
  EXPECT_EQ(u32At(bytes, 22 + 40), 0xFF0000u);
  expectPixels(image, picture, pictureMask, false);

  // 16-bit bit-fields with unusual masks (blue high, red low): copied, not converted.
  const std::vector<std::uint32_t> bgr565 = {0x001F, 0x07E0, 0xF800};
  const auto packed = [](int x, int y) {
    const std::uint32_t c = picture(x, y);
    return ((c >> 3) & 0x1F) << 11 | ((c >> 10) & 0x3F) << 5 | ((c >> 19) & 0x1F);
  };
  bytes = build(iconOf(dibSection(sectionHeader(48, 48, 16, 3), {}, bgr565, packed), mask()));
  image = readIco(bytes);
  EXPECT_EQ(image.infoSize, 52u);
  EXPECT_EQ(u32At(bytes, 22 + 40), 0x001Fu);
  EXPECT_EQ(u32At(bytes, 22 + 48), 0xF800u);
  for (std::size_t i = 0; i < image.rgb.size(); ++i) {
    const std::uint32_t want = picture(static_cast<int>(i % 48), static_cast<int>(i / 48));
    for (int shift : {0, 8, 16})
      ASSERT_NEAR(static_cast<int>((image.rgb[i] >> shift) & 0xFF), static_cast<int>((want >> shift) & 0xFF), 9) << i;
  }

  // 8 bits with a short table of 20 colours: the table size follows the header's colours used.
  std::vector<std::uint32_t> table;
  for (std::uint32_t i = 0; i < 20; ++i) table.push_back(i * 0x0A0B0C);
  const auto index = [](int x, int y) { return static_cast<std::uint32_t>(x + y) % 20; };
  bytes = build(iconOf(dibSection(sectionHeader(48, 48, 8, 0, 20), table, {}, index), mask()));
  image = readIco(bytes);
  EXPECT_EQ(image.infoSize, 40u + 80u);
  EXPECT_EQ(image.clrUsed, 20u);
  expectPixels(image, [&](int x, int y) { return table[index(x, y)]; }, pictureMask, false);

  // A top-down section is written bottom-up with a positive height, like every ICO image.
  bytes = build(iconOf(dibSection(sectionHeader(48, -48, 32), {}, {}, picture), mask()));
  image = readIco(bytes);
  EXPECT_EQ(image.height, 96);
  EXPECT_EQ(image.entryHeight, 48);
  expectPixels(image, picture, pictureMask, true);
}

// An odd width pads every colour and mask row.
TEST(PosixIconWriter, OddWidthPadsEveryRow) {
  LiveObjects live;
  // An odd width pads every colour and mask row: 13 x 4 bits = 7 bytes -> 8, 13 bits -> 4 bytes.
  const std::string bytes = build(iconOf(deviceBitmap(13, 5, 4, [](int x, int) { return static_cast<std::uint32_t>(x); }),
                       maskBitmap(13, 5, pictureMask)));
  const IcoImage image = readIco(bytes);
  EXPECT_EQ(image.entryWidth, 13);
  EXPECT_EQ(image.entryHeight, 5);
  EXPECT_EQ(image.bytesInImage, 104u + 40u + 20u);
  expectPixels(image, [](int x, int) { return paletteColour(4, static_cast<std::uint32_t>(x)); }, pictureMask, false);
}


// A section's description: its own image size and colours important (the stand-in caps them at
// the colours used; GDI reports what it was given), and the buffer sizes that follow.
TEST(PosixIconWriter, SectionDescriptionAndBufferSizes) {
  LiveObjects live;
  // A section's own image size and colours important (capped at colours used) are kept.
  platform::BitmapInfoHeader header = sectionHeader(8, 8, 8, 0, 4);
  header.clrImportant = 9;
  const platform::BitmapHandle section = dibSection(header, {1, 2, 3, 4}, {}, [](int, int) { return 1u; });
  const platform::BitmapInfoHeader described = imaging::DescribeBitmap(section, -1);
  EXPECT_EQ(described.sizeImage, 64u);
  EXPECT_EQ(described.clrImportant, 4u);
  EXPECT_EQ(imaging::BitmapInfoSizes(section, -1).infoSize, 56);

  // Buffers smaller than the sizes refuse the read instead of overrunning.
  std::vector<std::uint8_t> info(55), bits(64);
  EXPECT_FALSE(imaging::ReadBitmapBits(section, info, bits, -1));
  info.resize(56);
  bits.resize(63);
  EXPECT_FALSE(imaging::ReadBitmapBits(section, info, bits, -1));
  bits.resize(64);
  EXPECT_TRUE(imaging::ReadBitmapBits(section, info, bits, -1));
  platform::deleteObject(section);
}

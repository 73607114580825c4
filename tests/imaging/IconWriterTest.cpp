// The ICO bytes built from icons of every shape the platform can hand back, checked field by
// field and pixel by pixel with an independent reader.
#include <gtest/gtest.h>

#include "imaging/EInvalidGraphic.h"
#include "imaging/IconWriter.h"
#include "tests/imaging/IconFixtures.h"

using namespace iconfixtures;
using testsupport::devicePalette;

namespace {

// Checks that the handles made during a test are all released by its end.
class LiveObjects {
 public:
  ~LiveObjects() {
    EXPECT_EQ(testsupport::liveBitmapCount(), bitmaps_);
    EXPECT_EQ(testsupport::liveIconCount(), icons_);
    EXPECT_EQ(testsupport::liveDeviceContextCount(), contexts_);
  }

 private:
  std::size_t bitmaps_ = testsupport::liveBitmapCount();
  std::size_t icons_ = testsupport::liveIconCount();
  std::size_t contexts_ = testsupport::liveDeviceContextCount();
};

std::string build(platform::IconHandle icon) {
  std::string bytes = buildBytes(icon);
  platform::destroyIcon(icon);
  return bytes;
}

std::uint32_t paletteColour(int bits, std::uint32_t index) { return devicePalette(bits).at(index); }

}  // namespace

// The common case: a 48x48 icon whose colour bitmap is a 32-bit device-dependent bitmap.
TEST(IconWriter, ThirtyTwoBitIconLayoutAndPixels) {
  LiveObjects live;
  const std::string bytes = build(pictureIcon());
  ASSERT_EQ(bytes.size(), 9662u);
  EXPECT_EQ(bytes.substr(0, 22), std::string("\x00\x00\x01\x00\x01\x00\x30\x30\x20\x00\x00\x00\x00\x00\xA8\x25\x00\x00\x16\x00\x00\x00", 22));
  EXPECT_EQ(u32At(bytes, 22), 40u);
  EXPECT_EQ(i32At(bytes, 26), 48);
  EXPECT_EQ(i32At(bytes, 30), 96);
  EXPECT_EQ(u16At(bytes, 34), 1u);
  EXPECT_EQ(u16At(bytes, 36), 32u);
  EXPECT_EQ(u32At(bytes, 38), 0u);
  EXPECT_EQ(u32At(bytes, 42), 9216u);

  const IcoImage image = readIco(bytes);
  EXPECT_EQ(image.infoSize + image.colourBitsSize + image.maskBitsSize, 9640u);
  expectPixels(image, picture, pictureMask, true);  // alpha survives unchanged
}

// Colour bitmaps of the screen's other depths keep their depth; palettes come with them.
TEST(IconWriter, DeviceBitmapsOfOtherDepths) {
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
TEST(IconWriter, SectionsKeepTheirOwnFormat) {
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

// Sizes other than 48: the entry's width and height bytes keep the low 8 bits (256 -> 0).
TEST(IconWriter, EntrySizeBytes) {
  LiveObjects live;
  std::string bytes = build(pictureIcon(256, 256));
  IcoImage image = readIco(bytes);
  EXPECT_EQ(image.entryWidth, 0);
  EXPECT_EQ(image.entryHeight, 0);
  EXPECT_EQ(image.width, 256);
  EXPECT_EQ(bytes.size(), 22u + 40u + 256u * 256u * 4u + 256u * 32u);
  expectPixels(image, picture, pictureMask, true);

  // An odd width pads every colour and mask row: 13 x 4 bits = 7 bytes -> 8, 13 bits -> 4 bytes.
  bytes = build(iconOf(deviceBitmap(13, 5, 4, [](int x, int) { return static_cast<std::uint32_t>(x); }),
                       maskBitmap(13, 5, pictureMask)));
  image = readIco(bytes);
  EXPECT_EQ(image.entryWidth, 13);
  EXPECT_EQ(image.entryHeight, 5);
  EXPECT_EQ(image.bytesInImage, 104u + 40u + 20u);
  expectPixels(image, [](int x, int) { return paletteColour(4, static_cast<std::uint32_t>(x)); }, pictureMask, false);
}

// A monochrome icon (no colour bitmap, a 48x96 mask: AND half on top, XOR half below) becomes a
// 1-bit ICO with the table black, white.
TEST(IconWriter, MonochromeIconBecomesOneBitImage) {
  LiveObjects live;
  const auto andBit = [](int x, int y) { return (x / 4 + y) % 3 == 0; };
  const auto xorBit = [](int x, int y) { return x > y; };
  const std::string bytes = build(iconOf(nullptr, maskBitmap(48, 96, [&](int x, int y) {
                                           return y < 48 ? andBit(x, y) : xorBit(x, y - 48);
                                         })));
  ASSERT_EQ(bytes.size(), 838u);
  EXPECT_EQ(bytes.substr(0, 22), std::string("\x00\x00\x01\x00\x01\x00\x30\x30\x01\x00\x00\x00\x00\x00\x30\x03\x00\x00\x16\x00\x00\x00", 22));
  const IcoImage image = readIco(bytes);
  EXPECT_EQ(image.infoSize, 48u);
  EXPECT_EQ(image.bits, 1);
  EXPECT_EQ(image.height, 96);
  EXPECT_EQ(image.sizeImage, 384u);
  EXPECT_EQ(image.table, (std::vector<std::uint32_t>{0x000000, 0xFFFFFF}));
  expectPixels(image, [&](int x, int y) { return xorBit(x, y) ? 0xFFFFFFu : 0u; }, andBit, false);
}

// A monochrome mask of odd height has no two halves: "Bitmap image is not valid". (Icons whose
// bitmaps the system refuses to hand out or describe: PosixIconFaultTest.cpp.)
TEST(IconWriter, UnreadableBitmapsRaise) {
  LiveObjects live;
  const platform::IconHandle odd = iconOf(nullptr, maskBitmap(48, 47, pictureMask));
  EXPECT_THROW(buildBytes(odd), imaging::EInvalidGraphic);
  platform::destroyIcon(odd);
}

// The format choices of DescribeBitmap and the buffer sizes that follow from them.
TEST(IconWriter, DescribeAndSizesByColourCount) {
  LiveObjects live;
  const platform::BitmapHandle ddb = deviceBitmap(20, 10, 32, picture);
  EXPECT_EQ(imaging::DescribeBitmap(ddb, 2).bitCount, 1);
  EXPECT_EQ(imaging::BitmapInfoSizes(ddb, 2).infoSize, 48);
  EXPECT_EQ(imaging::BitmapInfoSizes(ddb, 2).bitsSize, 40);  // 20 bits -> 4 bytes, 10 rows
  const platform::BitmapInfoHeader four = imaging::DescribeBitmap(ddb, 16);
  EXPECT_EQ(four.bitCount, 4);
  EXPECT_EQ(four.clrUsed, 16u);
  EXPECT_EQ(imaging::BitmapInfoSizes(ddb, 3).infoSize, 40 + 12);  // 3 colours -> 4 bits, 3 entries
  EXPECT_EQ(imaging::DescribeBitmap(ddb, 17).bitCount, 8);
  EXPECT_EQ(imaging::DescribeBitmap(ddb, 257).bitCount, 32);
  EXPECT_EQ(imaging::BitmapInfoSizes(ddb, -1).bitsSize, 800);
  platform::deleteObject(ddb);

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

  EXPECT_THROW(imaging::DescribeBitmap(nullptr, -1), imaging::EInvalidGraphic);
  EXPECT_EQ(imaging::RowBytes(48, 1), 8);
  EXPECT_EQ(imaging::RowBytes(13, 24), 40);
}

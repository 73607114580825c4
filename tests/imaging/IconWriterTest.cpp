// The ICO bytes built from icons of the shapes every platform hands back, checked field by field
// and pixel by pixel with an independent reader. Shapes only the Linux stand-in hands back (colour
// bitmaps of other depths, sections kept as sections): PosixIconWriterTest.cpp.
#include <gtest/gtest.h>

#include "imaging/EInvalidGraphic.h"
#include "imaging/IconWriter.h"
#include "tests/imaging/IconFixtures.h"

using namespace iconfixtures;
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

  EXPECT_THROW(imaging::DescribeBitmap(nullptr, -1), imaging::EInvalidGraphic);
  EXPECT_EQ(imaging::RowBytes(48, 1), 8);
  EXPECT_EQ(imaging::RowBytes(13, 24), 40);
}

// The ICO writer as a function: one table of icon bitmaps in, file bytes out, checked field by
// field and pixel by pixel with an independent reader; and the bitmaps it refuses.
#include <gtest/gtest.h>

#include "imaging/EInvalidGraphic.h"
#include "imaging/IconWriter.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/ErrorMessage.h"

using namespace iconfixtures;

namespace {

const auto index4 = [](int x, int y) { return static_cast<std::uint32_t>(x + 3 * y) % 16; };
const auto index8 = [](int x, int y) { return static_cast<std::uint32_t>(x * 7 + y * 5) % 256; };
const auto andBit = [](int x, int y) { return (x / 4 + y) % 3 == 0; };
const auto xorBit = [](int x, int y) { return x > y; };

// A colour table of `entries` made-up colours.
std::vector<std::uint32_t> tableOf(std::uint32_t entries) {
  std::vector<std::uint32_t> table;
  for (std::uint32_t i = 0; i < entries; ++i) table.push_back((i * 0x0A0B0C) & 0xFFFFFF);
  return table;
}

}  // namespace

TEST(IconWriter, BitmapsInBytesOut) {
  const std::vector<std::uint32_t> table16 = tableOf(16), table256 = tableOf(256);
  const std::vector<std::uint32_t> fields = {0xFF0000, 0xFF00, 0xFF};
  struct Case {
    const char* what;
    platform::IconBitmaps image;
    std::size_t fileSize;
    std::string start;  // the first 22 bytes, when pinned
    int entrySide, bits;
    std::size_t infoSize;
    PixelFunction colours;
    MaskFunction transparent;
    bool withAlpha;
  };
  const Case cases[] = {
      // The common case: 48x48 at 32 bits, alpha kept as handed over.
      {"32 bits", pictureBitmaps(), 9662,
       std::string("\x00\x00\x01\x00\x01\x00\x30\x30\x20\x00\x00\x00\x00\x00\xA8\x25\x00\x00\x16\x00\x00\x00", 22), 48,
       32, 40, picture, pictureMask, true},
      // 256 pixels wrap to 0 in the entry's size bytes.
      {"256 wide", pictureBitmaps(256, 256), 22 + 40 + 256 * 256 * 4 + 256 * 32, "", 0, 32, 40, picture, pictureMask,
       true},
      // A 16-colour screen: a 16-entry table, 1152 bytes of colour, 384 of mask.
      {"4 bits", bitmapsOf(48, 48, 4, index4, pictureMask, table16), 22 + 1640, "", 48, 4, 104,
       [&](int x, int y) { return table16[index4(x, y)]; }, pictureMask, false},
      // 8 bits: a 256-entry table, so a 1064-byte colour header.
      {"8 bits", bitmapsOf(48, 48, 8, index8, pictureMask, table256), 22 + 1064 + 2304 + 384, "", 48, 8, 1064,
       [&](int x, int y) { return table256[index8(x, y)]; }, pictureMask, false},
      // A section with bit-fields: the header and its three masks, 52 bytes.
      {"bit-fields", bitmapsOf(48, 48, 32, picture, pictureMask, fields, 3), 22 + 52 + 9216 + 384, "", 48, 32, 52,
       picture, pictureMask, false},
      // Rows of 13 pixels at 24 bits take 40 bytes, mask rows 4.
      {"odd width", bitmapsOf(13, 13, 24, picture, pictureMask), 22 + 40 + 13 * 40 + 13 * 4, "", 13, 24, 40, picture,
       pictureMask, false},
      // Monochrome: the XOR half becomes a 1-bit image with the table black, white.
      {"monochrome", monochromeOf(48, 96, [](int x, int y) { return y < 48 ? andBit(x, y) : xorBit(x, y - 48); }), 838,
       std::string("\x00\x00\x01\x00\x01\x00\x30\x30\x01\x00\x00\x00\x00\x00\x30\x03\x00\x00\x16\x00\x00\x00", 22), 48,
       1, 48, [](int x, int y) { return xorBit(x, y) ? 0xFFFFFFu : 0u; }, andBit, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = build(c.image);
    ASSERT_EQ(bytes.size(), c.fileSize);
    if (!c.start.empty()) {
      EXPECT_EQ(bytes.substr(0, 22), c.start);
    }
    const IcoImage image = readIco(bytes);
    EXPECT_EQ(image.entryWidth, c.entrySide);
    EXPECT_EQ(image.entryHeight, c.entrySide);
    EXPECT_EQ(image.colours, static_cast<std::uint32_t>(c.bits));
    EXPECT_EQ(image.bytesInImage, c.fileSize - 22);
    EXPECT_EQ(image.offset, 22u);
    EXPECT_EQ(image.bits, c.bits);
    EXPECT_EQ(image.height, 2 * image.width);  // the stored height covers colour and mask
    EXPECT_EQ(image.infoSize, c.infoSize);
    EXPECT_EQ(image.sizeImage, image.colourBitsSize);  // the colour rows only
    expectPixels(image, c.colours, c.transparent, c.withAlpha);
  }
}

// Bitmaps the platform could not hand out, a colour header cut short, and monochrome masks
// without two whole halves: "Bitmap image is not valid".
TEST(IconWriter, UnwritableBitmapsRaise) {
  platform::IconBitmaps shortHeader = pictureBitmaps();
  shortHeader.colourInfo.resize(39);
  platform::IconBitmaps shortRows = monochromeOf(48, 96, pictureMask);
  shortRows.maskRows.resize(8 * 95);
  for (const platform::IconBitmaps& image :
       {platform::IconBitmaps{}, shortHeader, monochromeOf(48, 47, pictureMask), shortRows}) {
    EXPECT_EQ(testsupport::messageOf<imaging::EInvalidGraphic>([&] { imaging::BuildIconImage(image); }),
              u"Bitmap image is not valid");
  }
}

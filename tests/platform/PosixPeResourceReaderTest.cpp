// The resource reader against executables and .ico files built by the test PE writer: which icon
// it picks, how it decodes and scales it, the version record, and damaged files.
#include "platform/posix/PeResourceReader.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/Executable.h"
#include "platform/executable/ByteSource.h"
#include "platform/executable/ExecutableResources.h"
#include "tests/support/PeWriter.h"
#include "tests/support/PngKinds.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VersionNumbers.h"

namespace {

using platform::executable::MemoryByteSource;
using testsupport::IconDirEntry;
using testsupport::PeWriter;

constexpr std::uint32_t kIcon = 3, kGroup = 14, kVersion = 16;

std::vector<std::uint32_t> filled(int width, int height, std::uint32_t value) {
  return std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, value);
}

// A 32-bit image of one opaque colour.
std::string solid(int side, std::uint32_t rgb) { return testsupport::bmpIconImage(side, side, 32, {}, filled(side, side, 0xFF000000 | rgb)); }

// The icon's bitmaps as the tests read them: colours top row first as B,G,R,A, and one mask byte
// per pixel (1 = bit set), top row first, 48 or 96 rows.
struct DecodedIcon {
  bool monochrome = false;
  std::vector<std::uint8_t> bgra;
  std::vector<std::uint8_t> mask;
};

// Turns the bottom-up rows the reader hands back into top-down pixels, checking their layout.
std::optional<DecodedIcon> unpacked(const std::optional<platform::IconBitmaps>& bitmaps) {
  if (!bitmaps) return std::nullopt;
  DecodedIcon icon;
  icon.monochrome = bitmaps->monochrome();
  const std::size_t rows = icon.monochrome ? 96 : 48;
  EXPECT_EQ(bitmaps->maskWidth, 48);
  EXPECT_EQ(static_cast<std::size_t>(bitmaps->maskHeight), rows);
  EXPECT_EQ(bitmaps->maskRows.size(), 8 * rows);
  for (std::size_t y = 0; y < rows && bitmaps->maskRows.size() == 8 * rows; ++y) {
    const std::uint8_t* row = bitmaps->maskRows.data() + 8 * (rows - 1 - y);
    for (std::size_t x = 0; x < 48; ++x) icon.mask.push_back((row[x / 8] >> (7 - x % 8)) & 1);
  }
  if (icon.monochrome) return icon;
  EXPECT_EQ(bitmaps->colourInfo.size(), 40u);
  EXPECT_EQ(bitmaps->colourRows.size(), 48u * 48 * 4);
  for (std::size_t y = 0; y < 48 && bitmaps->colourRows.size() == 48u * 48 * 4; ++y)
    icon.bgra.insert(icon.bgra.end(), bitmaps->colourRows.begin() + static_cast<std::ptrdiff_t>(192 * (47 - y)),
                     bitmaps->colourRows.begin() + static_cast<std::ptrdiff_t>(192 * (48 - y)));
  return icon;
}

std::optional<DecodedIcon> iconOf(const platform::executable::ByteSource& source) {
  return unpacked(platform::posix::iconBitmaps48(source));
}
std::optional<DecodedIcon> iconOf(const std::string& bytes) {
  return iconOf(MemoryByteSource({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
}

std::optional<std::array<std::uint16_t, 4>> versionOf(const std::string& bytes) {
  MemoryByteSource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  return platform::executable::checkedFileVersion(source);
}

// The same two readings of the file at `path`, through the executable the pass opens.
std::optional<DecodedIcon> iconAt(const std::u16string& path) {
  return unpacked(platform::Executable(path).iconBitmaps48());
}
std::optional<std::array<std::uint16_t, 4>> versionAt(const std::u16string& path) {
  return testsupport::versionNumbers(platform::Executable(path));
}

// Pixel (x, y) of a decoded colour bitmap as 0xAARRGGBB.
std::uint32_t argbAt(const DecodedIcon& icon, int x, int y) {
  const std::uint8_t* p = icon.bgra.data() + (static_cast<std::size_t>(y) * 48 + x) * 4;
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}
int maskAt(const DecodedIcon& icon, int x, int y) { return icon.mask[static_cast<std::size_t>(y) * 48 + x]; }

// An executable with one group (id 1) over the given images, which get icon ids 1, 2, ...
std::string exeWith(const std::vector<IconDirEntry>& entries, const std::vector<std::string>& images,
                    bool pe32Plus = false) {
  PeWriter pe(pe32Plus);
  for (std::size_t i = 0; i < images.size(); ++i) pe.add(kIcon, static_cast<std::uint32_t>(i + 1), images[i]);
  pe.add(kGroup, 1, testsupport::iconGroup(entries));
  return pe.build();
}

IconDirEntry entry(int side, std::uint16_t bits, std::uint16_t id) { return {side, side, 0, 1, bits, 0, id}; }

// Index 0 is the first group entry as stored (resource compilers store a named group before the
// numbered ones, and those by ascending id) and its first language (the lowest id), whatever
// order the resources were added in.
TEST(PeResourceReader, TakesTheFirstGroupAsStoredAndItsFirstLanguage) {
  for (bool pe32Plus : {false, true}) {
    PeWriter pe(pe32Plus);
    pe.add(kIcon, 1, solid(48, 0xFF0000));
    pe.add(kIcon, 2, solid(48, 0x0000FF));
    pe.add(kIcon, 3, solid(48, 0x00FF00));
    pe.add(kGroup, 9, testsupport::iconGroup({entry(48, 32, 2)}));
    pe.add(kGroup, 4, testsupport::iconGroup({entry(48, 32, 3)}), 0x0409);
    pe.add(kGroup, 4, testsupport::iconGroup({entry(48, 32, 1)}), 0x0407);
    const auto icon = iconOf(pe.build());
    ASSERT_TRUE(icon) << pe32Plus;
    EXPECT_FALSE(icon->monochrome);
    EXPECT_EQ(argbAt(*icon, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(argbAt(*icon, 47, 47), 0xFFFF0000u);
  }
  // A named group wins over numbered ones.
  PeWriter pe;
  pe.add(kIcon, 1, solid(48, 0xFF0000));
  pe.add(kIcon, 2, solid(48, 0x0000FF));
  pe.add(kGroup, 1, testsupport::iconGroup({entry(48, 32, 1)}));
  pe.addNamed(kGroup, u"MAINICON", testsupport::iconGroup({entry(48, 32, 2)}));
  ASSERT_TRUE(iconOf(pe.build()));
  EXPECT_EQ(argbAt(*iconOf(pe.build()), 5, 5), 0xFF0000FFu);
}

// The image comes from the directory's fields alone: size distance (0 = 256), then depth (0
// lowest), then the first listed. Each image has its entry's size (the checks refuse any other),
// and a colour of its own, which tells which one was taken.
TEST(PeResourceReader, ChoosesTheImageFromTheGroupDirectory) {
  struct Case {
    const char* what;
    std::vector<IconDirEntry> entries;
    std::uint32_t expected;
  };
  const std::vector<Case> cases = {
      {"size beats depth", {entry(32, 32, 1), entry(48, 1, 2), entry(64, 32, 3)}, 2},
      {"nearest size", {entry(16, 32, 1), entry(64, 32, 2), entry(40, 8, 3)}, 3},
      {"deepest among equals", {entry(48, 8, 1), entry(48, 32, 2), entry(48, 24, 3)}, 2},
      {"stored depth 0 ranks lowest", {entry(48, 0, 1), entry(48, 4, 2)}, 2},
      {"first listed on a full tie", {entry(48, 32, 3), entry(48, 32, 1)}, 3},
      {"width 0 means 256", {entry(0, 32, 1), entry(200, 32, 2)}, 2},
      {"width and height count apart", {{48, 16, 0, 1, 32, 0, 1}, {40, 40, 0, 1, 32, 0, 2}}, 2},
  };
  for (const Case& c : cases) {
    // Image id k (1, 2, ...) of the size of the entry naming it, in colour k.
    std::vector<std::string> images;
    for (std::uint32_t id = 1; id <= 3; ++id) {
      int width = 48, height = 48;
      for (const IconDirEntry& e : c.entries) {
        if (e.id == id) width = e.width == 0 ? 256 : e.width, height = e.height == 0 ? 256 : e.height;
      }
      images.push_back(testsupport::bmpIconImage(width, height, 32, {}, filled(width, height, 0xFF000000 | id)));
    }
    const auto icon = iconOf(exeWith(c.entries, images));
    ASSERT_TRUE(icon) << c.what;
    EXPECT_EQ(argbAt(*icon, 10, 10), 0xFF000000u | c.expected) << c.what;
  }
}

// When the directory disagrees with an image, the file has no icon: the system would trust the
// entry's size and read past the image, so the checks refuse it, whichever image it is.
TEST(PeResourceReader, AnImageDisagreeingWithItsEntryGivesNoIcon) {
  const std::string small = solid(16, 0x110000);
  // Entry 1 claims 48x48 but holds 16x16; entry 2 claims 32x32 but holds 48x48.
  EXPECT_FALSE(iconOf(exeWith({entry(48, 4, 1), entry(32, 32, 2)}, {small, solid(48, 0xABCDEF)})));
  // Only the image the directory would not choose disagrees.
  EXPECT_FALSE(iconOf(exeWith({entry(48, 32, 1), entry(32, 32, 2)}, {solid(48, 0xABCDEF), small})));
  EXPECT_TRUE(iconOf(exeWith({entry(48, 32, 1), entry(16, 32, 2)}, {solid(48, 0xABCDEF), small})));
}

// Every BMP depth decodes to its colours; the AND mask comes through; images without alpha get
// alpha from the mask.
TEST(PeResourceReader, DecodesEveryBitmapDepth) {
  const std::vector<std::uint32_t> palette = {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0};
  std::vector<std::uint8_t> mask(48 * 48, 0);
  mask[0] = 1;          // top-left transparent
  mask[48 * 47 + 47] = 1;  // bottom-right transparent
  for (int bits : {1, 4, 8, 24, 32}) {
    std::vector<std::uint32_t> pixels(48 * 48);
    for (int i = 0; i < 48 * 48; ++i) {
      const std::uint32_t index = static_cast<std::uint32_t>(((i % 48) + (i / 48) * 3) % (bits == 1 ? 2 : 5));
      pixels[i] = bits <= 8 ? index : (0xFF000000u | palette[index]);
    }
    // A 1-bit image is monochrome only with a black-white palette; this one is a colour image.
    const auto icon = iconOf(exeWith({entry(48, static_cast<std::uint16_t>(bits), 1)},
                                     {testsupport::bmpIconImage(48, 48, bits, palette, pixels, mask)}));
    ASSERT_TRUE(icon) << bits;
    ASSERT_FALSE(icon->monochrome);
    ASSERT_EQ(icon->bgra.size(), 48u * 48 * 4);
    ASSERT_EQ(icon->mask.size(), 48u * 48);
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 48; ++x) {
        const bool transparent = mask[y * 48 + x] != 0;
        const std::uint32_t index = static_cast<std::uint32_t>((x + y * 3) % (bits == 1 ? 2 : 5));
        const std::uint32_t alpha = (bits == 32 || !transparent) ? 0xFF : 0x00;
        ASSERT_EQ(argbAt(*icon, x, y), (alpha << 24) | palette[index]) << bits << " at " << x << "," << y;
        ASSERT_EQ(maskAt(*icon, x, y), transparent ? 1 : 0);
      }
    }
  }
}

// Alpha: 32-bit images keep theirs, even under the mask; all-zero alpha is replaced from the mask.
TEST(PeResourceReader, AppliesTheAlphaRules) {
  std::vector<std::uint8_t> mask(48 * 48, 0);
  mask[1] = 1;
  std::vector<std::uint32_t> pixels = filled(48, 48, 0x80123456);
  pixels[1] = 0x00654321;
  auto icon = iconOf(exeWith({entry(48, 32, 1)}, {testsupport::bmpIconImage(48, 48, 32, {}, pixels, mask)}));
  ASSERT_TRUE(icon);
  EXPECT_EQ(argbAt(*icon, 0, 0), 0x80123456u);  // not premultiplied
  EXPECT_EQ(argbAt(*icon, 1, 0), 0x00654321u);  // colour under the mask kept
  EXPECT_EQ(maskAt(*icon, 1, 0), 1);

  icon = iconOf(exeWith({entry(48, 32, 1)}, {testsupport::bmpIconImage(48, 48, 32, {}, filled(48, 48, 0x00123456), mask)}));
  ASSERT_TRUE(icon);
  EXPECT_EQ(argbAt(*icon, 0, 0), 0xFF123456u);
  EXPECT_EQ(argbAt(*icon, 1, 0), 0x00123456u);
}

// PNG images keep their alpha; their mask is alpha < 255, taken before scaling.
TEST(PeResourceReader, DecodesPngFrames) {
  std::vector<std::uint32_t> argb = filled(48, 48, 0xFF336699);
  argb[0] = 0xFE000000;
  argb[1] = 0x00FFFFFF;
  auto icon = iconOf(exeWith({entry(48, 32, 1)}, {testsupport::pngImage(48, 48, argb)}));
  ASSERT_TRUE(icon);
  EXPECT_EQ(argbAt(*icon, 0, 0), 0xFE000000u);
  EXPECT_EQ(argbAt(*icon, 1, 0), 0x00FFFFFFu);
  EXPECT_EQ(argbAt(*icon, 2, 0), 0xFF336699u);
  EXPECT_EQ(maskAt(*icon, 0, 0), 1);
  EXPECT_EQ(maskAt(*icon, 1, 0), 1);
  EXPECT_EQ(maskAt(*icon, 2, 0), 0);

  // A 256 frame (stored size 0) shrunk: a 2x2-ish block with one transparent pixel stays opaque.
  std::vector<std::uint32_t> big = filled(256, 256, 0xFF00FF00);
  big[0] = 0x00000000;
  icon = iconOf(exeWith({entry(0, 32, 1)}, {testsupport::pngImage(256, 256, big)}));
  ASSERT_TRUE(icon);
  EXPECT_EQ(maskAt(*icon, 0, 0), 0);
  EXPECT_EQ(argbAt(*icon, 0, 0) & 0xFFFFFF, 0x00FF00u);  // the transparent pixel does not darken
}

// Every PNG kind the checks accept decodes to the pixels the PNG format gives it, alpha and tRNS
// transparency included, with the mask transparent wherever alpha is below 255: the Linux build
// is right where the system under Wine swaps red and blue (see tests/support/PngKinds.h).
TEST(PeResourceReader, DecodesEveryAcceptedPngKindToItsOwnPixels) {
  for (const testsupport::PngKind& kind : testsupport::pngKinds()) {
    if (!kind.accepted) continue;
    const auto icon = iconOf(exeWith({entry(48, 32, 1)}, {kind.png}));
    ASSERT_TRUE(icon) << kind.what;
    int wrong = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 48; ++x) {
        const std::uint32_t expected = kind.argb[static_cast<std::size_t>(y) * 48 + x];
        if (argbAt(*icon, x, y) != expected || maskAt(*icon, x, y) != (expected >> 24 < 255 ? 1 : 0)) ++wrong;
      }
    EXPECT_EQ(wrong, 0) << kind.what;
  }
}

// Enlarging: output i shows source floor(((2i + 1)S - 1) / 96), ties to the lower pixel; each axis apart.
TEST(PeResourceReader, EnlargesByCentreSampling) {
  std::vector<std::uint32_t> pixels(32 * 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 32; ++x) pixels[y * 32 + x] = 0xFF000000u | (static_cast<std::uint32_t>(x) << 8) | y;
  const auto icon = iconOf(exeWith({{32, 20, 0, 1, 32, 0, 1}}, {testsupport::bmpIconImage(32, 20, 32, {}, pixels)}));
  ASSERT_TRUE(icon);
  // Columns (S = 32): outputs 0,1 -> 0 (1 is a tie), 2 -> 1, 3,4 -> 2, 5 -> 3, 47 -> 31.
  const int columns[][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {46, 30}, {47, 31}};
  for (const auto& c : columns) EXPECT_EQ((argbAt(*icon, c[0], 0) >> 8) & 0xFF, static_cast<unsigned>(c[1])) << c[0];
  // Rows (S = 20): outputs 0,1 -> 0, 2..4 -> 1, 5 -> 2, 47 -> 19.
  const int rows[][2] = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}, {47, 19}};
  for (const auto& r : rows) EXPECT_EQ(argbAt(*icon, 0, r[0]) & 0xFF, static_cast<unsigned>(r[1])) << r[0];
}

// Shrinking: area average of each block, colour weighted by alpha (or by the mask's opacity),
// alpha the plain average, mask transparent only when the whole block is.
TEST(PeResourceReader, ShrinksByAreaAverage) {
  // 64 wide: source columns {0}, {1,2}, {3}, {4}, {5,6}, ... make outputs 0..4.
  std::vector<std::uint32_t> columns(64 * 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) columns[y * 64 + x] = 0xFF000000u | static_cast<std::uint32_t>(x * 10);
  auto icon = iconOf(exeWith({{64, 48, 0, 1, 32, 0, 1}}, {testsupport::bmpIconImage(64, 48, 32, {}, columns)}));
  ASSERT_TRUE(icon);
  const unsigned expected[] = {0, 15, 30, 40, 55};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(argbAt(*icon, i, 7) & 0xFF, expected[i]) << i;

  // 96x96 in 2x2 blocks. Block (0,0): one opaque red and three transparent black pixels.
  std::vector<std::uint32_t> pixels = filled(96, 96, 0xFF808080);
  std::vector<std::uint8_t> mask(96 * 96, 0);
  pixels[0] = 0xFFFF0000;
  for (int i : {1, 96, 97}) pixels[i] = 0x00000000, mask[i] = 1;
  for (int i : {2, 3, 98, 99}) mask[i] = 1;  // block (1,0) wholly transparent
  icon = iconOf(exeWith({entry(96, 32, 1)}, {testsupport::bmpIconImage(96, 96, 32, {}, pixels, mask)}));
  ASSERT_TRUE(icon);
  EXPECT_EQ(argbAt(*icon, 0, 0), 0x40FF0000u);  // alpha (255 + 0*3) / 4 rounded = 64
  EXPECT_EQ(maskAt(*icon, 0, 0), 0);
  EXPECT_EQ(maskAt(*icon, 1, 0), 1);
  EXPECT_EQ(argbAt(*icon, 2, 0), 0xFF808080u);

  // Without alpha, the mask weights the colour and the result is opaque where any pixel is.
  std::vector<std::uint32_t> indexes(96 * 96, 1);
  indexes[0] = 0;
  mask.assign(96 * 96, 0);
  for (int i : {1, 96, 97}) mask[i] = 1, indexes[i] = 0;
  icon = iconOf(exeWith({entry(96, 8, 1)}, {testsupport::bmpIconImage(96, 96, 8, {0xFFFFFF, 0x000000}, indexes, mask)}));
  ASSERT_TRUE(icon);
  EXPECT_EQ(argbAt(*icon, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(argbAt(*icon, 1, 1), 0xFF000000u);
}

// A 1-bit black-and-white image is a monochrome icon: no colour bitmap, a 48x96 mask with the
// AND half above the XOR half.
TEST(PeResourceReader, HandsBackMonochromeIconsAsADoubleHeightMask) {
  std::vector<std::uint32_t> bits(32 * 32, 0);
  std::vector<std::uint8_t> mask(32 * 32, 0);
  bits[0] = 1;             // white, opaque
  mask[31] = 1;            // top-right transparent, XOR 0
  bits[32 * 31 + 31] = 1;  // bottom-right: transparent and XOR 1 (inverts the screen)
  mask[32 * 31 + 31] = 1;
  const auto icon = iconOf(exeWith({entry(32, 1, 1)}, {testsupport::bmpIconImage(32, 32, 1, {0x000000, 0xFFFFFF}, bits, mask)}));
  ASSERT_TRUE(icon);
  EXPECT_TRUE(icon->monochrome);
  EXPECT_TRUE(icon->bgra.empty());
  ASSERT_EQ(icon->mask.size(), 48u * 96);
  EXPECT_EQ(maskAt(*icon, 0, 0), 0);
  EXPECT_EQ(maskAt(*icon, 0, 48), 1);
  EXPECT_EQ(maskAt(*icon, 1, 48), 1);  // output 1 samples source 0 as well
  EXPECT_EQ(maskAt(*icon, 2, 48), 0);
  EXPECT_EQ(maskAt(*icon, 47, 0), 1);
  EXPECT_EQ(maskAt(*icon, 47, 48), 0);
  EXPECT_EQ(maskAt(*icon, 47, 47), 1);
  EXPECT_EQ(maskAt(*icon, 47, 95), 1);
  EXPECT_EQ(maskAt(*icon, 20, 20), 0);
  EXPECT_EQ(maskAt(*icon, 20, 68), 0);

  // White then black is an ordinary colour image.
  const auto colour = iconOf(exeWith({entry(32, 1, 1)}, {testsupport::bmpIconImage(32, 32, 1, {0xFFFFFF, 0x000000}, bits, mask)}));
  ASSERT_TRUE(colour);
  EXPECT_FALSE(colour->monochrome);
  EXPECT_EQ(argbAt(*colour, 0, 0), 0xFF000000u);
  EXPECT_EQ(argbAt(*colour, 20, 20), 0xFFFFFFFFu);
}

// The version words come from the fixed record, never from the string table.
TEST(PeResourceReader, ReadsTheFixedFileVersion) {
  using Words = std::array<std::uint16_t, 4>;
  struct Case {
    std::uint32_t high, low;
    Words expected;
  };
  for (const Case& c : {Case{0x00010002, 0x00030004, {1, 2, 3, 4}}, Case{0x0000FFFF, 0xFFFF0000, {0, 65535, 65535, 0}},
                        Case{0, 0, {0, 0, 0, 0}}}) {
    for (bool pe32Plus : {false, true}) {
      PeWriter pe(pe32Plus);
      pe.add(kVersion, 1, testsupport::versionResource(c.high, c.low, u"7.7.7.7"));
      EXPECT_EQ(versionOf(pe.build()), c.expected);
    }
  }
  PeWriter none;
  none.add(kGroup, 1, testsupport::iconGroup({entry(48, 32, 1)}));
  EXPECT_FALSE(versionOf(none.build()));
  EXPECT_FALSE(iconOf(none.build()));  // the group's image is missing

  // A record without the signature, or a block too short for it, is no version.
  std::string resource = testsupport::versionResource(0x00010002, 0x00030004, u"1.2.3.4");
  PeWriter bad;
  resource[40] ^= 1;
  bad.add(kVersion, 1, resource);
  EXPECT_FALSE(versionOf(bad.build()));
  PeWriter shortOne;
  shortOne.add(kVersion, 1, testsupport::versionResource(0x00010002, 0x00030004, u"").substr(0, 80));
  EXPECT_FALSE(versionOf(shortOne.build()));
}

// A plain .ico file is one icon group; paths that are not icons yield nothing.
TEST(PeResourceReader, ReadsIcoFilesAndRefusesOtherPaths) {
  testsupport::TempFolder folder;
  const std::string ico = testsupport::icoFile({entry(16, 32, 0), entry(48, 8, 0), entry(48, 4, 0)},
                                               {solid(16, 0x111111), solid(48, 0x222222), solid(48, 0x333333)});
  testsupport::writeFileBytes(folder.path() / "app.ico", ico);
  const auto icon = iconAt(folder.file("app.ico"));
  ASSERT_TRUE(icon);
  EXPECT_EQ(argbAt(*icon, 3, 3), 0xFF222222u);
  EXPECT_FALSE(versionAt(folder.file("app.ico")));

  PeWriter pe;
  pe.add(kVersion, 1, testsupport::versionResource(0x00050006, 0x00070008, u"5.6.7.8"));
  pe.add(kIcon, 1, solid(48, 0x444444));
  pe.add(kGroup, 1, testsupport::iconGroup({entry(48, 32, 1)}));
  pe.writeTo(folder.path() / "app.exe");
  ASSERT_TRUE(iconAt(folder.file("app.exe")));
  EXPECT_EQ((versionAt(folder.file("app.exe"))), (std::array<std::uint16_t, 4>{5, 6, 7, 8}));

  testsupport::writeFileBytes(folder.path() / "notes.txt", "MZ but not much else");
  for (const char* name : {"missing.exe", "notes.txt", "."}) {
    EXPECT_FALSE(iconAt(folder.file(name))) << name;
    EXPECT_FALSE(versionAt(folder.file(name))) << name;
  }
}

// Only the bytes needed are read: a large file whose resources sit at its end costs no more
// than a small one. Through the block cache that files are read through, a row's icon and version
// take a few reads of the file (its headers, its resources), whatever the pieces the checks ask for.
TEST(PeResourceReader, ReadsOnlyTheBytesItNeeds) {
  class CountingSource final : public platform::executable::ByteSource {
   public:
    explicit CountingSource(const std::string& bytes)
        : inner_({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}) {}
    std::uint64_t size() const override { return inner_.size(); }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
      read += out.size();
      ++reads;
      return inner_.readAt(offset, out);
    }
    mutable std::uint64_t read = 0;
    mutable std::uint64_t reads = 0;

   private:
    MemoryByteSource inner_;
  };
  PeWriter pe;
  pe.add(kIcon, 1, solid(48, 0x123456));
  pe.add(kGroup, 1, testsupport::iconGroup({entry(48, 32, 1)}));
  pe.add(kVersion, 1, testsupport::versionResource(0x00010002, 0x00030004, u"1.2.3.4"));
  pe.setFiller(16u << 20);
  const std::string bytes = pe.build();
  const CountingSource source(bytes);
  ASSERT_TRUE(iconOf(source));
  ASSERT_TRUE(platform::executable::checkedFileVersion(source));
  EXPECT_LT(source.read, 16u * 1024);  // the image itself is 9 KB
  EXPECT_GT(source.reads, 20u);        // in many small pieces

  const CountingSource file(bytes);
  const platform::executable::CachedByteSource cached(file);
  EXPECT_EQ(iconOf(cached)->bgra, iconOf(source)->bgra);
  EXPECT_EQ(platform::executable::checkedFileVersion(cached), platform::executable::checkedFileVersion(source));
  // Three blocks (the headers, the resource tree and the data after it) and the image itself,
  // which is larger than a block.
  EXPECT_LE(file.reads, 4u);
  EXPECT_LE(file.read, 3 * platform::executable::CachedByteSource::kBlock + solid(48, 0).size());
}

// Damaged files: truncated anywhere, offsets past the end, loops in the tree, absurd counts and
// sizes. Each gives no icon and no version, without crashing, hanging or allocating without bound.
TEST(PeResourceReader, RefusesDamagedFiles) {
  PeWriter pe;
  pe.add(kIcon, 1, solid(48, 0x123456));
  pe.add(kGroup, 1, testsupport::iconGroup({entry(48, 32, 1)}));
  pe.add(kVersion, 1, testsupport::versionResource(0x00010002, 0x00030004, u"1.2.3.4"));
  const std::string good = pe.build();
  const testsupport::PeLayout layout = pe.layout();
  ASSERT_TRUE(iconOf(good));
  ASSERT_TRUE(versionOf(good));

  // Cut short before the last byte each reading needs.
  const std::uint64_t iconEnd = layout.data[0] + solid(48, 0).size();
  for (std::uint64_t length = 0; length < layout.data[2] + 92; length += 61) {
    const std::string cut = good.substr(0, length);
    if (length < iconEnd) {
      EXPECT_FALSE(iconOf(cut)) << length;
    }
    EXPECT_FALSE(versionOf(cut)) << length;
  }

  using Patch = std::function<void(std::string&)>;
  const std::uint64_t rsrc = layout.resourceSection;
  const std::vector<std::pair<const char*, Patch>> damages = {
      {"PE header offset past the end", [&](std::string& b) { testsupport::putU32(b, 0x3C, 0x7FFFFFF0); }},
      {"unknown optional header", [&](std::string& b) { testsupport::putU16(b, layout.optionalHeader, 0x0107); }},
      {"optional header too small", [&](std::string& b) { testsupport::putU16(b, layout.peHeader + 20, 64); }},
      {"65535 sections", [&](std::string& b) { testsupport::putU16(b, layout.peHeader + 6, 0xFFFF); }},
      {"section raw data past the end", [&](std::string& b) {
         for (int s = 0; s < 2; ++s) testsupport::putU32(b, layout.sectionTable + 40 * s + 20, 0xFFFFFE00);
       }},
      {"resource address outside every section", [&](std::string& b) {
         testsupport::putU32(b, layout.optionalHeader + 96 + 16, 0x00F00000);
       }},
      {"65535 + 65535 root entries", [&](std::string& b) {
         testsupport::putU16(b, rsrc + 12, 0xFFFF);
         testsupport::putU16(b, rsrc + 14, 0xFFFF);
       }},
      {"type directory past the section", [&](std::string& b) {
         for (int t = 0; t < 3; ++t) testsupport::putU32(b, rsrc + 16 + 8 * t + 4, 0xFFFFFFF0);
       }},
      {"name entries loop to their own directory", [&](std::string& b) {
         for (int r = 0; r < 3; ++r) testsupport::putU32(b, layout.nameEntry[r] + 4, 0x80000000u | static_cast<std::uint32_t>(layout.typeDirectory[r] - rsrc));
       }},
      {"language entries loop to the root", [&](std::string& b) {
         for (int r = 0; r < 3; ++r) testsupport::putU32(b, layout.languageEntry[r] + 4, 0x80000000u);
       }},
      {"data past the end of the file", [&](std::string& b) {
         for (int r = 0; r < 3; ++r) testsupport::putU32(b, layout.dataEntry[r] + 4, 0x7FFFFFFF);
       }},
      {"data address wraps around", [&](std::string& b) {
         for (int r = 0; r < 3; ++r) testsupport::putU32(b, layout.dataEntry[r], 0xFFFFFFF0);
       }},
  };
  for (const auto& [what, patch] : damages) {
    std::string bytes = good;
    patch(bytes);
    EXPECT_FALSE(iconOf(bytes)) << what;
    EXPECT_FALSE(versionOf(bytes)) << what;
  }

  // Damage inside the icon resources alone.
  const std::vector<std::pair<const char*, Patch>> iconDamages = {
      {"group claims 65535 images", [&](std::string& b) { testsupport::putU16(b, layout.data[1] + 4, 0xFFFF); }},
      {"group of cursors", [&](std::string& b) { testsupport::putU16(b, layout.data[1] + 2, 2); }},
      {"image width 2^31-1", [&](std::string& b) { testsupport::putU32(b, layout.data[0] + 4, 0x7FFFFFFF); }},
      {"image height 2^31-1", [&](std::string& b) { testsupport::putU32(b, layout.data[0] + 8, 0x7FFFFFFF); }},
      {"negative height", [&](std::string& b) { testsupport::putU32(b, layout.data[0] + 8, 0xFFFFFFA0); }},
      {"header size past the image", [&](std::string& b) { testsupport::putU32(b, layout.data[0], 0x10000); }},
      {"12 bits per pixel", [&](std::string& b) { testsupport::putU16(b, layout.data[0] + 14, 12); }},
      {"compressed bitmap", [&](std::string& b) { testsupport::putU32(b, layout.data[0] + 16, 1); }},
      {"bitmap larger than its data", [&](std::string& b) { testsupport::putU32(b, layout.data[0] + 4, 49); }},
  };
  for (const auto& [what, patch] : iconDamages) {
    std::string bytes = good;
    patch(bytes);
    EXPECT_FALSE(iconOf(bytes)) << what;
    EXPECT_TRUE(versionOf(bytes)) << what;
  }

  // A PNG frame cut short, with a corrupt header, or claiming a huge size.
  const std::string png = testsupport::pngImage(48, 48, filled(48, 48, 0xFF000000));
  std::string huge = png;
  testsupport::putU32(huge, 16, 0x00A08601);  // width 100000 (big-endian), CRC now wrong too
  for (const std::string& frame : {png.substr(0, png.size() / 2), png.substr(0, 30), huge}) {
    EXPECT_FALSE(iconOf(exeWith({entry(48, 32, 1)}, {frame})));
  }
  // An .ico directory pointing past its file.
  std::string ico = testsupport::icoFile({entry(48, 32, 0)}, {solid(48, 0)});
  testsupport::putU32(ico, 18, 0xFFFFFFF0);
  EXPECT_FALSE(iconOf(ico));
}

}  // namespace

// The shared checks of executables over memory, on both platforms: which icon image they accept
// and locate, what they refuse (every hostile kind that broke the system's parsers, headers that
// disagree with their entries, damage hidden in a language other than the first), and the
// version resource's bounds.
#include "platform/executable/ExecutableResources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/executable/ByteSource.h"
#include "tests/support/HostileExecutables.h"
#include "tests/support/PeWriter.h"
#include "tests/support/PngEncoder.h"
#include "tests/support/PngKinds.h"

namespace {

using platform::executable::ImageSpan;
using testsupport::IconDirEntry;
using testsupport::PeWriter;
using Words = std::array<std::uint16_t, 4>;

constexpr std::uint32_t kIcon = 3, kGroup = 14, kVersion = 16;

platform::executable::MemoryByteSource sourceOf(const std::string& bytes) {
  return platform::executable::MemoryByteSource({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}
std::optional<ImageSpan> iconOf(const std::string& bytes) { return platform::executable::checkedIconImage(sourceOf(bytes)); }
std::optional<Words> versionOf(const std::string& bytes) { return platform::executable::checkedFileVersion(sourceOf(bytes)); }

std::string bitmap(int width, int height, int bits = 32) {
  return testsupport::bmpIconImage(width, height, bits, {0x000000, 0xFFFFFF},
                                   std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, 0xFF000000u));
}
IconDirEntry entry(int width, int height, std::uint16_t id) { return {width, height, 0, 1, 32, 0, id}; }

// One group (id 1) over `images`, which get icon ids 1, 2, ...; a version 1.2.3.4.
PeWriter writerWith(const std::vector<IconDirEntry>& entries, const std::vector<std::string>& images,
                    bool pe32Plus = false) {
  PeWriter pe(pe32Plus);
  for (std::size_t i = 0; i < images.size(); ++i) pe.add(kIcon, static_cast<std::uint32_t>(i + 1), images[i]);
  pe.add(kGroup, 1, testsupport::iconGroup(entries));
  pe.add(kVersion, 1, testsupport::versionResource(0x00010002, 0x00030004, u"1.2.3.4"));
  return pe;
}

// Well-formed files: the checks locate the image the chooser picks (nearest 48x48, then deepest),
// in both PE flavours, in an .ico file, as a PNG whose IHDR equals its entry (256 stored as 0).
TEST(ExecutableResources, LocatesTheChosenImageOfWellFormedFiles) {
  for (const bool pe32Plus : {false, true}) {
    PeWriter pe = writerWith({entry(32, 32, 1), entry(48, 48, 2), entry(64, 64, 3)},
                             {bitmap(32, 32), bitmap(48, 48, 8), bitmap(64, 64)}, pe32Plus);
    const std::string bytes = pe.build();
    EXPECT_EQ(iconOf(bytes), (ImageSpan{pe.layout().data[1], bitmap(48, 48, 8).size()})) << pe32Plus;
    EXPECT_EQ(versionOf(bytes), (Words{1, 2, 3, 4}));
  }

  const std::string png = testsupport::transparentPng(256, 256);
  PeWriter withPng = writerWith({entry(0, 0, 1), entry(16, 16, 2)}, {png, bitmap(16, 16, 4)});
  const std::string withPngBytes = withPng.build();
  EXPECT_EQ(iconOf(withPngBytes), (ImageSpan{withPng.layout().data[1], bitmap(16, 16, 4).size()}));
  PeWriter onlyPng = writerWith({entry(0, 0, 1)}, {png});
  const std::string onlyPngBytes = onlyPng.build();
  EXPECT_EQ(iconOf(onlyPngBytes), (ImageSpan{onlyPng.layout().data[0], png.size()}));

  const std::string ico = testsupport::icoFile({entry(16, 16, 0), entry(48, 48, 0)}, {bitmap(16, 16), bitmap(48, 48, 1)});
  EXPECT_EQ(iconOf(ico), (ImageSpan{6 + 2 * 16 + bitmap(16, 16).size(), bitmap(48, 48, 1).size()}));
  EXPECT_FALSE(versionOf(ico));
}

// Every hostile kind: no icon where the icon is damaged, no version where the version is, and
// damage to one never costs the other.
TEST(ExecutableResources, RefusesEveryHostileKind) {
  ASSERT_TRUE(iconOf(testsupport::goodExecutable()));
  ASSERT_TRUE(versionOf(testsupport::goodExecutable()));
  for (const testsupport::HostileFile& file : testsupport::hostileFiles()) {
    EXPECT_EQ(iconOf(file.bytes).has_value(), !file.badIcon) << file.what;
    EXPECT_EQ(versionOf(file.bytes).has_value(), !file.badVersion) << file.what;
  }
}

// A header that disagrees with its entry in any of the ways the checks look at refuses the whole
// group, also when it is not the image the chooser would take.
TEST(ExecutableResources, RefusesImagesThatDisagreeWithTheirEntries) {
  using Patch = void (*)(std::string&);
  const std::vector<std::pair<const char*, Patch>> patches = {
      {"width", [](std::string& b) { testsupport::putU32(b, 4, 47); }},
      {"height not doubled", [](std::string& b) { testsupport::putU32(b, 8, 48); }},
      {"two planes", [](std::string& b) { testsupport::putU16(b, 12, 2); }},
      {"16 bits per pixel", [](std::string& b) { testsupport::putU16(b, 14, 16); }},
      {"bit-field compression", [](std::string& b) { testsupport::putU32(b, 16, 3); }},
      {"core header of 12 bytes", [](std::string& b) { testsupport::putU32(b, 0, 12); }},
      {"header larger than the image", [](std::string& b) { testsupport::putU32(b, 0, 0x10000); }},
      {"257 colours", [](std::string& b) { testsupport::putU32(b, 32, 257); }},
      {"colour table pushing the mask out", [](std::string& b) { testsupport::putU32(b, 32, 200); }},
  };
  for (const auto& [what, patch] : patches) {
    std::string wrong = bitmap(48, 48);
    patch(wrong);
    EXPECT_FALSE(iconOf(writerWith({entry(48, 48, 1)}, {wrong}).build())) << what;
    // The chooser would take the good 48x48 image; the 32x32 one is damaged the same way.
    std::string wrong32 = bitmap(32, 32);
    patch(wrong32);
    if (std::string(what) == "width") testsupport::putU32(wrong32, 4, 31);
    EXPECT_FALSE(iconOf(writerWith({entry(48, 48, 1), entry(32, 32, 2)}, {bitmap(48, 48), wrong32}).build())) << what;
  }

  // PNG images: an IHDR other than the entry's, or no IHDR first.
  EXPECT_FALSE(iconOf(writerWith({entry(48, 48, 1)}, {testsupport::pngHeader(48, 49)}).build()));
  EXPECT_FALSE(iconOf(writerWith({entry(0, 0, 1)}, {testsupport::pngHeader(257, 257)}).build()));
  std::string unnamed = testsupport::pngHeader(48, 48);
  unnamed[12] = 'X';
  EXPECT_FALSE(iconOf(writerWith({entry(48, 48, 1)}, {unnamed}).build()));
  EXPECT_FALSE(iconOf(writerWith({entry(48, 48, 1)}, {testsupport::pngHeader(48, 48).substr(0, 30)}).build()));

  // A group naming an image the file does not hold.
  EXPECT_FALSE(iconOf(writerWith({entry(48, 48, 1), entry(16, 16, 7)}, {bitmap(48, 48)}).build()));

  // .ico files: every entry checked, and every entry's bytes inside the file.
  std::string ico = testsupport::icoFile({entry(48, 48, 0), entry(16, 16, 0)}, {bitmap(48, 48), bitmap(16, 16)});
  ASSERT_TRUE(iconOf(ico));
  std::string icoWrong = ico;
  icoWrong[22] = 17;  // the second entry says 17 wide, its bitmap 16
  EXPECT_FALSE(iconOf(icoWrong));
  std::string icoPast = ico;
  testsupport::putU32(icoPast, 22 + 12, static_cast<std::uint32_t>(ico.size() - 100));
  EXPECT_FALSE(iconOf(icoPast));
}

// What one build would show and the other not is refused by both: PNG images of 16 bits per
// sample, with a damaged chunk or out of the format's order (every kind of tests/support/PngKinds,
// in an executable and in an .ico file), bitmaps with a V4 or V5 header, and files of 4 GiB or more.
TEST(ExecutableResources, RefusesWhatOnlyOneBuildWouldShow) {
  for (const testsupport::PngKind& kind : testsupport::pngKinds()) {
    EXPECT_EQ(iconOf(writerWith({entry(48, 48, 1)}, {kind.png}).build()).has_value(), kind.accepted) << kind.what;
    EXPECT_EQ(iconOf(testsupport::icoFile({entry(48, 48, 0)}, {kind.png})).has_value(), kind.accepted) << kind.what;
  }

  // A bitmap whose header is longer than BITMAPINFOHEADER, laid out whole (header, pixels, mask).
  for (const std::uint32_t headerSize : {40u, 108u, 124u}) {
    std::string image = bitmap(48, 48);
    image.insert(40, std::string(headerSize - 40, '\0'));
    testsupport::putU32(image, 0, headerSize);
    EXPECT_EQ(iconOf(writerWith({entry(48, 48, 1)}, {image}).build()).has_value(), headerSize == 40) << headerSize;
  }

  // A good executable read as if it were a sparse file of `size` bytes (zeros past its end).
  class Padded final : public platform::executable::ByteSource {
   public:
    Padded(const std::string& bytes, std::uint64_t size) : bytes_(bytes), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
      if (!contains(offset, out.size())) return false;
      for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = offset + i < bytes_.size() ? static_cast<std::uint8_t>(bytes_[offset + i]) : 0;
      return true;
    }

   private:
    const std::string& bytes_;
    std::uint64_t size_;
  };
  const std::string good = writerWith({entry(48, 48, 1)}, {bitmap(48, 48)}).build();
  for (const std::uint64_t size : {(1ull << 32) - 1, 1ull << 32, (1ull << 32) + 100, 5ull << 30}) {
    const Padded padded(good, size);
    EXPECT_EQ(platform::executable::checkedIconImage(padded).has_value(), size < (1ull << 32)) << size;
    EXPECT_EQ(platform::executable::checkedFileVersion(padded).has_value(), size < (1ull << 32)) << size;
  }
}

// Sections, or headers and a section, that claim the same addresses are refused: the system could
// map the resources through another one than ours.
TEST(ExecutableResources, RefusesOverlappingSections) {
  PeWriter pe = writerWith({entry(48, 48, 1)}, {bitmap(48, 48)});
  std::string bytes = pe.build();
  ASSERT_TRUE(iconOf(bytes));
  // The first (code) section's virtual size made to reach over the resource section.
  std::string wide = bytes;
  testsupport::putU32(wide, pe.layout().sectionTable + 8, 0x00100000);
  EXPECT_FALSE(iconOf(wide));
  EXPECT_FALSE(versionOf(wide));
  // SizeOfHeaders reaching over the resource section: the system would read the resources at
  // their address taken as a file offset (here past the end of the file), so they are refused.
  // A section, or the image, far larger than the file: the system would fill it with zeros.
  std::string huge = bytes;
  testsupport::putU32(huge, pe.layout().sectionTable + 40 + 8, 0x40000000);
  EXPECT_FALSE(iconOf(huge));
  std::string hugeImage = bytes;
  testsupport::putU32(hugeImage, pe.layout().optionalHeader + 56, 0x40000000);
  EXPECT_FALSE(iconOf(hugeImage));
  std::string headers = bytes;
  testsupport::putU32(headers, pe.layout().optionalHeader + 60, 0x08000400);
  EXPECT_FALSE(iconOf(headers));
  EXPECT_FALSE(versionOf(headers));
}

// Directories the system's binary search could read otherwise than a walk: numbered entries out
// of ascending order or stored twice, at any level; a count claiming junk past the real entries;
// a number wider than 16 bits (the system compares 16); a numbered entry counted as named.
TEST(ExecutableResources, RefusesDirectoriesNotStoredInSearchOrder) {
  PeWriter pe;
  pe.add(kIcon, 1, bitmap(48, 48));
  pe.add(kIcon, 2, bitmap(32, 32));
  pe.add(kGroup, 1, testsupport::iconGroup({entry(48, 48, 1)}), 0x0407);
  pe.add(kGroup, 1, testsupport::iconGroup({entry(48, 48, 1)}), 0x0409);
  pe.add(kGroup, 5, testsupport::iconGroup({entry(32, 32, 2)}));
  pe.add(kVersion, 1, testsupport::versionResource(0x00010002, 0x00030004, u"1.2.3.4"));
  const std::string good = pe.build();
  const testsupport::PeLayout& layout = pe.layout();
  ASSERT_TRUE(iconOf(good));
  ASSERT_TRUE(versionOf(good));
  const std::uint64_t root = layout.resourceSection;
  const auto swapEntries = [](std::string& b, std::uint64_t first, std::uint64_t second) {
    std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(first), b.begin() + static_cast<std::ptrdiff_t>(first + 8),
                     b.begin() + static_cast<std::ptrdiff_t>(second));
  };
  struct Case {
    const char* what;
    std::function<void(std::string&)> patch;
    bool versionToo;  // the version's path crosses the damaged directory
  };
  const std::vector<Case> cases = {
      {"types out of order", [&](std::string& b) { swapEntries(b, root + 16, root + 24); }, true},
      {"groups out of order", [&](std::string& b) { swapEntries(b, layout.nameEntry[2], layout.nameEntry[4]); }, false},
      {"an icon id stored twice", [&](std::string& b) { testsupport::putU32(b, layout.nameEntry[1], 1); }, false},
      {"group languages out of order",
       [&](std::string& b) { swapEntries(b, layout.languageEntry[2], layout.languageEntry[3]); }, false},
      {"root counting one entry of junk", [&](std::string& b) { testsupport::putU16(b, root + 14, 4); }, true},
      {"type number wider than 16 bits", [&](std::string& b) { testsupport::putU32(b, root + 24, 0x0001000E); }, true},
      {"numbered type counted as named", [&](std::string& b) {
         testsupport::putU16(b, root + 12, 1);
         testsupport::putU16(b, root + 14, 2);
       }, true},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    c.patch(bytes);
    EXPECT_FALSE(iconOf(bytes)) << c.what;
    EXPECT_EQ(versionOf(bytes).has_value(), !c.versionToo) << c.what;
  }
}

// The version resource: every section inside the file, entry 1 present, at most 64 KiB (exactly
// 64 KiB is accepted), every entry in every language well-formed, ending in a data entry.
TEST(ExecutableResources, BoundsTheVersionResource) {
  const std::string resource = testsupport::versionResource(0x00050006, 0x00070008, u"5.6.7.8");
  for (const std::size_t size : {std::size_t{64 * 1024}, std::size_t{64 * 1024 + 1}}) {
    PeWriter pe;
    std::string padded = resource;
    padded.resize(size, '\0');
    pe.add(kVersion, 1, padded);
    EXPECT_EQ(versionOf(pe.build()).has_value(), size <= 64 * 1024) << size;
  }

  PeWriter two;
  two.add(kVersion, 1, resource, 0x0409);
  std::string broken = resource;
  broken[40] ^= 1;  // the fixed record's signature
  two.add(kVersion, 1, broken, 0x0407);
  EXPECT_FALSE(versionOf(two.build()));

  PeWriter named;
  named.add(kVersion, 1, resource);
  named.addNamed(kVersion, u"OTHER", resource.substr(0, 60));
  EXPECT_FALSE(versionOf(named.build()));

  // Only entry 1 is read by the system: a version stored under another number is none.
  PeWriter otherId;
  otherId.add(kVersion, 2, resource);
  EXPECT_FALSE(versionOf(otherId.build()));

  // A file cut short after its version resource, or a section claiming raw data past the end of
  // the file, has no version: the system's loader refuses such an image. Its icon stays.
  PeWriter cut = writerWith({entry(48, 48, 1)}, {bitmap(48, 48)});
  std::string cutBytes = cut.build();
  ASSERT_TRUE(versionOf(cutBytes));
  std::string longRaw = cutBytes;
  testsupport::putU32(longRaw, cut.layout().sectionTable + 40 + 16, static_cast<std::uint32_t>(cutBytes.size()));
  EXPECT_FALSE(versionOf(longRaw));
  EXPECT_TRUE(iconOf(longRaw));
  cutBytes.resize(cutBytes.size() - 1);
  EXPECT_FALSE(versionOf(cutBytes));
  EXPECT_TRUE(iconOf(cutBytes));

  PeWriter deeper;
  deeper.add(kVersion, 1, resource);
  std::string bytes = deeper.build();
  testsupport::putU32(bytes, deeper.layout().languageEntry[0] + 4, 0x80000000u);  // a directory, not data
  EXPECT_FALSE(versionOf(bytes));
}

}  // namespace

// The whole road on Linux: icons taken out of files by the platform's extraction, written by the
// icon object, and read again; and the version text of executables.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/FileVersion.h"
#include "imaging/TIcon.h"
#include "platform/DebugChannel.h"
#include "runtime/Text.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/PeWriter.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using testsupport::readFileBytes;
using testsupport::TempFolder;

namespace {

constexpr std::uint32_t kIconResource = 3;
constexpr std::uint32_t kGroupResource = 14;
constexpr std::uint32_t kVersionResource = 16;

platform::IconHandle extract(const std::u16string& path) {
  return platform::extractIcon(path, 0, 48, 48, platform::kLoadTransparent);
}

std::string savedBytes(const TempFolder& folder, const std::string& name, platform::IconHandle icon) {
  imaging::TIcon owner;
  owner.AssignHandle(icon);
  owner.SaveIconFile(folder.file(name));
  return readFileBytes(folder.path() / name);
}

}  // namespace

// What we write, the extraction reads back as Windows hands it out, and writing that again gives
// the same file: a 32-bit colour bitmap and 1-bit mask (alpha as stored), or for a monochrome
// icon no colour bitmap and a 48x96 mask.
TEST(Extraction, OurIcoFilesRoundTrip) {
  TempFolder folder;
  const std::size_t icons = testsupport::liveIconCount();
  const std::string colour = savedBytes(folder, "colour.ico", pictureIcon());
  const platform::IconHandle extracted = extract(folder.file("colour.ico"));
  ASSERT_NE(extracted, nullptr);
  platform::IconInfo info;
  ASSERT_TRUE(platform::getIconInfo(extracted, info));
  platform::BitmapDescription description;
  ASSERT_EQ(platform::getObject(info.colour, sizeof description, &description), int{sizeof description});
  EXPECT_EQ(description.bitsPixel, 32);
  EXPECT_EQ(description.width, 48);
  ASSERT_EQ(platform::getObject(info.mask, sizeof description, &description), int{sizeof description});
  EXPECT_EQ(description.bitsPixel, 1);
  EXPECT_EQ(description.height, 48);
  platform::deleteObject(info.colour);
  platform::deleteObject(info.mask);
  EXPECT_EQ(savedBytes(folder, "again.ico", extracted), colour);

  const auto maskBit = [](int x, int y) { return y < 48 ? (x + y) % 4 == 0 : x < y - 40; };
  const std::string mono = savedBytes(folder, "mono.ico", iconOf(nullptr, maskBitmap(48, 96, maskBit)));
  const platform::IconHandle monochrome = extract(folder.file("mono.ico"));
  ASSERT_NE(monochrome, nullptr);
  ASSERT_TRUE(platform::getIconInfo(monochrome, info));
  EXPECT_EQ(info.colour, nullptr);
  ASSERT_EQ(platform::getObject(info.mask, sizeof description, &description), int{sizeof description});
  EXPECT_EQ(description.height, 96);
  platform::deleteObject(info.mask);
  EXPECT_EQ(savedBytes(folder, "mono-again.ico", monochrome), mono);
  EXPECT_EQ(testsupport::liveIconCount(), icons);
}

// An executable's icon group: a 24-bit image gets alpha from its mask on the way out.
TEST(Extraction, ExecutableIconAndRequestsNotAnswered) {
  TempFolder folder;
  std::vector<std::uint32_t> pixels;
  std::vector<std::uint8_t> mask;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      pixels.push_back(picture(x, y) & 0xFFFFFF);
      mask.push_back(pictureMask(x, y) ? 1 : 0);
    }
  testsupport::PeWriter pe;
  const std::string image = testsupport::bmpIconImage(48, 48, 24, {}, pixels, mask);
  pe.add(kIconResource, 1, image);
  testsupport::IconDirEntry entry;
  entry.bitCount = 24;
  entry.bytes = static_cast<std::uint32_t>(image.size());
  pe.add(kGroupResource, 1, testsupport::iconGroup({entry}));
  pe.writeTo(folder.path() / "app.exe");

  const IcoImage written = readIco(savedBytes(folder, "app.ico", extract(folder.file("app.exe"))));
  EXPECT_EQ(written.bits, 32);
  expectPixels(written, [](int x, int y) { return (picture(x, y) & 0xFFFFFF) | (pictureMask(x, y) ? 0 : 0xFF000000u); },
               pictureMask, true);

  // Only the pass's question is answered: index 0 at 48x48 of a file that has icons.
  EXPECT_EQ(platform::extractIcon(folder.file("app.exe"), 1, 48, 48, platform::kLoadTransparent), nullptr);
  EXPECT_EQ(platform::extractIcon(folder.file("app.exe"), 0, 32, 32, platform::kLoadTransparent), nullptr);
  EXPECT_EQ(extract(folder.file("missing.exe")), nullptr);
  EXPECT_EQ(extract(u""), nullptr);
  EXPECT_EQ(extract(rt::fromUtf8(folder.path().string())), nullptr);
}

// The version text joins the four file-version numbers of the fixed record; files without one
// give "0.0.0.0" quietly.
TEST(FileVersionText, FixedRecordNumbersOrZeros) {
  TempFolder folder;
  std::vector<std::u16string> debugLines;
  platform::setDebugSink([&](const std::u16string& line) { debugLines.push_back(line); });

  const auto executable = [&](const std::string& name, std::uint32_t high, std::uint32_t low) {
    testsupport::PeWriter pe;
    pe.add(kVersionResource, 1, testsupport::versionResource(high, low, u"9.9.9.9"));
    pe.writeTo(folder.path() / name);
    return folder.file(name);
  };
  EXPECT_EQ(imaging::fileVersionText(executable("a.exe", 0x00010002, 0x00030004)), u"1.2.3.4");
  EXPECT_EQ(imaging::fileVersionText(executable("b.exe", 0xFFFF0000, 0x0000FFFF)), u"65535.0.0.65535");
  EXPECT_EQ(imaging::fileVersionText(executable("c.exe", 0x0000FFFF, 0xFFFF0000)), u"0.65535.65535.0");

  testsupport::PeWriter plain;
  plain.writeTo(folder.path() / "plain.exe");
  EXPECT_EQ(imaging::fileVersionText(folder.file("plain.exe")), u"0.0.0.0");
  EXPECT_EQ(imaging::fileVersionText(folder.file("missing.exe")), u"0.0.0.0");
  EXPECT_EQ(imaging::fileVersionText(u""), u"0.0.0.0");

  platform::setDebugSink(nullptr);
  EXPECT_TRUE(debugLines.empty());
}

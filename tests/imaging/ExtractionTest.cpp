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

// An executable with a 24-bit icon image and its mask. The pixels' alpha is the platform's
// business (Windows hands back what the system makes of an image without alpha; the Linux stand-in
// makes it from the mask: PosixExtractionTest.cpp), so only colour and mask are compared here.
TEST(Extraction, ExecutableIconColoursAndMask) {
  TempFolder folder;
  writeTwentyFourBitExecutable(folder.path() / "app.exe");
  const IcoImage written = readIco(savedBytes(folder, "app.ico", extract(folder.file("app.exe"))));
  EXPECT_EQ(written.bits, 32);
  expectPixels(written, picture, pictureMask, false);
}

// Files that are missing or not files give no icon.
TEST(Extraction, NothingFromWhatIsNotAFile) {
  TempFolder folder;
  EXPECT_EQ(extract(folder.file("missing.exe")), nullptr);
  EXPECT_EQ(extract(u""), nullptr);
  EXPECT_EQ(extract(folder.path().u16string()), nullptr);
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

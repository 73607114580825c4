// The whole road on each platform: icons taken out of files by the platform's executable, written
// by the icon object, and read again; and the version text of executables.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/FileVersion.h"
#include "imaging/TIcon.h"
#include "platform/DebugChannel.h"
#include "platform/Executable.h"
#include "runtime/Text.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/PeWriter.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using testsupport::readFileBytes;
using testsupport::TempFolder;

namespace {

constexpr std::uint32_t kVersionResource = 16;

std::optional<platform::IconBitmaps> extract(const std::u16string& path) {
  return platform::Executable(path).iconBitmaps48();
}

std::string savedBytes(const TempFolder& folder, const std::string& name, platform::IconBitmaps image) {
  imaging::TIcon owner;
  owner.AssignImage(std::move(image));
  owner.SaveIconFile(folder.file(name));
  return readFileBytes(folder.path() / name);
}

std::u16string versionOf(const std::u16string& path) { return imaging::fileVersionText(platform::Executable(path)); }

}  // namespace

// What we write, the extraction reads back as Windows hands it out, and writing that again gives
// the same file: a 32-bit colour bitmap and 1-bit mask (alpha as stored), or for a monochrome
// icon no colour bitmap and a 48x96 mask.
TEST(Extraction, OurIcoFilesRoundTrip) {
  TempFolder folder;
  const std::string colour = savedBytes(folder, "colour.ico", pictureBitmaps());
  auto extracted = extract(folder.file("colour.ico"));
  ASSERT_TRUE(extracted);
  platform::BitmapInfoHeader header;
  ASSERT_EQ(extracted->colourInfo.size(), sizeof header);
  std::memcpy(&header, extracted->colourInfo.data(), sizeof header);
  EXPECT_EQ(header.bitCount, 32);
  EXPECT_EQ(header.width, 48);
  EXPECT_EQ(extracted->maskWidth, 48);
  EXPECT_EQ(extracted->maskHeight, 48);
  EXPECT_EQ(savedBytes(folder, "again.ico", std::move(*extracted)), colour);

  const auto maskBit = [](int x, int y) { return y < 48 ? (x + y) % 4 == 0 : x < y - 40; };
  const std::string mono = savedBytes(folder, "mono.ico", monochromeOf(48, 96, maskBit));
  auto monochrome = extract(folder.file("mono.ico"));
  ASSERT_TRUE(monochrome);
  EXPECT_TRUE(monochrome->monochrome());
  EXPECT_EQ(monochrome->maskHeight, 96);
  EXPECT_EQ(savedBytes(folder, "mono-again.ico", std::move(*monochrome)), mono);
}

// An executable with a 24-bit icon image and its mask. The pixels' alpha is the platform's
// business (Windows hands back what the system makes of an image without alpha; the Linux stand-in
// makes it from the mask: PosixExtractionTest.cpp), so only colour and mask are compared here.
TEST(Extraction, ExecutableIconColoursAndMask) {
  TempFolder folder;
  writeTwentyFourBitExecutable(folder.path() / "app.exe");
  auto extracted = extract(folder.file("app.exe"));
  ASSERT_TRUE(extracted);
  const IcoImage written = readIco(savedBytes(folder, "app.ico", std::move(*extracted)));
  EXPECT_EQ(written.bits, 32);
  expectPixels(written, picture, pictureMask, false);
}

// Files that are missing or not files give no icon.
TEST(Extraction, NothingFromWhatIsNotAFile) {
  TempFolder folder;
  EXPECT_FALSE(extract(folder.file("missing.exe")));
  EXPECT_FALSE(extract(u""));
  EXPECT_FALSE(extract(folder.path().u16string()));
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
  EXPECT_EQ(versionOf(executable("a.exe", 0x00010002, 0x00030004)), u"1.2.3.4");
  EXPECT_EQ(versionOf(executable("b.exe", 0xFFFF0000, 0x0000FFFF)), u"65535.0.0.65535");
  EXPECT_EQ(versionOf(executable("c.exe", 0x0000FFFF, 0xFFFF0000)), u"0.65535.65535.0");

  testsupport::PeWriter plain;
  plain.writeTo(folder.path() / "plain.exe");
  EXPECT_EQ(versionOf(folder.file("plain.exe")), u"0.0.0.0");
  EXPECT_EQ(versionOf(folder.file("missing.exe")), u"0.0.0.0");
  EXPECT_EQ(versionOf(u""), u"0.0.0.0");

  platform::setDebugSink(nullptr);
  EXPECT_TRUE(debugLines.empty());
}

// Executables built by Debian's NSIS compiler (makensis), a PE producer nobody here wrote: the
// reader must find the icon we gave it and the file version we asked for. The test writes the
// installer script and the .ico file itself, in a temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/Executable.h"
#include "tests/support/PeWriter.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VersionNumbers.h"

namespace {

using testsupport::IconDirEntry;

// Builds `peer.exe` in `folder` from a script with the given icon and version lines.
::testing::AssertionResult buildInstaller(const testsupport::TempFolder& folder, const std::string& ico,
                                          const std::string& versionLines) {
  testsupport::writeFileBytes(folder.path() / "app.ico", ico);
  std::ofstream(folder.path() / "peer.nsi") << "Name \"Peer\"\nOutFile \"peer.exe\"\nIcon \"app.ico\"\n"
                                            << "RequestExecutionLevel user\n" << versionLines
                                            << "Section\nSectionEnd\n";
  const std::string command = "cd '" + folder.path().string() + "' && timeout 120 makensis -V1 peer.nsi > makensis.log 2>&1";
  if (std::system(command.c_str()) != 0) {
    return ::testing::AssertionFailure() << "makensis failed (is the nsis package installed?): "
                                         << testsupport::readFileBytes(folder.path() / "makensis.log");
  }
  return ::testing::AssertionSuccess();
}

// The pixel at `x`, `y` (top row 0) of the 32-bit colour rows, which lie bottom-up.
std::uint32_t argbAt(const platform::IconBitmaps& icon, int x, int y) {
  const std::uint8_t* p = icon.colourRows.data() + (static_cast<std::size_t>(47 - y) * 48 + x) * 4;
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

// Icons: the 48x48 image of a three-size icon comes back pixel for pixel, alpha included; a
// 32x32-only icon comes back enlarged by centre sampling.
TEST(NsisPeer, ReaderFindsTheInstallersIcon) {
  std::vector<std::uint32_t> gradient(48 * 48), small(16 * 16, 0xFFFF0000), mid(32 * 32, 0xFF00FF00);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x)
      gradient[y * 48 + x] = (static_cast<std::uint32_t>(128 + x * 2) << 24) | (static_cast<std::uint32_t>(x * 5) << 16) |
                             (static_cast<std::uint32_t>(y * 5) << 8) | 0x40;
  const std::string ico = testsupport::icoFile(
      {{16, 16, 0, 1, 32, 0, 0}, {48, 48, 0, 1, 32, 0, 0}, {32, 32, 0, 1, 32, 0, 0}},
      {testsupport::bmpIconImage(16, 16, 32, {}, small), testsupport::bmpIconImage(48, 48, 32, {}, gradient),
       testsupport::bmpIconImage(32, 32, 32, {}, mid)});
  testsupport::TempFolder folder;
  ASSERT_TRUE(buildInstaller(folder, ico, ""));
  const auto icon = platform::Executable(folder.file("peer.exe")).iconBitmaps48();
  ASSERT_TRUE(icon);
  ASSERT_FALSE(icon->monochrome());
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) ASSERT_EQ(argbAt(*icon, x, y), gradient[y * 48 + x]) << x << "," << y;

  std::vector<std::uint32_t> columns(32 * 32);
  for (int i = 0; i < 32 * 32; ++i) columns[i] = 0xFF000000u | static_cast<std::uint32_t>(i % 32);
  testsupport::TempFolder other;
  ASSERT_TRUE(buildInstaller(other, testsupport::icoFile({{32, 32, 0, 1, 24, 0, 0}},
                                                         {testsupport::bmpIconImage(32, 32, 24, {}, columns)}), ""));
  const auto enlarged = platform::Executable(other.file("peer.exe")).iconBitmaps48();
  ASSERT_TRUE(enlarged);
  for (int x = 0; x < 48; ++x) EXPECT_EQ(argbAt(*enlarged, x, 9), 0xFF000000u | static_cast<std::uint32_t>(((2 * x + 1) * 32 - 1) / 96));
}

// Versions: the fixed record's file version, not the product version nor the "FileVersion" text.
TEST(NsisPeer, ReaderFindsTheInstallersFileVersion) {
  const std::string ico = testsupport::icoFile({{48, 48, 0, 1, 32, 0, 0}},
                                               {testsupport::bmpIconImage(48, 48, 32, {}, std::vector<std::uint32_t>(48 * 48, 0xFF102030))});
  struct Case {
    const char* fileVersion;
    std::array<std::uint16_t, 4> expected;
  };
  for (const Case& c : {Case{"1.2.3.4", {1, 2, 3, 4}}, Case{"0.65535.65535.0", {0, 65535, 65535, 0}}}) {
    testsupport::TempFolder folder;
    ASSERT_TRUE(buildInstaller(folder, ico,
                               std::string("VIProductVersion \"9.8.7.6\"\nVIFileVersion \"") + c.fileVersion +
                                   "\"\nVIAddVersionKey \"ProductName\" \"Peer\"\nVIAddVersionKey \"FileVersion\" \"5.5.5.5\"\n"));
    EXPECT_EQ(testsupport::versionNumbers(platform::Executable(folder.file("peer.exe"))), c.expected) << c.fileVersion;
    EXPECT_TRUE(platform::Executable(folder.file("peer.exe")).iconBitmaps48());
  }
  // An installer without version lines has no version resource.
  testsupport::TempFolder plain;
  ASSERT_TRUE(buildInstaller(plain, ico, ""));
  EXPECT_FALSE(testsupport::versionNumbers(platform::Executable(plain.file("peer.exe"))));
}

}  // namespace

// What the Linux stand-in's extraction adds to the system's contract: alpha made from the mask for
// an image without alpha, and only the pass's own question answered (index 0 at 48x48). Windows
// answers other sizes and indices, and hands an image without alpha back as the system makes it.
#include <gtest/gtest.h>

#include "imaging/TIcon.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using testsupport::TempFolder;

TEST(PosixExtraction, AlphaFromTheMaskAndOnlyThePassesRequestAnswered) {
  TempFolder folder;
  writeTwentyFourBitExecutable(folder.path() / "app.exe");
  imaging::TIcon owner;
  owner.AssignHandle(platform::extractIcon(folder.file("app.exe"), 0, 48, 48, platform::kLoadTransparent));
  owner.SaveIconFile(folder.file("app.ico"));
  const IcoImage written = readIco(testsupport::readFileBytes(folder.path() / "app.ico"));
  EXPECT_EQ(written.bits, 32);
  expectPixels(written, [](int x, int y) { return (picture(x, y) & 0xFFFFFF) | (pictureMask(x, y) ? 0 : 0xFF000000u); },
               pictureMask, true);

  EXPECT_EQ(platform::extractIcon(folder.file("app.exe"), 1, 48, 48, platform::kLoadTransparent), nullptr);
  EXPECT_EQ(platform::extractIcon(folder.file("app.exe"), 0, 32, 32, platform::kLoadTransparent), nullptr);
}

// What the Linux stand-in's extraction adds to the system's contract: alpha made from the mask for
// an image without alpha. Windows hands an image without alpha back as the system makes it.
#include <gtest/gtest.h>

#include "imaging/TIcon.h"
#include "platform/Executable.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using testsupport::TempFolder;

TEST(PosixExtraction, AlphaFromTheMask) {
  TempFolder folder;
  writeTwentyFourBitExecutable(folder.path() / "app.exe");
  imaging::TIcon owner;
  auto bitmaps = platform::Executable(folder.file("app.exe")).iconBitmaps48();
  ASSERT_TRUE(bitmaps);
  owner.AssignImage(std::move(*bitmaps));
  owner.SaveIconFile(folder.file("app.ico"));
  const IcoImage written = readIco(testsupport::readFileBytes(folder.path() / "app.ico"));
  EXPECT_EQ(written.bits, 32);
  expectPixels(written, [](int x, int y) { return (picture(x, y) & 0xFFFFFF) | (pictureMask(x, y) ? 0 : 0xFF000000u); },
               pictureMask, true);
}

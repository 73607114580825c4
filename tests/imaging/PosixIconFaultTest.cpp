// Failures that only the Linux stand-in can be made to produce: icons whose bitmaps the bitmap
// calls refuse to hand out or describe (fault injection the real GDI does not offer), and a write
// cut short by the process's file-size limit (a POSIX resource limit).
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

#include "imaging/EInvalidGraphic.h"
#include "imaging/TIcon.h"
#include "platform/posix/BitmapStandIn.h"
#include "runtime/Exception.h"
#include "runtime/Text.h"
#include "tests/imaging/FaultyIcon.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/ErrorMessage.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using imaging::TIcon;
using testsupport::messageOf;
using testsupport::readFileBytes;
using testsupport::TempFolder;

namespace {

// The 32-bit test picture as an icon that misbehaves with `fault`.
platform::IconHandle faultyIcon(IconFault fault) {
  return faultyIconOf(deviceBitmap(48, 48, 32, picture), maskBitmap(48, 48, pictureMask), fault);
}

}  // namespace

// Icons whose bitmaps cannot be had or described give "Bitmap image is not valid", and every
// bitmap handed out on the way is still deleted.
TEST(PosixIconWriter, UnreadableBitmapsRaise) {
  const std::size_t bitmaps = platform::posix::liveBitmapCount();
  const std::size_t icons = platform::posix::liveIconCount();
  const std::size_t contexts = platform::posix::liveDeviceContextCount();
  for (IconFault fault : {IconFault::NoIconInfo, IconFault::UndescribableColour, IconFault::UndescribableMask}) {
    const platform::IconHandle icon = faultyIcon(fault);
    try {
      buildBytes(icon);
      ADD_FAILURE() << "no error for fault " << static_cast<int>(fault);
    } catch (const imaging::EInvalidGraphic& error) {
      EXPECT_EQ(error.Message(), u"Bitmap image is not valid");
    }
    platform::destroyIcon(icon);
  }
  EXPECT_EQ(platform::posix::liveBitmapCount(), bitmaps);
  EXPECT_EQ(platform::posix::liveIconCount(), icons);
  EXPECT_EQ(platform::posix::liveDeviceContextCount(), contexts);
}

// An icon whose bitmaps cannot be had keeps its handle at size 0 x 0; one whose colour bitmap
// cannot be described raises before the file is touched, caches nothing and keeps its handle.
TEST(PosixTIcon, UnreadableIconsKeepTheirHandleAndLeaveThePathAlone) {
  const std::size_t icons = platform::posix::liveIconCount();
  TempFolder folder;
  const std::u16string fresh = folder.file("fresh.ico");
  const std::u16string existing = folder.file("existing.ico");
  testsupport::writeFileBytes(pathOf(existing), "earlier icon");
  {
    TIcon unreadable;
    unreadable.AssignHandle(faultyIcon(IconFault::NoIconInfo));
    EXPECT_NE(unreadable.Handle(), nullptr);
    EXPECT_EQ(unreadable.Width(), 0);

    TIcon broken;
    broken.AssignHandle(faultyIcon(IconFault::UndescribableColour));
    EXPECT_EQ(messageOf([&] { broken.SaveIconFile(fresh); }), u"Bitmap image is not valid");
    EXPECT_EQ(messageOf([&] { broken.SaveIconFile(existing); }), u"Bitmap image is not valid");
    EXPECT_FALSE(std::filesystem::exists(pathOf(fresh)));
    EXPECT_EQ(readFileBytes(pathOf(existing)), "earlier icon");
    EXPECT_NE(broken.Handle(), nullptr);
    EXPECT_EQ(broken.Image()->MemoryImage(), nullptr);  // a failed build caches nothing
    EXPECT_THROW(broken.SaveIconFile(fresh), imaging::EInvalidGraphic);
  }
  EXPECT_EQ(platform::posix::liveIconCount(), icons);
}

// A write that comes up short raises "Stream write error" and takes the partial file away.
TEST(PosixTIcon, ShortWriteLeavesNoPartialFile) {
  TempFolder folder;
  const std::u16string path = folder.file("short.ico");
  testsupport::writeFileBytes(pathOf(path), "earlier icon");
  TIcon icon;
  icon.AssignHandle(pictureIcon());

  // Let the file grow to 100 bytes only; past that the system refuses the write.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const std::u16string message = messageOf([&] { icon.SaveIconFile(path); });
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(message, u"Stream write error");
  EXPECT_FALSE(std::filesystem::exists(pathOf(path)));
  icon.SaveIconFile(path);  // the object stays usable
  EXPECT_EQ(readFileBytes(pathOf(path)).size(), 9662u);
}

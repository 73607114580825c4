// File and folder tests on Windows, and the local time.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "tests/support/TempFolder.h"

// Files and folders are told apart; a folder is made once; removing works once; a relative path
// is made absolute against the current folder with "\".
TEST(Win32FileSystem, FilesAndFoldersAreToldApart) {
  const testsupport::TempFolder folder;
  const std::u16string image = folder.file("image");
  EXPECT_FALSE(platform::directoryExists(image));
  EXPECT_TRUE(platform::createDirectory(image));
  EXPECT_FALSE(platform::createDirectory(image));
  EXPECT_TRUE(platform::directoryExists(image));
  EXPECT_FALSE(platform::fileExists(image));

  testsupport::writeFileBytes(folder.path() / "image" / "0.ico", "icon");
  const std::u16string icon = image + u"\\0.ico";
  EXPECT_TRUE(platform::fileExists(icon));
  EXPECT_FALSE(platform::directoryExists(icon));
  EXPECT_TRUE(platform::removeFile(icon));
  EXPECT_FALSE(platform::removeFile(icon));
  EXPECT_FALSE(platform::fileExists(u""));

  const std::u16string absolute = platform::absolutePath(u"DB\\REDU.sqlite");
  EXPECT_GT(absolute.size(), 16u);
  EXPECT_EQ(absolute.substr(absolute.size() - 15), u"\\DB\\REDU.sqlite");
  EXPECT_EQ(absolute[1], u':');
}

// The local time is a plausible calendar time; the tick counter never goes back (its steps are
// the system's timer ticks, about 16 ms on Windows, so no finer claim is made).
TEST(Win32FileSystem, LocalTimeAndTicks) {
  const platform::LocalTime now = platform::localTime();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);
  const long long before = platform::tickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_GE(platform::tickCount(), before);
}

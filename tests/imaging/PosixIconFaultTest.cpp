// A save whose write is cut short by the process's file-size limit (a POSIX resource limit).
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

#include "imaging/TIcon.h"
#include "runtime/Exception.h"
#include "runtime/Text.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/ErrorMessage.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using imaging::TIcon;
using testsupport::messageOf;
using testsupport::readFileBytes;
using testsupport::TempFolder;

// A write that comes up short raises "Stream write error" and takes the partial file away.
TEST(PosixTIcon, ShortWriteLeavesNoPartialFile) {
  TempFolder folder;
  const std::u16string path = folder.file("short.ico");
  testsupport::writeFileBytes(pathOf(path), "earlier icon");
  TIcon icon;
  icon.AssignImage(pictureBitmaps());

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

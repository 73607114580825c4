// The instance lock without XDG_RUNTIME_DIR: a per-user folder in the temporary folder, created
// 0700 and used only when it is our own private folder; a link or a FIFO planted under the lock's
// name is neither followed nor waited on. Each case runs in a temporary folder of its own (TMPDIR),
// since a claim that succeeds holds its lock until the test process ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/SingleInstance.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using platform::InstanceClaim;

class PosixSingleInstanceTest : public testing::Test {
 protected:
  testsupport::TempFolder temporary;
  fs::path privateFolder = temporary.path() / ("talvenook-" + std::to_string(getuid()));
  std::string savedRuntimeDir;

  PosixSingleInstanceTest() {
    if (const char* value = getenv("XDG_RUNTIME_DIR")) savedRuntimeDir = value;
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", temporary.path().c_str(), 1);
  }
  ~PosixSingleInstanceTest() override {
    unsetenv("TMPDIR");
    if (!savedRuntimeDir.empty()) setenv("XDG_RUNTIME_DIR", savedRuntimeDir.c_str(), 1);
  }
  static mode_t modeOf(const fs::path& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode;
  }
};

}  // namespace

// The first claim creates the folder 0700 and the lock file 0600; a second claim while the lock
// is held reports the running instance.
TEST_F(PosixSingleInstanceTest, CreatesAPrivateFolderAndHoldsTheLock) {
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::Acquired);
  EXPECT_TRUE(S_ISDIR(modeOf(privateFolder)));
  EXPECT_EQ(modeOf(privateFolder) & 0777, 0700u);
  EXPECT_TRUE(S_ISREG(modeOf(privateFolder / "TALVENOOK.lock")));
  EXPECT_EQ(modeOf(privateFolder / "TALVENOOK.lock") & 0777, 0600u);
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::AlreadyRunning);
}

// A folder that others can enter, a link in the folder's place, a file in its place, a folder of
// another owner: the guard is unavailable (the program runs as if alone) and nothing is created
// there or where a link points.
TEST_F(PosixSingleInstanceTest, RefusesAFolderThatIsNotPrivate) {
  ASSERT_EQ(mkdir(privateFolder.c_str(), 0755), 0);
  ASSERT_EQ(chmod(privateFolder.c_str(), 0755), 0);
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::Unavailable);
  EXPECT_FALSE(fs::exists(privateFolder / "TALVENOOK.lock"));
  fs::remove(privateFolder);

  const fs::path elsewhere = temporary.path() / "elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
  fs::create_directory_symlink(elsewhere, privateFolder);
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::Unavailable);
  EXPECT_FALSE(fs::exists(elsewhere / "TALVENOOK.lock"));
  fs::remove(privateFolder);

  testsupport::writeFileBytes(privateFolder, "");
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::Unavailable);
  fs::remove(privateFolder);

  if (geteuid() == 0) {  // only root can give a folder to another user
    ASSERT_EQ(mkdir(privateFolder.c_str(), 0700), 0);
    ASSERT_EQ(chown(privateFolder.c_str(), 65534, 65534), 0);
    EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::Unavailable);
    EXPECT_FALSE(fs::exists(privateFolder / "TALVENOOK.lock"));
  }
}

// A symbolic link or a FIFO planted under the lock file's name, in the private folder or in the
// runtime folder: not followed, not waited on, no file created where the link points.
TEST_F(PosixSingleInstanceTest, DoesNotFollowALinkOrWaitOnAFifo) {
  ASSERT_EQ(mkdir(privateFolder.c_str(), 0700), 0);
  const fs::path target = temporary.path() / "victim";
  fs::create_symlink(target, privateFolder / "TALVENOOK.lock");
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::Unavailable);
  EXPECT_FALSE(fs::exists(target));

  fs::remove(privateFolder / "TALVENOOK.lock");
  ASSERT_EQ(mkfifo((privateFolder / "TALVENOOK.lock").c_str(), 0600), 0);
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::Unavailable);

  testsupport::TempFolder runtimeDir;
  fs::create_symlink(target, runtimeDir.path() / "TALVENOOK.lock");
  setenv("XDG_RUNTIME_DIR", runtimeDir.path().c_str(), 1);
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::Unavailable);
  EXPECT_FALSE(fs::exists(target));
}

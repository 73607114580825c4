// An executable path that names a FIFO, a folder or a device: the icon and version readers answer
// "nothing" at once instead of waiting in the open (a FIFO's open waits for a writer forever).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "platform/Executable.h"
#include "platform/NativeFile.h"
#include "runtime/Text.h"
#include "tests/support/TempFolder.h"

namespace {

// Runs `read` on another thread; when it has not returned within five seconds, a writer opens the
// FIFO to free it, and the test fails. So a regression fails instead of hanging the suite.
template <typename Read>
void expectReturnsAtOnce(const std::string& fifo, Read read) {
  auto result = std::async(std::launch::async, read);
  if (result.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
    EXPECT_TRUE(result.get()) << "the reader made something of a non-regular file";
    return;
  }
  ADD_FAILURE() << "the open waited for a writer";
  const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  result.wait();
  if (writer >= 0) close(writer);
}

}  // namespace

TEST(PosixNonRegularFileTest, FifoFolderAndDeviceAreNoIconAndNoVersion) {
  testsupport::TempFolder folder;
  const std::string fifo = (folder.path() / "setup.exe").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::u16string path = rt::fromUtf8(fifo);

  expectReturnsAtOnce(fifo, [&] {
    const platform::Executable executable(path);
    return !executable.iconBitmaps48() && !executable.fileVersionWords();
  });
  expectReturnsAtOnce(fifo, [&] {
    platform::FileError error;
    const bool refused = !platform::NativeFile::openReadDenyWrite(path, error).isOpen();
    return refused && error.code != 0;
  });

  for (const std::u16string& other : {rt::fromUtf8(folder.path().string()), std::u16string(u"/dev/zero")}) {
    const platform::Executable executable(other);
    EXPECT_FALSE(executable.iconBitmaps48());
    EXPECT_FALSE(executable.fileVersionWords());
  }
}

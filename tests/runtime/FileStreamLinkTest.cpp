// File streams and planted links: the program's own files (created, or read back for the upload)
// are never reached through a symbolic link, at their name or at their folder; a link is an error
// of the open like any other, and the link's target keeps its contents. A file of the catalogue
// is read through a link as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "runtime/Exception.h"
#include "runtime/TFileStream.h"
#include "tests/support/ErrorMessage.h"
#include "tests/support/PlantedFiles.h"
#include "tests/support/TempFolder.h"

namespace rt {
namespace {

using testsupport::messageOf;
using testsupport::readFileBytes;

class FileStreamLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(outside_);
    testsupport::writeFileBytes(outside_ / "precious.txt", "precious");
  }
  // Plants a link at `link` to `target`; false (and the test skipped) when the system shows a
  // link to a file as the file itself, so that no open can tell them apart.
  bool plant(const std::filesystem::path& target, const std::filesystem::path& link) {
    planted_.push_back(std::make_unique<testsupport::RemovedAtEnd>(link));
    if (!testsupport::makeSymbolicLink(target, link)) {
      ADD_FAILURE() << "no symbolic link could be made here";
      return false;
    }
    return testsupport::systemShowsLink(link);
  }

  testsupport::TempFolder folder_;
  const std::filesystem::path outside_ = folder_.path() / "outside";
  const std::filesystem::path image_ = folder_.path() / "image";
  std::vector<std::unique_ptr<testsupport::RemovedAtEnd>> planted_;  // gone before the folder
};

// The image folder a link to another folder: creating and reading back a file in it both fail,
// nothing appears in the other folder, and a plain folder in its place works again.
TEST_F(FileStreamLinkTest, LinkedFolderIsRefusedForOwnFiles) {
  ASSERT_TRUE(plant(outside_, image_)) << "the system shows a link to a folder as the folder";
  const std::u16string icon = (image_ / "0.ico").u16string();
  const std::u16string created = messageOf<EFCreateError>([&] { TFileStream(icon, FileMode::CreateExclusive); });
  EXPECT_EQ(created.rfind(u"Cannot create file \"" + platform::absolutePath(icon) + u"\". ", 0), 0u);
  EXPECT_GT(created.size(), (u"Cannot create file \"" + platform::absolutePath(icon) + u"\". ").size());
  EXPECT_FALSE(std::filesystem::exists(outside_ / "0.ico"));

  EXPECT_THROW(TFileStream((image_ / "precious.txt").u16string(), FileMode::OpenOwnReadDenyWrite), EFOpenError);
  TFileStream followed((image_ / "precious.txt").u16string(), FileMode::OpenReadDenyWrite);
  EXPECT_EQ(followed.Size(), 8);

  testsupport::removePlanted(image_);
  std::filesystem::create_directory(image_);
  TFileStream(icon, FileMode::CreateExclusive).WriteBuffer("icon", 4);
  EXPECT_EQ(TFileStream(icon, FileMode::OpenOwnReadDenyWrite).Size(), 4);
}

// The file itself a link, to an existing file or to none (dangling): the create fails before it
// truncates or makes anything, the read-back fails; the catalogue's kind of read follows it.
TEST_F(FileStreamLinkTest, LinkedFileIsRefusedForOwnFilesAndItsTargetKept) {
  std::filesystem::create_directory(image_);
  const std::filesystem::path icon = image_ / "0.ico";
  if (!plant(outside_ / "precious.txt", icon)) {
    GTEST_SKIP() << "this system shows a symbolic link to a file as the file itself (Wine 8 does), so no "
                    "program on it can tell the two apart";
  }
  EXPECT_THROW(TFileStream(icon.u16string(), FileMode::CreateExclusive), EFCreateError);
  EXPECT_EQ(readFileBytes(outside_ / "precious.txt"), "precious");
  EXPECT_THROW(TFileStream(icon.u16string(), FileMode::OpenOwnReadDenyWrite), EFOpenError);
  EXPECT_EQ(TFileStream(icon.u16string(), FileMode::OpenReadDenyWrite).Size(), 8);

  const std::filesystem::path dangling = image_ / "1.ico";
  ASSERT_TRUE(plant(outside_ / "made-through-the-link.ico", dangling));
  EXPECT_THROW(TFileStream(dangling.u16string(), FileMode::CreateExclusive), EFCreateError);
  EXPECT_FALSE(std::filesystem::exists(outside_ / "made-through-the-link.ico"));
}

}  // namespace
}  // namespace rt

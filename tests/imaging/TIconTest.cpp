// The icon object: handle ownership through the shared image, saving to files, the cached bytes,
// and what a failed save leaves behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "imaging/EInvalidGraphic.h"
#include "imaging/TIcon.h"
#include "platform/NativeFile.h"
#include "platform/ProgramFolder.h"
#include "runtime/Exception.h"
#include "runtime/TFileStream.h"
#include "runtime/Text.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/ErrorMessage.h"
#include "tests/support/PlantedFiles.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using imaging::TIcon;
using testsupport::messageOf;
using testsupport::readFileBytes;
using testsupport::TempFolder;

namespace {

// The system's text for why `path` cannot be created now.
std::u16string systemTextForCreating(const std::u16string& path) {
  platform::FileError error;
  platform::NativeFile::createAlways(path, error);
  return error.text;
}

}  // namespace

// Each assigned handle gets its own image, which destroys its handle when it goes.
TEST(TIcon, HandleOwnershipFollowsTheSharedImage) {
  const std::size_t icons = testsupport::liveIconCount();
  const std::size_t bitmaps = testsupport::liveBitmapCount();
  {
    TIcon icon;
    EXPECT_EQ(icon.Handle(), nullptr);
    icon.AssignHandle(pictureIcon(32, 16));
    EXPECT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.Height(), 16);
    EXPECT_EQ(testsupport::liveIconCount(), icons + 1);

    icon.AssignHandle(pictureIcon());  // the first handle goes with its image
    EXPECT_EQ(testsupport::liveIconCount(), icons + 1);
    icon.AssignHandle(nullptr);
    EXPECT_EQ(testsupport::liveIconCount(), icons);
    EXPECT_EQ(icon.Width(), 0);

    // A monochrome icon's size is the upper half of its mask. (An icon whose bitmaps cannot be
    // had: PosixIconFaultTest.cpp.)
    icon.AssignHandle(iconOf(nullptr, maskBitmap(32, 64, pictureMask)));
    EXPECT_EQ(icon.Width(), 32);
    EXPECT_EQ(icon.Height(), 32);
  }
  EXPECT_EQ(testsupport::liveIconCount(), icons);  // freeing the object destroys the last one
  EXPECT_EQ(testsupport::liveBitmapCount(), bitmaps);
}

// Saving writes exactly the built bytes, replaces an existing file, and a second save of the same
// image writes the cached bytes again.
TEST(TIcon, SaveWritesReplacesAndCaches) {
  TempFolder folder;
  const std::u16string first = folder.file("0.ico");
  const std::u16string second = folder.file("1.ico");
  testsupport::writeFileBytes(pathOf(first), std::string(20000, 'x'));

  TIcon icon;
  const platform::IconHandle handle = pictureIcon();
  const std::string expected = buildBytes(handle);
  icon.AssignHandle(handle);
  icon.SaveIconFile(first);
  EXPECT_EQ(readFileBytes(pathOf(first)), expected);

  const rt::TMemoryStream* cached = icon.Image()->MemoryImage();
  ASSERT_NE(cached, nullptr);
  icon.SaveIconFile(second);
  EXPECT_EQ(icon.Image()->MemoryImage(), cached);
  EXPECT_EQ(readFileBytes(pathOf(second)), expected);

  // A new handle starts a new image: the next file holds the new icon, not the cached one.
  icon.AssignHandle(iconOf(nullptr, maskBitmap(48, 96, pictureMask)));
  icon.SaveIconFile(second);
  EXPECT_EQ(readFileBytes(pathOf(second)).size(), 838u);
}

// An icon that cannot be written raises before the file is touched: no empty file appears and an
// existing file keeps its contents. (Icons with unreadable bitmaps: PosixIconFaultTest.cpp.)
TEST(TIcon, InvalidIconsLeaveThePathAlone) {
  TempFolder folder;
  const std::u16string fresh = folder.file("fresh.ico");
  const std::u16string existing = folder.file("existing.ico");
  testsupport::writeFileBytes(pathOf(existing), "earlier icon");

  TIcon empty;
  EXPECT_EQ(messageOf([&] { empty.SaveIconFile(fresh); }), u"Icon image is not valid");
  EXPECT_FALSE(std::filesystem::exists(pathOf(fresh)));

  EXPECT_THROW(empty.SaveIconFile(existing), imaging::EInvalidGraphic);
  EXPECT_EQ(readFileBytes(pathOf(existing)), "earlier icon");
}

// A file that cannot be created gives the create error with the absolute path and the system's
// text (each platform's own: asked of the file seam, which the save goes through); a file held by
// someone else keeps its contents, and a later save succeeds.
TEST(TIcon, CreateErrors) {
  TempFolder folder;
  const std::u16string held = folder.file("held.ico");
  TIcon icon;
  icon.AssignHandle(pictureIcon());
  {
    rt::TFileStream holder(held, rt::FileMode::CreateExclusive);
    holder.WriteBuffer("holder", 6);
    const std::u16string refusal = systemTextForCreating(held);
    EXPECT_FALSE(refusal.empty());
    EXPECT_EQ(messageOf([&] { icon.SaveIconFile(held); }), u"Cannot create file \"" + held + u"\". " + refusal);
    EXPECT_THROW(icon.SaveIconFile(held), rt::EFCreateError);
  }
  EXPECT_EQ(readFileBytes(pathOf(held)), "holder");  // read once the holder, who shares nothing, is gone
  icon.SaveIconFile(held);
  EXPECT_EQ(readFileBytes(pathOf(held)).size(), 9662u);

  // Relative paths are reported made absolute; a missing folder gives the system's own text.
  const std::u16string relative = std::u16string(u"missing") + platform::pathSeparator() + u"0.ico";
  const std::u16string absolute = folder.file("missing") + platform::pathSeparator() + u"0.ico";
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  const std::u16string message = messageOf([&] { icon.SaveIconFile(relative); });
  std::filesystem::current_path(saved);
  const std::u16string missing = systemTextForCreating(absolute);
  EXPECT_FALSE(missing.empty());
  EXPECT_EQ(message, u"Cannot create file \"" + absolute + u"\". " + missing);
}

// An image folder that is a link to somewhere else is an error of the save exactly as a folder
// that cannot be written: the create error with the system's text for it, no file written through
// the link, and no empty file left anywhere.
TEST(TIcon, LinkedImageFolderIsACreateError) {
  TempFolder folder;
  std::filesystem::create_directory(folder.path() / "elsewhere");
  const testsupport::RemovedAtEnd link(folder.path() / "image");
  ASSERT_TRUE(testsupport::makeSymbolicLink(folder.path() / "elsewhere", folder.path() / "image"));
  ASSERT_TRUE(testsupport::systemShowsLink(folder.path() / "image"));
  const std::u16string path = folder.file("image") + platform::pathSeparator() + u"0.ico";
  TIcon icon;
  icon.AssignHandle(pictureIcon());
  const std::u16string refusal = systemTextForCreating(path);
  EXPECT_FALSE(refusal.empty());
  EXPECT_EQ(messageOf<rt::EFCreateError>([&] { icon.SaveIconFile(path); }), u"Cannot create file \"" + path + u"\". " + refusal);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path() / "elsewhere"));
}

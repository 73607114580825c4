// The icon object: an image per assignment, saving to files, the cached bytes, and what a failed
// save leaves behind.
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

// Each assignment starts its own image, sized by its colour bitmap (a monochrome icon by the
// upper half of its mask); bitmaps the platform could not hand out give 0 x 0.
TEST(TIcon, EachAssignmentStartsItsOwnImage) {
  TIcon icon;
  EXPECT_FALSE(icon.Image()->Bitmaps());
  icon.AssignImage(pictureBitmaps(32, 16));
  const std::shared_ptr<imaging::TIconImage> first = icon.Image();
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(icon.Height(), 16);
  icon.AssignImage(monochromeOf(32, 64, pictureMask));
  EXPECT_NE(icon.Image(), first);
  EXPECT_EQ(first.use_count(), 1);  // the icon let go of the first image
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(icon.Height(), 32);
  icon.AssignImage({});
  EXPECT_EQ(icon.Width(), 0);
  EXPECT_EQ(icon.Height(), 0);
}

// Saving writes exactly the built bytes, replaces an existing file, and a second save of the same
// image writes the cached bytes again.
TEST(TIcon, SaveWritesReplacesAndCaches) {
  TempFolder folder;
  const std::u16string first = folder.file("0.ico");
  const std::u16string second = folder.file("1.ico");
  testsupport::writeFileBytes(pathOf(first), std::string(20000, 'x'));

  TIcon icon;
  const std::string expected = build(pictureBitmaps());
  icon.AssignImage(pictureBitmaps());
  icon.SaveIconFile(first);
  EXPECT_EQ(readFileBytes(pathOf(first)), expected);

  const std::vector<std::uint8_t>* cached = icon.Image()->MemoryImage();
  ASSERT_NE(cached, nullptr);
  icon.SaveIconFile(second);
  EXPECT_EQ(icon.Image()->MemoryImage(), cached);
  EXPECT_EQ(readFileBytes(pathOf(second)), expected);

  // A new assignment starts a new image: the next file holds the new icon, not the cached one.
  icon.AssignImage(monochromeOf(48, 96, pictureMask));
  icon.SaveIconFile(second);
  EXPECT_EQ(readFileBytes(pathOf(second)).size(), 838u);
}

// An icon that cannot be written raises before the file is touched: no empty file appears, an
// existing file keeps its contents, nothing is cached and the object keeps its image.
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

  TIcon unreadable;
  unreadable.AssignImage({});  // bitmaps the platform would not hand out
  for (const std::u16string& path : {fresh, existing})
    EXPECT_EQ(messageOf([&] { unreadable.SaveIconFile(path); }), u"Bitmap image is not valid");
  EXPECT_FALSE(std::filesystem::exists(pathOf(fresh)));
  EXPECT_EQ(readFileBytes(pathOf(existing)), "earlier icon");
  EXPECT_EQ(unreadable.Image()->MemoryImage(), nullptr);
  EXPECT_TRUE(unreadable.Image()->Bitmaps());
}

// A file that cannot be created gives the create error with the absolute path and the system's
// text (each platform's own: asked of the file seam, which the save goes through); a file held by
// someone else keeps its contents, and a later save succeeds.
TEST(TIcon, CreateErrors) {
  TempFolder folder;
  const std::u16string held = folder.file("held.ico");
  TIcon icon;
  icon.AssignImage(pictureBitmaps());
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
  icon.AssignImage(pictureBitmaps());
  const std::u16string refusal = systemTextForCreating(path);
  EXPECT_FALSE(refusal.empty());
  EXPECT_EQ(messageOf<rt::EFCreateError>([&] { icon.SaveIconFile(path); }), u"Cannot create file \"" + path + u"\". " + refusal);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path() / "elsewhere"));
}

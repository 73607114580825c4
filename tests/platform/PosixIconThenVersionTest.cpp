// The pass opens a row's executable once and reads its icon and then its version from it, so both
// come from the one file even when another is renamed over its path in between; the file is
// closed when the pass drops the executable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cstdint>

#include "platform/NativeFile.h"
#include "platform/Executable.h"
#include "tests/support/PeWriter.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VersionNumbers.h"

namespace {

using platform::Executable;
using Words = testsupport::VersionNumbers;

using testsupport::versionNumbers;

constexpr std::uint32_t kIcon = 3, kGroup = 14, kVersion = 16;

// An executable with one 48x48 icon and the version major.minor.0.0; `extra` bytes of filler
// change its length.
void writeExecutable(const std::filesystem::path& path, std::uint16_t major, std::uint16_t minor,
                     std::uint32_t extra = 0) {
  testsupport::PeWriter pe;
  pe.add(kIcon, 1,
         testsupport::bmpIconImage(48, 48, 32, {}, std::vector<std::uint32_t>(48 * 48, 0xFF000000u | major)));
  pe.add(kGroup, 1, testsupport::iconGroup({{48, 48, 0, 1, 32, 0, 1}}));
  pe.add(kVersion, 1, testsupport::versionResource(std::uint32_t{major} << 16 | minor, 0, u"x"));
  if (extra != 0) pe.setFiller(extra);
  pe.writeTo(path);
}

// Whether a writer that keeps everyone else out can open `path` now (it cannot while the reader
// still holds the file). The writer empties the file.
bool nobodyHolds(const std::u16string& path) {
  platform::FileError error;
  return platform::NativeFile::createAlways(path, error).isOpen();
}

// Each executable answers from its own file, and while it is held a writer that refuses sharing
// cannot have the file; once dropped, nothing stays open, with or without an icon.
TEST(IconThenVersion, EachExecutableReadsItsOwnFileAndClosesItWhenDropped) {
  testsupport::TempFolder folder;
  writeExecutable(folder.path() / "a.exe", 1, 2);
  writeExecutable(folder.path() / "b.exe", 3, 4);
  const auto a = folder.file("a.exe"), b = folder.file("b.exe");
  {
    const Executable first(a), second(b);
    ASSERT_TRUE(first.iconBitmaps48());
    EXPECT_EQ(versionNumbers(second), (Words{3, 4, 0, 0}));
    EXPECT_EQ(versionNumbers(first), (Words{1, 2, 0, 0}));
    EXPECT_EQ(versionNumbers(first), (Words{1, 2, 0, 0}));
    EXPECT_FALSE(nobodyHolds(a));
  }
  EXPECT_TRUE(nobodyHolds(a));

  testsupport::PeWriter pe;
  pe.add(kVersion, 1, testsupport::versionResource(0x00050006, 0x00070008, u"5.6.7.8"));
  pe.writeTo(folder.path() / "plain.exe");  // a version, but no icon
  { EXPECT_FALSE(Executable(folder.file("plain.exe")).iconBitmaps48()); }
  EXPECT_TRUE(nobodyHolds(folder.file("plain.exe")));
}

TEST(IconThenVersion, TheVersionComesFromTheFileTheIconCameFrom) {
  testsupport::TempFolder folder;
  const auto path = folder.file("app.exe");

  // Replaced by another file under the same name: the version is still the first file's.
  writeExecutable(folder.path() / "app.exe", 1, 1);
  {
    const Executable executable(path);
    ASSERT_TRUE(executable.iconBitmaps48());
    writeExecutable(folder.path() / "new.exe", 2, 2);
    std::filesystem::rename(folder.path() / "new.exe", folder.path() / "app.exe");
    EXPECT_EQ(versionNumbers(executable), (Words{1, 1, 0, 0}));
  }
  EXPECT_EQ(versionNumbers(Executable(path)), (Words{2, 2, 0, 0}));  // opened again, the path's file now

  // Removed: the file the icon came from still answers.
  {
    const Executable executable(path);
    ASSERT_TRUE(executable.iconBitmaps48());
    std::filesystem::remove(folder.path() / "app.exe");
    EXPECT_EQ(versionNumbers(executable), (Words{2, 2, 0, 0}));
  }
  EXPECT_FALSE(versionNumbers(Executable(path)));

  // Rewritten in place, longer, by a writer that ignores the shared lock: the held descriptor is
  // read within the length it was opened with, partly from the pieces the icon read already
  // holds, so the answer is the first file's version or none, never the new file's version
  // beside the old file's icon.
  writeExecutable(folder.path() / "app.exe", 3, 3);
  {
    const Executable executable(path);
    ASSERT_TRUE(executable.iconBitmaps48());
    writeExecutable(folder.path() / "app.exe", 4, 4, 4096);
    const auto mixed = versionNumbers(executable);
    EXPECT_TRUE(!mixed || *mixed == (Words{3, 3, 0, 0}));
  }
  EXPECT_EQ(versionNumbers(Executable(path)), (Words{4, 4, 0, 0}));
}

// A file that cannot be held for reading (a writer holds its lock) has no icon and no version.
TEST(IconThenVersion, AFileThatCannotBeHeldHasNoIcon) {
  testsupport::TempFolder folder;
  writeExecutable(folder.path() / "app.exe", 1, 2);
  const auto path = folder.file("app.exe");
  const int writer = ::open((folder.path() / "app.exe").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);
  {
    const Executable executable(path);
    EXPECT_FALSE(executable.isOpen());
    EXPECT_FALSE(executable.iconBitmaps48());
    EXPECT_FALSE(versionNumbers(executable));
  }
  ::close(writer);
  const Executable executable(path);
  ASSERT_TRUE(executable.iconBitmaps48());
  EXPECT_EQ(versionNumbers(executable), (Words{1, 2, 0, 0}));
}

}  // namespace

// The Windows icon and version calls over hostile files, and the executable held for a row's icon
// and version reads: the system's parsers see only files the shared checks passed, and the file
// cannot be replaced, deleted or written while the executable is held.
#include <gtest/gtest.h>

#include "platform/Executable.h"
#include "platform/win32/Win32Text.h"
#include "tests/support/HostileExecutables.h"
#include "tests/support/PeWriter.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr int kSide = 48;

bool hasIcon(const std::u16string& path) { return platform::Executable(path).iconBitmaps48().has_value(); }

std::uint32_t mostSignificant(const platform::Executable& executable) {
  const auto words = executable.fileVersionWords();
  return words ? words->mostSignificant : 0;
}

bool renameOver(const std::u16string& from, const std::u16string& to) {
  return MoveFileExW(platform::win32::wide(from), platform::win32::wide(to), MOVEFILE_REPLACE_EXISTING) != 0;
}
bool deleteFile(const std::u16string& path) { return DeleteFileW(platform::win32::wide(path)) != 0; }
bool openForWriting(const std::u16string& path) {
  const HANDLE file = CreateFileW(platform::win32::wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

void writeExecutable(const testsupport::TempFolder& folder, const char* name, std::uint32_t versionHigh) {
  testsupport::writeIconExecutable(folder.path() / name, kSide, std::vector<std::uint32_t>(kSide * kSide, 0xFF102030u),
                                   versionHigh, 0, u"x");
}

}  // namespace

// Each hostile kind, followed by a good file as a pass would meet them: no icon where the icon is
// damaged, "no version" where the version is, the good parts of a file still read, and the good
// file after it read in full. Reaching the end at all shows nothing crashed.
TEST(Win32HeldExecutable, HostileFilesGiveNoIconOrNoVersionAndTheNextFileIsRead) {
  const testsupport::TempFolder folder;
  testsupport::writeFileBytes(folder.path() / "good.exe", testsupport::goodExecutable());
  for (const testsupport::HostileFile& file : testsupport::hostileFiles()) {
    testsupport::writeFileBytes(folder.path() / file.fileName, file.bytes);
    const std::u16string path = folder.file(file.fileName);
    EXPECT_EQ(hasIcon(path), !file.badIcon) << file.what;
    const auto words = platform::Executable(path).fileVersionWords();
    if (file.badVersion) {
      EXPECT_FALSE(words.has_value()) << file.what;
    }

    EXPECT_TRUE(hasIcon(folder.file("good.exe"))) << "after " << file.what;
    EXPECT_EQ(mostSignificant(platform::Executable(folder.file("good.exe"))), 0x00010002u) << "after " << file.what;
  }
}

// While the executable is held it cannot be renamed over, deleted or written, so the version is
// that of the file the icon came from; once it is dropped the file is free again. A file without
// an icon is held as well, and free once dropped.
TEST(Win32HeldExecutable, TheExecutableIsHeldUntilItIsDropped) {
  const testsupport::TempFolder folder;
  writeExecutable(folder, "app.exe", 0x00010001);
  writeExecutable(folder, "other.exe", 0x00020002);
  const std::u16string app = folder.file("app.exe"), other = folder.file("other.exe");
  {
    const platform::Executable executable(app);
    ASSERT_TRUE(executable.iconBitmaps48());
    EXPECT_FALSE(renameOver(other, app));
    EXPECT_FALSE(deleteFile(app));
    EXPECT_FALSE(openForWriting(app));
    EXPECT_EQ(mostSignificant(executable), 0x00010001u);
  }
  EXPECT_TRUE(renameOver(other, app));
  EXPECT_EQ(mostSignificant(platform::Executable(app)), 0x00020002u);

  testsupport::PeWriter bare;
  bare.omitResourceDirectory();
  bare.writeTo(folder.path() / "bare.exe");
  {
    const platform::Executable executable(folder.file("bare.exe"));
    EXPECT_FALSE(executable.iconBitmaps48());
    EXPECT_FALSE(deleteFile(folder.file("bare.exe")));
  }
  EXPECT_TRUE(deleteFile(folder.file("bare.exe")));
  EXPECT_TRUE(openForWriting(app));
  EXPECT_TRUE(deleteFile(app));
}

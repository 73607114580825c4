// Open files on Windows: the two sharing modes of CreateFileW as other openers see them, with
// GetLastError's numbers and the system's texts, devices refused, and positions kept by readAt
// and truncate.
#include <gtest/gtest.h>

#include "platform/NativeFile.h"
#include "tests/support/TempFolder.h"

using platform::FileError;
using platform::NativeFile;

namespace {

constexpr int kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr int kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
constexpr int kAccessDenied = 5;       // ERROR_ACCESS_DENIED

}  // namespace

// "No sharing" keeps everyone out, and a create that is refused leaves the file as it was;
// readers let other readers in but not a writer.
TEST(Win32NativeFile, SharingModesRefuseOtherOpenersWithTheSystemsNumberAndText) {
  const testsupport::TempFolder folder;
  const std::u16string path = folder.file("0.ico");
  FileError error;
  {
    NativeFile writer = NativeFile::createAlways(path, error);
    ASSERT_TRUE(writer.isOpen());
    ASSERT_EQ(writer.write("icon", 4), 4);
    FileError refused;
    EXPECT_FALSE(NativeFile::openReadDenyWrite(path, refused).isOpen());
    EXPECT_EQ(refused.code, kSharingViolation);
    EXPECT_FALSE(refused.text.empty());
    EXPECT_NE(refused.text.back(), u'.');
    EXPECT_NE(refused.text.back(), u'\n');
  }
  NativeFile reader = NativeFile::openReadDenyWrite(path, error);
  ASSERT_TRUE(reader.isOpen());
  NativeFile secondReader = NativeFile::openReadDenyWrite(path, error);
  EXPECT_TRUE(secondReader.isOpen());
  FileError refused;
  EXPECT_FALSE(NativeFile::createAlways(path, refused).isOpen());
  EXPECT_EQ(refused.code, kSharingViolation);
  EXPECT_EQ(reader.size(), 4);
  char bytes[8] = {};
  EXPECT_EQ(reader.read(bytes, sizeof bytes), 4);
  EXPECT_EQ(std::string(bytes, 4), "icon");
}

// A missing file and a folder cannot be opened for reading; the codes are the system's.
TEST(Win32NativeFile, MissingFilesAndFoldersAreNotOpened) {
  const testsupport::TempFolder folder;
  FileError error;
  EXPECT_FALSE(NativeFile::openReadDenyWrite(folder.file("missing.ico"), error).isOpen());
  EXPECT_EQ(error.code, kFileNotFound);
  EXPECT_FALSE(error.text.empty());
  error = {};
  EXPECT_FALSE(NativeFile::openReadDenyWrite(folder.file(""), error).isOpen());
  EXPECT_NE(error.code, 0);
  error = {};
  EXPECT_FALSE(NativeFile::createAlways(folder.file("no-folder\\0.ico"), error).isOpen());
  EXPECT_NE(error.code, 0);
}

// A device named as the file to read is refused at once, as anything but a file on disk is.
TEST(Win32NativeFile, DevicesAreNotOpenedForReading) {
  FileError error;
  EXPECT_FALSE(NativeFile::openReadDenyWrite(u"NUL", error).isOpen());
  EXPECT_EQ(error.code, kAccessDenied);
  EXPECT_FALSE(error.text.empty());
}

// readAt and truncate leave the file position where it was; create-always empties an old file.
TEST(Win32NativeFile, ReadAtAndTruncateKeepThePosition) {
  const testsupport::TempFolder folder;
  const std::u16string path = folder.file("data.bin");
  FileError error;
  NativeFile file = NativeFile::createAlways(path, error);
  ASSERT_TRUE(file.isOpen());
  ASSERT_EQ(file.write("0123456789", 10), 10);
  ASSERT_EQ(file.seek(2, 0), 2);
  char bytes[4] = {};
  EXPECT_EQ(file.readAt(6, bytes, 4), 4);
  EXPECT_EQ(std::string(bytes, 4), "6789");
  EXPECT_EQ(file.readAt(9, bytes, 4), 1);
  EXPECT_EQ(file.readAt(20, bytes, 4), 0);
  EXPECT_EQ(file.seek(0, 1), 2);
  EXPECT_TRUE(file.truncate(5));
  EXPECT_EQ(file.size(), 5);
  EXPECT_EQ(file.seek(0, 1), 2);
  EXPECT_EQ(file.read(bytes, 4), 3);
  EXPECT_EQ(file.read(bytes, 4), 0);
  file.close();

  NativeFile again = NativeFile::createAlways(path, error);
  ASSERT_TRUE(again.isOpen());
  EXPECT_EQ(again.size(), 0);
}

// Memory, string and file streams.
#include <gtest/gtest.h>

#include "platform/NativeFile.h"
#include "platform/ProgramFolder.h"
#include "platform/TextCodePage.h"
#include "runtime/Exception.h"
#include "runtime/TFileStream.h"
#include "tests/support/BytesStream.h"
#include "tests/support/TempFolder.h"

using namespace rt;

// Writing one byte at a time grows capacity geometrically: few reallocations for many bytes.
TEST(MemoryStream, GrowsGeometricallyAndReadsBack) {
  TMemoryStream stream;
  int growths = 0;
  std::int64_t capacity = 0;
  for (int i = 0; i < 100000; ++i) {
    const auto b = static_cast<std::uint8_t>(i);
    stream.WriteBuffer(&b, 1);
    if (stream.Capacity() != capacity) ++growths, capacity = stream.Capacity();
  }
  EXPECT_LT(growths, 40);
  EXPECT_EQ(stream.Size(), 100000);
  stream.SetPosition(99998);
  std::uint8_t tail[4] = {};
  EXPECT_EQ(stream.Read(tail, 4), 2);
  EXPECT_EQ(tail[0], static_cast<std::uint8_t>(99998));
}

// Seeking past the end and writing fills the gap with zeros; SetSize truncates.
TEST(MemoryStream, SeekPastEndAndResize) {
  TMemoryStream stream;
  stream.Seek(3, SeekOrigin::Beginning);
  stream.WriteBuffer("x", 1);
  ASSERT_EQ(stream.Size(), 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), 4), std::string("\0\0\0x", 4));
  stream.SetSize(2);
  EXPECT_EQ(stream.Size(), 2);
  EXPECT_EQ(stream.Position(), 2);
}

// The text is the bytes read in the system's ANSI code page: UTF-8 on Linux, so "é" comes back
// whole there; a Windows code page such as 1252 reads its two bytes as two characters.
TEST(StringStream, OffersBytesAndText) {
  testsupport::BytesStream stream("{\"success\":true,\"n\":\"\xc3\xa9\"}");
  EXPECT_EQ(stream.Position(), 0);
  EXPECT_EQ(stream.DataString().size(), 25u);
  EXPECT_EQ(stream.DataText(), u"{\"success\":true,\"n\":\"" + platform::fromAnsi("\xc3\xa9") + u"\"}");
}

// Create-always truncates an existing file; a file held by another no-sharing stream is refused
// with the absolute path and the system's text, and keeps its contents.
TEST(FileStream, CreateTruncatesAndRefusesAHeldFile) {
  testsupport::TempFolder folder;
  const auto path = folder.file("a.ico");
  testsupport::writeFileBytes(folder.path() / "a.ico", "old contents");
  {
    TFileStream first(path, FileMode::CreateExclusive);
    first.WriteBuffer("new", 3);
    try {
      TFileStream second(path, FileMode::CreateExclusive);
      FAIL() << "a held file was opened";
    } catch (const EFCreateError& error) {
      EXPECT_EQ(error.Message().rfind(u"Cannot create file \"" + path + u"\". ", 0), 0u);
    }
    EXPECT_THROW(TFileStream(path, FileMode::OpenReadDenyWrite), EFOpenError);
  }
  EXPECT_EQ(testsupport::readFileBytes(folder.path() / "a.ico"), "new");
}

// A file that does not exist yet is created empty; the size of a file stream is the file's
// length, and asking for it leaves the position where it was.
TEST(FileStream, CreatesAFreshFileAndTellsItsSize) {
  testsupport::TempFolder folder;
  const auto path = folder.file("fresh.ico");
  {
    TFileStream stream(path, FileMode::CreateExclusive);
    EXPECT_EQ(stream.Size(), 0);
    stream.WriteBuffer("abcdef", 6);
    stream.Seek(2, SeekOrigin::Beginning);
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(stream.Position(), 2);
  }
  EXPECT_EQ(testsupport::readFileBytes(folder.path() / "fresh.ico"), "abcdef");
}

// The position moves with every read and write and with seeks from each origin; writing past the
// end leaves zeros in the gap; a seek before the start is refused and moves nothing.
TEST(FileStream, PositionFollowsReadsWritesAndSeeks) {
  testsupport::TempFolder folder;
  const auto path = folder.file("p.bin");
  {
    TFileStream stream(path, FileMode::CreateExclusive);
    stream.WriteBuffer("abcdef", 6);
    EXPECT_EQ(stream.Seek(-4, SeekOrigin::Current), 2);
    stream.WriteBuffer("XY", 2);
    EXPECT_EQ(stream.Position(), 4);
    EXPECT_EQ(stream.Seek(2, SeekOrigin::End), 8);
    stream.WriteBuffer("!", 1);
    EXPECT_EQ(stream.Size(), 9);
    EXPECT_EQ(stream.Seek(-1, SeekOrigin::Beginning), -1);
    EXPECT_EQ(stream.Position(), 9);
    stream.Seek(1, SeekOrigin::Beginning);
    char two[2] = {};
    EXPECT_EQ(stream.Read(two, 2), 2);
    EXPECT_EQ(std::string(two, 2), "bX");
    EXPECT_EQ(stream.Position(), 3);
  }
  EXPECT_EQ(testsupport::readFileBytes(folder.path() / "p.bin"), std::string("abXYef\0\0!", 9));
  TFileStream reader(path, FileMode::OpenReadDenyWrite);
  char last[4] = {};
  EXPECT_EQ(reader.Seek(-3, SeekOrigin::End), 6);
  EXPECT_EQ(reader.Read(last, 4), 3);
  EXPECT_EQ(std::string(last, 3), std::string("\0\0!", 3));
  EXPECT_EQ(reader.Read(last, 4), 0);
}

// Readers share a file with each other but keep writers out.
TEST(FileStream, ReadersShareAndKeepWritersOut) {
  testsupport::TempFolder folder;
  const auto path = folder.file("b.bin");
  testsupport::writeFileBytes(folder.path() / "b.bin", "0123456789");
  TFileStream reader(path, FileMode::OpenReadDenyWrite);
  TFileStream another(path, FileMode::OpenReadDenyWrite);
  EXPECT_EQ(reader.Size(), 10);
  EXPECT_THROW(TFileStream(path, FileMode::CreateExclusive), EFCreateError);
  char buffer[4] = {};
  reader.Seek(6, SeekOrigin::Beginning);
  EXPECT_EQ(reader.Read(buffer, 8), 4);
  EXPECT_EQ(std::string(buffer, 4), "6789");
}

// A file in a missing folder: the absolute path and the system's own text (asked of the file seam,
// which the stream opens through).
TEST(FileStream, MissingFileNamesTheAbsolutePath) {
  testsupport::TempFolder folder;
  const auto path = folder.file("none") + platform::pathSeparator() + u"x.ico";
  platform::FileError expected;
  platform::NativeFile::openReadDenyWrite(path, expected);
  EXPECT_FALSE(expected.text.empty());
  try {
    TFileStream stream(path, FileMode::OpenReadDenyWrite);
    FAIL();
  } catch (const EFOpenError& error) {
    EXPECT_EQ(error.Message(), u"Cannot open file \"" + path + u"\". " + expected.text);
  }
}

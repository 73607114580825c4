// Reads from a file through the reader's byte source: whatever the mix of small and large reads,
// each returns exactly the file's bytes at its offset.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/NativeFile.h"
#include "platform/executable/ByteSource.h"
#include "tests/support/TempFolder.h"

namespace {

using platform::executable::FileByteSource;

constexpr std::size_t kPage = 4096;

FileByteSource openFile(const testsupport::TempFolder& folder, const std::string& name) {
  platform::FileError error;
  return FileByteSource(platform::NativeFile::openReadDenyWrite(folder.file(name), error));
}

// Pieces jumping back and forth across page boundaries, pieces of every size around a page's,
// pieces ending exactly at the end of the file, and refused ranges past it; files smaller and
// larger than a page.
TEST(FileByteSource, EveryReadReturnsTheFilesBytes) {
  testsupport::TempFolder folder;
  for (const std::size_t length : {std::size_t {700}, std::size_t {3 * kPage + 123}}) {
    std::string content(length, '\0');
    for (std::size_t i = 0; i < length; ++i) content[i] = static_cast<char>(i * 131 + i / 251);
    testsupport::writeFileBytes(folder.path() / "data.bin", content);
    const FileByteSource source = openFile(folder, "data.bin");
    ASSERT_EQ(source.size(), length);

    unsigned seed = 3;
    for (int n = 0; n < 2000; ++n) {
      seed = seed * 1103515245u + 12345u;
      const std::uint64_t offset = (seed >> 8) % (length + 2);
      seed = seed * 1103515245u + 12345u;
      const std::size_t sizes[] = {1, 8, 511, 512, kPage - 1, kPage, kPage + 1, offset <= length ? length - offset : 1};
      const std::size_t count = sizes[(seed >> 8) % 8];
      std::vector<std::uint8_t> out(count);
      const bool inside = offset <= length && count <= length - offset;
      ASSERT_EQ(source.readAt(offset, out), inside) << offset << "+" << count;
      if (inside) {
        ASSERT_EQ(std::string(out.begin(), out.end()), content.substr(offset, count)) << offset << "+" << count;
      }
    }
  }
}

// A file cut short after it was opened: a piece that is still there is read, one that is gone
// is refused.
TEST(FileByteSource, FileCutShortAfterOpening) {
  testsupport::TempFolder folder;
  std::string content(2 * kPage, 'x');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 253);
  testsupport::writeFileBytes(folder.path() / "data.bin", content);
  const FileByteSource source = openFile(folder, "data.bin");
  std::filesystem::resize_file(folder.path() / "data.bin", 1000);
  std::vector<std::uint8_t> out(16);
  ASSERT_TRUE(source.readAt(900, out));
  EXPECT_EQ(std::string(out.begin(), out.end()), content.substr(900, 16));
  EXPECT_FALSE(source.readAt(990, out));
  EXPECT_FALSE(source.readAt(5000, out));
}

}  // namespace

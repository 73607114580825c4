// Where the reader of executables gets its bytes: an open file read with positioned reads, or a
// block of memory (the fuzz target and tests). Every read names its offset and length and is
// refused when the range does not lie wholly inside the source. Shared by both platform layers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/NativeFile.h"

namespace platform::executable {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Total length in bytes.
  virtual std::uint64_t size() const = 0;
  // Fills `out` with the `out.size()` bytes at `offset`; false when the range is not wholly inside
  // the source or the read fails.
  virtual bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;

  // The `count` bytes at `offset`, or nothing when they are not all there.
  std::optional<std::vector<std::uint8_t>> bytesAt(std::uint64_t offset, std::uint64_t count) const;

 protected:
  bool contains(std::uint64_t offset, std::uint64_t count) const {
    return offset <= size() && count <= size() - offset;
  }
};

// Another source read through a few blocks kept in memory. The reader asks for many small pieces
// that lie close together (headers, the section table, directory and data entries) and walks the
// same tree again for the version, so a read of at most kBlock bytes is served from the kBlocks
// blocks last used, each filled by one read of kBlock bytes at a multiple of kBlock (less at the
// end of the source); a larger read (an image) goes straight to the source. A block that cannot be
// filled (the file shrank) is not kept, and the piece is then read from the source as asked. The
// source must outlive this one. A row's icon and version reads of a sample executable (three
// images, 17 KB) asked the file 49 times and took 32.6 us of CPU without the blocks, 4 times and
// 12.4 us with them (medians of 7 runs of 20,000 rows). Blocks of 16 KiB asked twice and took
// 11.4 us there, but in the whole pass their 64 KiB, made and freed with every row's file, had
// the heap shrink and grow each row: two page faults a row more, and 4 % more CPU for the pass
// (16 paired runs).
class CachedByteSource final : public ByteSource {
 public:
  static constexpr std::size_t kBlock = 4096;
  static constexpr std::size_t kBlocks = 4;

  explicit CachedByteSource(const ByteSource& inner) : inner_(inner) {}
  CachedByteSource(const CachedByteSource&) = delete;
  CachedByteSource& operator=(const CachedByteSource&) = delete;
  std::uint64_t size() const override { return inner_.size(); }
  bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  struct Block {
    std::uint64_t start = 0;
    std::size_t length = 0;  // 0: empty
    std::uint64_t lastUse = 0;
    std::array<std::uint8_t, kBlock> bytes;
  };
  // The block starting at `start`, read from the source when it is not kept; null when it cannot
  // be read.
  const Block* blockAt(std::uint64_t start) const;

  const ByteSource& inner_;
  mutable std::array<Block, kBlocks> blocks_;
  mutable std::uint64_t uses_ = 0;
};

// A file opened for reading, read with positioned reads (NativeFile::readAt) through a
// CachedByteSource.
class FileByteSource final : public ByteSource {
 public:
  explicit FileByteSource(NativeFile file);
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;
  bool isOpen() const { return direct_.isOpen(); }
  std::uint64_t size() const override { return direct_.size(); }
  bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override { return cached_.readAt(offset, out); }

 private:
  // Each read one positioned read of just the bytes asked for.
  class Direct final : public ByteSource {
   public:
    explicit Direct(NativeFile file);
    bool isOpen() const { return file_.isOpen(); }
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

   private:
    mutable NativeFile file_;
    std::uint64_t size_ = 0;
  };
  Direct direct_;
  CachedByteSource cached_{direct_};
};

// A view of bytes held by the caller, which must outlive the source.
class MemoryByteSource final : public ByteSource {
 public:
  explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace platform::executable

// Where the reader of executables gets its bytes: an open file read with positioned reads, or a
// block of memory (the fuzz target and tests). Every read names its offset and length and is
// refused when the range does not lie wholly inside the source. Shared by both platform layers.
#pragma once

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

// A file opened for reading, each read one positioned read (NativeFile::readAt) of just the
// bytes asked for.
class FileByteSource final : public ByteSource {
 public:
  explicit FileByteSource(NativeFile file);
  bool isOpen() const { return file_.isOpen(); }
  std::uint64_t size() const override { return size_; }
  bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  mutable NativeFile file_;
  std::uint64_t size_ = 0;
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

// A stream over a growable block of memory. Capacity grows geometrically, so writing n bytes one
// at a time costs amortised O(n).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "runtime/TStream.h"

namespace rt {

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override { return size_; }

  // The stored bytes (Size() of them); valid until the next write or resize.
  const std::uint8_t* Memory() const { return data_.get(); }
  std::uint8_t* Memory() { return data_.get(); }
  // The number of stored bytes; the same as Size(), readable through a const stream.
  std::int64_t DataSize() const { return size_; }
  std::int64_t Capacity() const { return capacity_; }
  // Makes room for at least `capacity` bytes without changing the size.
  void Reserve(std::int64_t capacity);

 private:
  // The block comes from malloc/realloc, so that growing a large stream can extend it in place
  // (the C library remaps big blocks) instead of holding the old and the new block at once.
  struct FreeBlock {
    void operator()(std::uint8_t* block) const noexcept { std::free(block); }
  };
  std::unique_ptr<std::uint8_t, FreeBlock> data_;
  std::int64_t capacity_ = 0;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};

}  // namespace rt

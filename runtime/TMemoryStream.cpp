// The memory stream.
#include "runtime/TMemoryStream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace rt {

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_.get() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  const std::int64_t end = position_ + count;
  if (end > capacity_) Reserve(std::max(end, capacity_ + capacity_ / 2 + 64));
  if (position_ > size_) std::memset(data_.get() + size_, 0, static_cast<size_t>(position_ - size_));
  std::memcpy(data_.get() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  size_ = std::max(size_, end);
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Beginning: position_ = offset; break;
    case SeekOrigin::Current: position_ += offset; break;
    case SeekOrigin::End: position_ = size_ + offset; break;
  }
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) size = 0;
  Reserve(size);
  if (size > size_) std::memset(data_.get() + size_, 0, static_cast<size_t>(size - size_));
  size_ = size;
  position_ = std::min(position_, size_);
}

void TMemoryStream::Reserve(std::int64_t capacity) {
  if (capacity <= capacity_) return;
  void* grown = std::realloc(data_.get(), static_cast<size_t>(capacity));
  if (grown == nullptr) throw std::bad_alloc();
  static_cast<void>(data_.release());
  data_.reset(static_cast<std::uint8_t*>(grown));
  capacity_ = capacity;
}

}  // namespace rt

// The byte queue under the I/O handler: received bytes wait here until a line or a count is
// taken out, and a request head is collected here before it is sent in one go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/TNetTextEncoding.h"
#include "runtime/TStream.h"

namespace net {

class TNetBuffer {
 public:
  // The queue never holds more than this many bytes.
  static constexpr std::int64_t kMaxSize = 2147483647;
  // Bytes added beyond the need whenever the array grows.
  static constexpr std::size_t kGrowthStep = 2048;

  explicit TNetBuffer(TNetTextEncoding encoding = TNetTextEncoding::Ascii7) : encoding_(encoding) {}

  std::int64_t Size() const { return static_cast<std::int64_t>(size_); }
  bool Empty() const { return size_ == 0; }
  // The queued bytes, oldest first; valid until the queue changes.
  const std::uint8_t* Data() const { return bytes_.data() + head_; }
  std::string_view View() const { return {reinterpret_cast<const char*>(Data()), size_}; }

  // Appends bytes at the tail. Raises ENetTooMuchDataInBuffer "Too much data in buffer." when
  // the queue would exceed kMaxSize bytes.
  void Write(const void* data, std::size_t count);
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }

  // Makes room for `count` bytes at the tail and returns where they go; CommitWrite(n) then
  // adds the first n of them to the queue. Lets a receive land in the queue without a copy.
  std::uint8_t* PrepareWrite(std::size_t count);
  void CommitWrite(std::size_t count);

  // Takes `count` bytes from the head. Raises ENetNotEnoughDataInBuffer
  // "Not enough data in buffer. (<wanted>/<queued>)" when fewer are queued.
  std::string Extract(std::int64_t count);
  // Takes `count` bytes from the head into `stream` at its position.
  void ExtractToStream(rt::TStream& stream, std::int64_t count);
  // Drops `count` bytes from the head (same error as Extract).
  void Remove(std::int64_t count);
  // Takes `count` bytes from the head and converts them with `encoding`.
  std::u16string ExtractText(std::int64_t count, TNetTextEncoding encoding = TNetTextEncoding::Default);

  // Index of the first occurrence of `bytes` at or after `startPosition`; -1 when there is none.
  std::int64_t IndexOfBytes(std::string_view bytes, std::int64_t startPosition = 0) const;

  void Clear();

  // Called after bytes were taken from the head, with their count.
  std::function<void(std::int64_t)> OnBytesRemoved;

 private:
  void checkAvailable(std::int64_t count) const;
  void consumed(std::size_t count);
  TNetTextEncoding resolve(TNetTextEncoding encoding) const {
    return encoding == TNetTextEncoding::Default ? encoding_ : encoding;
  }

  // Bytes past size_ are only ever written before they are read, so growing the block leaves
  // them uninitialised: a fresh 32 KB receive block is not zero-filled first.
  template <typename T>
  struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
      using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* place) noexcept {
      ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
      ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
  };
  std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>> bytes_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  TNetTextEncoding encoding_;
};

}  // namespace net

// The byte queue: a growable array with a head offset, compacted lazily so that taking bytes
// from the head is cheap and appending rarely moves memory.
#include "http/TNetBuffer.h"

#include <algorithm>
#include <cstring>

#include "http/NetExceptions.h"

namespace net {

void TNetBuffer::Write(const void* data, std::size_t count) {
  if (count == 0) return;
  std::memcpy(PrepareWrite(count), data, count);
  CommitWrite(count);
}

std::uint8_t* TNetBuffer::PrepareWrite(std::size_t count) {
  if (static_cast<std::int64_t>(size_) + static_cast<std::int64_t>(count) > kMaxSize) {
    throw ENetTooMuchDataInBuffer(u"Too much data in buffer.");
  }
  if (head_ + size_ + count > bytes_.size()) {
    if (head_ > 0 && size_ > 0) std::memmove(bytes_.data(), bytes_.data() + head_, size_);
    head_ = 0;
    if (size_ + count > bytes_.size()) bytes_.resize(size_ + count + kGrowthStep);
  }
  return bytes_.data() + head_ + size_;
}

void TNetBuffer::CommitWrite(std::size_t count) { size_ += std::min(count, bytes_.size() - head_ - size_); }

void TNetBuffer::checkAvailable(std::int64_t count) const {
  if (count < 0 || count > Size()) {
    throw ENetNotEnoughDataInBuffer(u"Not enough data in buffer. (" + rt::intToText(count) + u"/" +
                                    rt::intToText(Size()) + u")");
  }
}

// Advances the head; compacts once the dead space at the front is both past the growth step and
// larger than the live bytes (so each byte is moved a bounded number of times), and gives back
// memory a burst of input left behind.
void TNetBuffer::consumed(std::size_t count) {
  head_ += count;
  size_ -= count;
  if (size_ == 0) {
    head_ = 0;
  } else if (head_ > kGrowthStep && head_ >= size_) {
    std::memmove(bytes_.data(), bytes_.data() + head_, size_);
    head_ = 0;
  }
  constexpr std::size_t kSlack = 256 * 1024;
  if (bytes_.size() > head_ + size_ + kSlack) {
    if (head_ > 0 && size_ > 0) std::memmove(bytes_.data(), bytes_.data() + head_, size_);
    head_ = 0;
    bytes_.resize(size_ + kGrowthStep);
    bytes_.shrink_to_fit();
  }
  if (OnBytesRemoved) OnBytesRemoved(static_cast<std::int64_t>(count));
}

std::string TNetBuffer::Extract(std::int64_t count) {
  checkAvailable(count);
  std::string result(reinterpret_cast<const char*>(Data()), static_cast<std::size_t>(count));
  consumed(static_cast<std::size_t>(count));
  return result;
}

void TNetBuffer::ExtractToStream(rt::TStream& stream, std::int64_t count) {
  checkAvailable(count);
  if (count == 0) return;
  stream.WriteBuffer(Data(), count);
  consumed(static_cast<std::size_t>(count));
}

void TNetBuffer::Remove(std::int64_t count) {
  checkAvailable(count);
  consumed(static_cast<std::size_t>(count));
}

std::u16string TNetBuffer::ExtractText(std::int64_t count, TNetTextEncoding encoding) {
  return decodeText(Extract(count), resolve(encoding));
}

std::int64_t TNetBuffer::IndexOfBytes(std::string_view bytes, std::int64_t startPosition) const {
  if (bytes.empty() || startPosition < 0 || startPosition >= Size()) return -1;
  const std::size_t found = View().find(bytes, static_cast<std::size_t>(startPosition));
  return found == std::string_view::npos ? -1 : static_cast<std::int64_t>(found);
}

void TNetBuffer::Clear() {
  const std::size_t dropped = size_;
  head_ = size_ = 0;
  if (bytes_.size() > 64 * 1024) {
    bytes_.clear();
    bytes_.shrink_to_fit();
  }
  if (dropped > 0 && OnBytesRemoved) OnBytesRemoved(static_cast<std::int64_t>(dropped));
}

}  // namespace net

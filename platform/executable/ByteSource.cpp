// Bounded reads from a file or from memory for the reader of executables.
#include "platform/executable/ByteSource.h"

#include <algorithm>

namespace platform::executable {

std::optional<std::vector<std::uint8_t>> ByteSource::bytesAt(std::uint64_t offset, std::uint64_t count) const {
  if (!contains(offset, count)) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
  if (!readAt(offset, bytes)) return std::nullopt;
  return bytes;
}

bool CachedByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!contains(offset, out.size())) return false;
  if (out.size() > kBlock) return inner_.readAt(offset, out);
  // At most two blocks: the piece is no longer than one.
  for (std::size_t done = 0; done < out.size();) {
    const std::uint64_t at = offset + done;
    const Block* block = blockAt(at - at % kBlock);
    if (block == nullptr) return inner_.readAt(offset, out);
    const std::size_t from = static_cast<std::size_t>(at - block->start);
    const std::size_t count = std::min(out.size() - done, block->length - from);
    std::copy_n(block->bytes.begin() + static_cast<std::ptrdiff_t>(from), count, out.begin() + static_cast<std::ptrdiff_t>(done));
    done += count;
  }
  return true;
}

const CachedByteSource::Block* CachedByteSource::blockAt(std::uint64_t start) const {
  Block* oldest = &blocks_[0];
  for (Block& block : blocks_) {
    if (block.length > 0 && block.start == start) {
      block.lastUse = ++uses_;
      return &block;
    }
    if (block.lastUse < oldest->lastUse) oldest = &block;
  }
  oldest->start = start;
  oldest->length = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, inner_.size() - start));
  if (!inner_.readAt(start, std::span(oldest->bytes.data(), oldest->length))) {
    oldest->length = 0;
    oldest->lastUse = 0;
    return nullptr;
  }
  oldest->lastUse = ++uses_;
  return oldest;
}

FileByteSource::FileByteSource(NativeFile file) : direct_(std::move(file)) {}

FileByteSource::Direct::Direct(NativeFile file) : file_(std::move(file)) {
  if (!file_.isOpen()) return;
  const std::int64_t length = file_.size();
  size_ = length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

bool FileByteSource::Direct::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!contains(offset, out.size())) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    const std::int64_t got = file_.readAt(static_cast<std::int64_t>(offset + done), out.data() + done,
                                          static_cast<std::int64_t>(out.size() - done));
    if (got <= 0) return false;  // an error, or the file shrank under us
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool MemoryByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!contains(offset, out.size())) return false;
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
  return true;
}

}  // namespace platform::executable

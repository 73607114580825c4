// Cell storage of result tables: paged 8-byte slots, a null bitmap, and blocks of prefixed text.
#include "catalog/CellStore.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace catalog {
namespace {

// A text slot names its block in the high half and the offset of its length prefix in the low
// half. Ordinary blocks are at most 1 MiB and an oversized text gets a block of its own at
// offset 0, so offsets always fit in 32 bits.
constexpr std::uint64_t textSlot(std::size_t block, std::size_t offset) {
  return (static_cast<std::uint64_t>(block) << 32) | static_cast<std::uint64_t>(offset);
}

// The length prefix: 7 bits per byte, low bits first, high bit set on every byte but the last.
std::size_t prefixSize(std::size_t length) {
  std::size_t size = 1;
  while (length >= 0x80) {
    length >>= 7;
    ++size;
  }
  return size;
}

}  // namespace

void CellStore::appendSlot(std::uint64_t slot, bool null) {
  if (count_ % kPageCells == 0) pages_.push_back(std::make_unique<std::uint64_t[]>(kPageCells));
  pages_.back()[count_ % kPageCells] = slot;
  nulls_.push_back(null);
  ++count_;
}

void CellStore::appendNull() { appendSlot(0, true); }

void CellStore::appendInteger(std::int64_t value) { appendSlot(static_cast<std::uint64_t>(value), false); }

void CellStore::appendReal(double value) { appendSlot(std::bit_cast<std::uint64_t>(value), false); }

CellStore::Block& CellStore::blockWithRoom(std::size_t bytes) {
  if (!blocks_.empty() && blocks_.back().capacity - blocks_.back().used >= bytes) return blocks_.back();
  const std::size_t previous = blocks_.empty() ? kFirstBlockBytes / 2 : blocks_.back().capacity;
  const std::size_t capacity = std::max(std::min(previous * 2, kLargestBlockBytes), bytes);
  blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(capacity), capacity, 0});
  return blocks_.back();
}

void CellStore::appendText(std::string_view utf8) {
  const std::size_t needed = prefixSize(utf8.size()) + utf8.size();
  Block& block = blockWithRoom(needed);
  const std::uint64_t slot = textSlot(blocks_.size() - 1, block.used);
  char* out = block.bytes.get() + block.used;
  std::size_t length = utf8.size();
  while (length >= 0x80) {
    *out++ = static_cast<char>(0x80 | (length & 0x7F));
    length >>= 7;
  }
  *out++ = static_cast<char>(length);
  if (!utf8.empty()) std::memcpy(out, utf8.data(), utf8.size());
  block.used += needed;
  appendSlot(slot, false);
}

void CellStore::appendBlob(std::unique_ptr<rt::TMemoryStream> blob) {
  blobs_.push_back(std::move(blob));
  appendSlot(blobs_.size() - 1, false);
}

void CellStore::markLastStoredAs(StorageClass type) { marked_.emplace_back(count_ - 1, type); }

std::optional<StorageClass> CellStore::storedTypeAt(std::size_t cell) const {
  if (marked_.empty()) return std::nullopt;
  const auto found = std::lower_bound(marked_.begin(), marked_.end(), cell,
                                      [](const auto& entry, std::size_t wanted) { return entry.first < wanted; });
  if (found == marked_.end() || found->first != cell) return std::nullopt;
  return found->second;
}

std::int64_t CellStore::integerAt(std::size_t cell) const { return static_cast<std::int64_t>(slotAt(cell)); }

double CellStore::realAt(std::size_t cell) const { return std::bit_cast<double>(slotAt(cell)); }

std::string_view CellStore::textAt(std::size_t cell) const {
  const std::uint64_t slot = slotAt(cell);
  const char* in = blocks_[slot >> 32].bytes.get() + (slot & 0xFFFFFFFFu);
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*in++);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) break;
  }
  return std::string_view(in, length);
}

rt::TMemoryStream* CellStore::blobAt(std::size_t cell) const { return blobs_[slotAt(cell)].get(); }

}  // namespace catalog

// Compact in-memory storage for the cells of a result table, in row-major order.
//
// A result is loaded once and then only read, so cells are appended and never changed. Each cell
// takes one 8-byte slot (an integer, a double's bits, or the place of its text or blob) plus one
// null bit. Texts live back to back in large blocks of UTF-8 bytes, each behind a short length
// prefix, so a text cell costs its bytes plus one or two — not a heap string of its own. Slots and
// text grow by whole pages and blocks, never by copying what is already stored, which keeps the
// peak memory of a large load close to its final size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/StorageClass.h"
#include "runtime/TMemoryStream.h"

namespace catalog {

class CellStore {
 public:
  void appendNull();
  void appendInteger(std::int64_t value);
  void appendReal(double value);
  void appendText(std::string_view utf8);
  void appendBlob(std::unique_ptr<rt::TMemoryStream> blob);
  // Records that the cell appended last holds a value of `type` although its column is of
  // another kind. Such cells are rare (a table without declared types, a column holding mixed
  // values), so they are listed apart instead of giving every cell a type of its own.
  void markLastStoredAs(StorageClass type);
  // The type recorded for `cell` by markLastStoredAs; nothing for a cell of its column's kind.
  std::optional<StorageClass> storedTypeAt(std::size_t cell) const;

  std::size_t size() const { return count_; }
  bool isNull(std::size_t cell) const { return nulls_[cell]; }
  // Each reader expects the cell to hold a value of its own kind (not null).
  std::int64_t integerAt(std::size_t cell) const;
  double realAt(std::size_t cell) const;
  std::string_view textAt(std::size_t cell) const;
  rt::TMemoryStream* blobAt(std::size_t cell) const;

 private:
  static constexpr std::size_t kPageCells = 1024;
  static constexpr std::size_t kFirstBlockBytes = 4096;
  static constexpr std::size_t kLargestBlockBytes = std::size_t{1} << 20;

  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
    std::size_t used = 0;
  };

  void appendSlot(std::uint64_t slot, bool null);
  std::uint64_t slotAt(std::size_t cell) const { return pages_[cell / kPageCells][cell % kPageCells]; }
  // Room for `bytes` more bytes in the last text block, opening a new block when needed.
  Block& blockWithRoom(std::size_t bytes);

  std::vector<std::unique_ptr<std::uint64_t[]>> pages_;
  std::vector<bool> nulls_;
  std::size_t count_ = 0;
  std::vector<Block> blocks_;
  std::vector<std::unique_ptr<rt::TMemoryStream>> blobs_;
  std::vector<std::pair<std::size_t, StorageClass>> marked_;  // in cell order
};

}  // namespace catalog

// In-memory storage for the cells of a result table, in row-major order.
//
// A result is loaded once and then only read, so cells are appended and never changed. Each cell
// is its storage class and one 8-byte value (an integer, a double's bits, or the place of its text
// or blob); texts live back to back in one UTF-8 string, so a text cell costs its bytes, not a
// heap string of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

  std::size_t size() const { return cells_.size(); }
  // The storage class `cell` was appended with; Null for a null.
  StorageClass typeAt(std::size_t cell) const { return cells_[cell].type; }
  bool isNull(std::size_t cell) const { return typeAt(cell) == StorageClass::Null; }
  // Each reader expects the cell to hold a value of its own class.
  std::int64_t integerAt(std::size_t cell) const;
  double realAt(std::size_t cell) const;
  std::string_view textAt(std::size_t cell) const;
  rt::TMemoryStream* blobAt(std::size_t cell) const;

 private:
  struct Cell {
    StorageClass type;
    std::uint32_t length;  // a text's bytes (SQLite keeps a value below 2^31 bytes)
    std::uint64_t value;   // an integer, a double's bits, a text's offset or a blob's index
  };

  std::vector<Cell> cells_;
  std::string texts_;
  std::vector<std::unique_ptr<rt::TMemoryStream>> blobs_;
};

}  // namespace catalog

// Cell storage of result tables: one tagged 8-byte value per cell, texts back to back.
#include "catalog/CellStore.h"

#include <bit>

namespace catalog {

void CellStore::appendNull() { cells_.push_back({StorageClass::Null, 0, 0}); }

void CellStore::appendInteger(std::int64_t value) {
  cells_.push_back({StorageClass::Integer, 0, static_cast<std::uint64_t>(value)});
}

void CellStore::appendReal(double value) {
  cells_.push_back({StorageClass::Real, 0, std::bit_cast<std::uint64_t>(value)});
}

void CellStore::appendText(std::string_view utf8) {
  cells_.push_back({StorageClass::Text, static_cast<std::uint32_t>(utf8.size()), texts_.size()});
  texts_.append(utf8);
}

void CellStore::appendBlob(std::unique_ptr<rt::TMemoryStream> blob) {
  blobs_.push_back(std::move(blob));
  cells_.push_back({StorageClass::Blob, 0, blobs_.size() - 1});
}

std::int64_t CellStore::integerAt(std::size_t cell) const { return static_cast<std::int64_t>(cells_[cell].value); }

double CellStore::realAt(std::size_t cell) const { return std::bit_cast<double>(cells_[cell].value); }

std::string_view CellStore::textAt(std::size_t cell) const {
  return std::string_view(texts_).substr(cells_[cell].value, cells_[cell].length);
}

rt::TMemoryStream* CellStore::blobAt(std::size_t cell) const { return blobs_[cells_[cell].value].get(); }

}  // namespace catalog

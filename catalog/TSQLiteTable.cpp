// Loading and reading of result tables.
#include "catalog/TSQLiteTable.h"

#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "catalog/ESQLiteException.h"
#include "catalog/TSQLiteDatabase.h"
#include "runtime/Text.h"

namespace catalog {
namespace {

// The storage class of SQLite's type code (sqlite3_column_type); the library hands out no other
// codes than these five.
StorageClass storageClassOf(int code) {
  switch (code) {
    case SQLITE_INTEGER:
      return StorageClass::Integer;
    case SQLITE_FLOAT:
      return StorageClass::Real;
    case SQLITE_TEXT:
      return StorageClass::Text;
    case SQLITE_BLOB:
      return StorageClass::Blob;
    default:
      return StorageClass::Null;
  }
}

// A column's kind from its declared type; the words are compared exactly, so "integer" or
// "Integer" declare a text column (the library then hands back the value's text).
StorageClass kindOfDeclaredType(const char* declared) {
  for (const char* word : {"INTEGER", "BOOLEAN"}) {
    if (std::strcmp(declared, word) == 0) return StorageClass::Integer;
  }
  for (const char* word : {"NUMERIC", "FLOAT", "DOUBLE", "REAL"}) {
    if (std::strcmp(declared, word) == 0) return StorageClass::Real;
  }
  if (std::strcmp(declared, "BLOB") == 0) return StorageClass::Blob;
  return StorageClass::Text;
}

// Raised by the numeric readers for a cell that holds no number.
[[noreturn]] void raiseNotNumeric() { throw ESQLiteException(u"Not an integer or numeric field"); }

std::int64_t truncateToInteger(double value) {
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<std::int64_t>::min())) {
    return std::numeric_limits<std::int64_t>::min();
  }
  // 2^63 is the first double above the range.
  if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(value);
}

}  // namespace

TSQLiteTable::TSQLiteTable(TSQLiteDatabase& database, const std::string& utf8Statement) {
  StatementHandle statement = database.PrepareStatement(utf8Statement);
  sqlite3_stmt* const stmt = statement.get();
  for (;;) {
    const int result = sqlite3_step(stmt);
    if (result == SQLITE_DONE) break;
    if (result == SQLITE_BUSY) throw ESQLiteException(TSQLiteDatabase::kCouldNotPrepare);
    if (result != SQLITE_ROW) {
      sqlite3_reset(stmt);
      database.RaiseStatementError(u"Could not retrieve data", utf8Statement);
    }
    if (rowTotal_ == std::numeric_limits<int>::max()) throw std::bad_alloc();
    ++rowTotal_;

    const int columns = sqlite3_column_count(stmt);
    if (rowTotal_ == 1) {
      for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(stmt, c);
        // The library hands out names (like all its text) as UTF-8, on every platform.
        columnNames_.push_back(rt::upperCase(rt::fromUtf8(name != nullptr ? name : "")));
      }
      for (int c = 0; c < columns; ++c) {
        const char* declared = sqlite3_column_decltype(stmt, c);
        columnKinds_.push_back(declared != nullptr ? kindOfDeclaredType(declared)
                                                   : storageClassOf(sqlite3_column_type(stmt, c)));
      }
    }

    for (int c = 0; c < columns; ++c) {
      // A value stored with another type than its column's kind is kept as it is: converting it
      // would turn a text or a real into 0 or 2, or a number in a text column into other digits.
      const StorageClass own = storageClassOf(sqlite3_column_type(stmt, c));
      switch (own) {
        case StorageClass::Null:
          cells_.appendNull();
          break;
        case StorageClass::Integer:
          cells_.appendInteger(sqlite3_column_int64(stmt, c));
          break;
        case StorageClass::Real:
          cells_.appendReal(sqlite3_column_double(stmt, c));
          break;
        case StorageClass::Blob: {
          const void* bytes = sqlite3_column_blob(stmt, c);
          const int size = sqlite3_column_bytes(stmt, c);
          if (bytes == nullptr || size <= 0) {
            if (size > 0) throw std::bad_alloc();
            cells_.appendNull();
            break;
          }
          auto blob = std::make_unique<rt::TMemoryStream>();
          blob->WriteBuffer(bytes, size);
          blob->SetPosition(0);
          cells_.appendBlob(std::move(blob));
          break;
        }
        case StorageClass::Text: {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
          if (text == nullptr) throw std::bad_alloc();  // the value is not null, so the library ran out of memory
          cells_.appendText(std::string_view(text, std::strlen(text)));
          break;
        }
      }
    }
  }
  current_ = 0;
}

bool TSQLiteTable::ToFirstRow() {
  if (rowTotal_ <= 0) return false;
  current_ = 0;
  return true;
}

bool TSQLiteTable::ToNextRow() {
  if (AtEnd()) return false;
  ++current_;
  return true;
}

int TSQLiteTable::ColumnIndexOf(const std::u16string& name) const {
  if (columnNames_.empty()) throw ESQLiteException(u"Field " + name + u" Not found. Empty dataset");
  const std::u16string wanted = rt::upperCase(name);
  for (std::size_t c = 0; c < columnNames_.size(); ++c) {
    if (columnNames_[c] == wanted) return static_cast<int>(c);
  }
  throw ESQLiteException(u"Field not found in dataset: " + name);
}

std::u16string TSQLiteTable::TextOf(const std::u16string& name) const { return TextAt(ColumnIndexOf(name)); }

std::size_t TSQLiteTable::cellOf(int column) const {
  if (AtEnd()) throw ESQLiteException(u"Table is at End of File");
  if (column < 0 || column >= ColumnCount()) {
    throw ESQLiteException(u"Column index out of range: " + rt::intToText(column));
  }
  return static_cast<std::size_t>(current_) * columnNames_.size() + static_cast<std::size_t>(column);
}

StorageClass TSQLiteTable::kindOf(std::size_t cell, int column) const {
  const StorageClass own = cells_.typeAt(cell);
  return own == StorageClass::Null ? columnKinds_[column] : own;
}

TCellValue TSQLiteTable::ValueOf(const std::u16string& name) const {
  const int column = ColumnIndexOf(name);
  const std::size_t cell = cellOf(column);
  TCellValue value;
  if (cells_.isNull(cell)) return value;
  value.text = TextAt(column);
  switch (kindOf(cell, column)) {
    case StorageClass::Integer:
      value.type = StorageClass::Integer;
      value.integer = cells_.integerAt(cell);
      break;
    case StorageClass::Real:
      value.type = StorageClass::Real;
      value.real = cells_.realAt(cell);
      break;
    case StorageClass::Blob:
      value.type = StorageClass::Blob;
      break;
    case StorageClass::Text:
    case StorageClass::Null:
      value.type = StorageClass::Text;
      break;
  }
  return value;
}

std::u16string TSQLiteTable::TextAt(int column) const {
  const std::size_t cell = cellOf(column);
  const bool ownType = !cells_.isNull(cell) && cells_.typeAt(cell) != columnKinds_[column];
  switch (kindOf(cell, column)) {
    case StorageClass::Integer:
      return rt::intToText(IntegerAt(column));
    case StorageClass::Real:
      // A real in a column of another kind reads as exactly itself (2.7 as "2.7", never "2").
      return ownType ? rt::shortestFloatText(RealAt(column)) : rt::floatToText(RealAt(column));
    case StorageClass::Blob:
      return BlobTextAt(column);
    case StorageClass::Text:
    case StorageClass::Null:
      // A column without a declared type whose first value was null still stores the later
      // values; they are read as such rather than dropped.
      if (cells_.isNull(cell)) return {};
      return rt::fromUtf8(cells_.textAt(cell));
  }
  return {};
}

std::int64_t TSQLiteTable::IntegerAt(int column) const {
  const std::size_t cell = cellOf(column);
  if (cells_.isNull(cell)) return 0;
  const StorageClass kind = kindOf(cell, column);
  if (kind == StorageClass::Integer) return cells_.integerAt(cell);
  if (kind == StorageClass::Real) return truncateToInteger(cells_.realAt(cell));
  raiseNotNumeric();
}

double TSQLiteTable::RealAt(int column) const {
  const std::size_t cell = cellOf(column);
  if (cells_.isNull(cell)) return 0;
  const StorageClass kind = kindOf(cell, column);
  if (kind == StorageClass::Integer) return static_cast<double>(cells_.integerAt(cell));
  if (kind == StorageClass::Real) return cells_.realAt(cell);
  raiseNotNumeric();
}

const rt::TMemoryStream* TSQLiteTable::BlobAt(int column) const {
  const std::size_t cell = cellOf(column);
  if (cells_.isNull(cell)) return nullptr;
  if (kindOf(cell, column) != StorageClass::Blob) throw ESQLiteException(u"Not a Blob field");
  return cells_.blobAt(cell);
}

std::u16string TSQLiteTable::BlobTextAt(int column) const {
  const rt::TMemoryStream* blob = BlobAt(column);
  if (blob == nullptr) return {};
  rt::TMemoryStream* stream = cells_.blobAt(cellOf(column));
  const auto* bytes = reinterpret_cast<const char*>(stream->Memory());
  return rt::fromUtf8(std::string_view(bytes, static_cast<std::size_t>(stream->Size())));
}

}  // namespace catalog

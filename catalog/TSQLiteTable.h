// A query result loaded whole into memory. The query runs to completion when the table is built,
// so the rows can be walked after the connection is closed. Rows are visited through a current-row
// position; values are read by column name (matched without regard to case) as text, or through
// typed readers by column index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/CellStore.h"
#include "catalog/StorageClass.h"
#include "catalog/TCellValue.h"
#include "runtime/TMemoryStream.h"

namespace catalog {

class TSQLiteDatabase;

class TSQLiteTable {
 public:
  // Runs `utf8Statement` on `database` and loads every row. Raises ESQLiteException:
  // "Error executing SQL" / "Could not prepare SQL statement" when it cannot be compiled, "Could
  // not prepare SQL statement" (no detail) when the database is busy, and "Could not retrieve
  // data" when a step fails; the last two through the database's message layout.
  //
  // Column kinds are fixed at the first row: the declared types "INTEGER" and "BOOLEAN" read as
  // integers, "NUMERIC", "FLOAT", "DOUBLE" and "REAL" as reals, "BLOB" as blobs (exact,
  // case-sensitive words), any other declared type as text; a column without a declared type
  // takes the storage class of the first row's value. A cell whose stored type differs from its
  // column's kind keeps its own type and is read by it (an integer column holding "abc" reads
  // "abc", a column without declared type whose first value was a number still reads its later
  // texts as texts).
  TSQLiteTable(TSQLiteDatabase& database, const std::string& utf8Statement);
  TSQLiteTable(const TSQLiteTable&) = delete;
  TSQLiteTable& operator=(const TSQLiteTable&) = delete;

  int RowTotal() const { return rowTotal_; }
  int ColumnCount() const { return static_cast<int>(columnNames_.size()); }
  // True when the current row is at or past the row total (always for an empty table).
  bool AtEnd() const { return current_ >= rowTotal_; }
  // Moves to row 0; false (and nothing changes) when there are no rows.
  bool ToFirstRow();
  // Moves one row on; stepping past the last row makes AtEnd true. False (and nothing changes)
  // when already at the end.
  bool ToNextRow();

  // Position of the first column whose upper-cased name equals the upper-cased `name`. Raises
  // "Field <name> Not found. Empty dataset" for an empty result and "Field not found in dataset:
  // <name>" when no column has that name.
  int ColumnIndexOf(const std::u16string& name) const;
  // The current row's value of the named column as text: ColumnIndexOf, then TextAt.
  std::u16string TextOf(const std::u16string& name) const;

  // The current row's value of the named column with its storage type (null included), for
  // binding it back into a statement as it is stored.
  TCellValue ValueOf(const std::u16string& name) const;

  // The current row's value of column `column` as text: integers in decimal, reals in general
  // format with up to 15 significant digits, text as stored, blobs as their bytes (UTF-8). A
  // null reads as "0" in integer and real columns and as empty text otherwise. A cell stored with
  // another type than its column's kind reads by its own type: an integer in decimal, a real as
  // the shortest text that reads back as the same number, a text as stored.
  // Every reader raises "Table is at End of File" when AtEnd.
  std::u16string TextAt(int column) const;
  // The typed readers go by the cell's own type where it differs from the column's kind.
  // 0 for a null; an integer cell's value, a real cell's value truncated toward zero (clamped to
  // the 64-bit range); raises "Not an integer or numeric field" otherwise.
  std::int64_t IntegerAt(int column) const;
  // 0 for a null; the value of an integer or real cell; raises "Not an integer or numeric
  // field" otherwise.
  double RealAt(int column) const;
  // nullptr for a null (an empty blob is stored as a null); the blob's bytes in a memory stream,
  // positioned at 0 and owned by the table; raises "Not a Blob field" for other cells.
  const rt::TMemoryStream* BlobAt(int column) const;
  // The blob's bytes as text (UTF-8, as SQLite hands out text); empty for a null.
  std::u16string BlobTextAt(int column) const;

 private:
  // Checks that a row is current and `column` exists; returns the cell of that row and column.
  std::size_t cellOf(int column) const;
  // The kind `cell` of column `column` is read by: its own stored type where that differs.
  StorageClass kindOf(std::size_t cell, int column) const;

  int rowTotal_ = 0;
  int current_ = 0;
  std::vector<std::u16string> columnNames_;  // upper case, statement order
  std::vector<StorageClass> columnKinds_;
  CellStore cells_;
};

}  // namespace catalog

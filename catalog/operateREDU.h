// The catalogue functions: read the pending rows of a table and mark a row. Each call opens its
// own connection for a single statement and closes it again before returning; nothing is cached
// between calls.
#pragma once

#include <memory>
#include <string>

#include "catalog/TCellValue.h"
#include "catalog/TSQLiteTable.h"

namespace catalog {

// Runs " SELECT * FROM " + table (+ " where " + filter when the filter is not empty) on the
// database at `databasePath` and returns every row, loaded. Table and filter are inserted
// verbatim. Returns nullptr, without any error, when no file exists at the path. Open, prepare
// and step failures are raised as ESQLiteException; the connection is closed before the table
// (or the error) reaches the caller.
std::unique_ptr<TSQLiteTable> selectRows(const std::u16string& databasePath, const std::u16string& table,
                                         const std::u16string& filter);

// Sets `column` to `value` in the rows of `table` whose `keyColumn` equals `keyValue`, a key as
// the result table stored it (TSQLiteTable::ValueOf). Table and column names are program
// constants and are inserted verbatim; the value and the key are bound as statement parameters,
// so quotes or other SQL text inside them are data. The key is bound with its stored type: an
// integer key as an integer, so it finds its row whatever the key column's declared type (a text
// "5" does not equal the integer 5 in a column without affinity); a text key takes a typed
// column's affinity as a quoted literal would; a blob key is bound as its text. A null key
// changes nothing and opens nothing: no row is marked by a made-up key. Does nothing when no file
// exists at `databasePath`; a key that matches no row changes nothing. A key that matches more
// than one row changes none of them (the update is rolled back) and says so on the debug
// channel: "updateColumn: <key column> <key> names <n> rows of <table>; none was changed". Open
// and statement failures are raised as ESQLiteException after the connection is closed.
void updateColumn(const std::u16string& column, const std::u16string& value, const std::u16string& keyColumn,
                  const TCellValue& keyValue, const std::u16string& databasePath, const std::u16string& table);

}  // namespace catalog

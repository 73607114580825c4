// The catalogue functions selectRows and updateColumn.
#include "catalog/operateREDU.h"

#include "catalog/TSQLiteDatabase.h"
#include "platform/DebugChannel.h"
#include "platform/FileSystem.h"
#include "runtime/Text.h"

namespace catalog {

std::unique_ptr<TSQLiteTable> selectRows(const std::u16string& databasePath, const std::u16string& table,
                                         const std::u16string& filter) {
  if (!platform::fileExists(databasePath)) return nullptr;
  TSQLiteDatabase database(databasePath);
  std::u16string statement = u" SELECT * FROM " + table;
  if (!filter.empty()) statement += u" where " + filter;
  return database.QueryTable(rt::toUtf8(statement));
}

namespace {

void bindKey(TSQLiteDatabase& database, const TCellValue& key) {
  switch (key.type) {
    case StorageClass::Integer:
      database.AddParamInt(u":key", key.integer);
      return;
    case StorageClass::Real:
      database.AddParamFloat(u":key", key.real);
      return;
    default:
      database.AddParamText(u":key", key.text);
      return;
  }
}

// Sets `column` to the bound ":value" where `keyColumn` equals the bound ":key", in a transaction
// that is kept only when it changed at most one row. A key that names several rows (a catalogue
// whose key column is not unique) would otherwise mark rows whose icons were never uploaded; then
// none changes, the debug channel says why, and the row stays pending. A failure on the way
// leaves the transaction open: closing the connection rolls it back.
void markRow(TSQLiteDatabase& database, const std::u16string& column, const std::u16string& value,
             const std::u16string& keyColumn, const TCellValue& key, const std::u16string& table) {
  database.RunStatement("BEGIN");
  bindKey(database, key);
  database.AddParamText(u":value", value);
  const std::u16string statement =
      u"update " + table + u" set " + column + u"=:value where " + keyColumn + u"=:key;";
  const std::int64_t changed = database.RunStatement(rt::toUtf8(statement));
  if (changed <= 1) {
    database.RunStatement("COMMIT");
    return;
  }
  database.RunStatement("ROLLBACK");
  platform::debugOutput(u"updateColumn: " + keyColumn + u" " + key.text + u" names " + rt::intToText(changed) +
                        u" rows of " + table + u"; none was changed");
}

}  // namespace

void updateColumn(const std::u16string& column, const std::u16string& value, const std::u16string& keyColumn,
                  const TCellValue& keyValue, const std::u16string& databasePath, const std::u16string& table) {
  if (keyValue.IsNull() || !platform::fileExists(databasePath)) return;
  TSQLiteDatabase database(databasePath);
  markRow(database, column, value, keyColumn, keyValue, table);
}

}  // namespace catalog

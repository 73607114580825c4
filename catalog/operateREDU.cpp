// The catalogue functions selectRows and updateColumn.
#include "catalog/operateREDU.h"

#include "catalog/TSQLiteDatabase.h"
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

// Sets `column` to the bound ":value" where `keyColumn` equals the bound ":key".
void runUpdate(TSQLiteDatabase& database, const std::u16string& column, const std::u16string& value,
               const std::u16string& keyColumn, const std::u16string& table) {
  database.AddParamText(u":value", value);
  const std::u16string statement =
      u"update " + table + u" set " + column + u"=:value where " + keyColumn + u"=:key;";
  database.RunStatement(rt::toUtf8(statement));
}

}  // namespace

void updateColumn(const std::u16string& column, const std::u16string& value, const std::u16string& keyColumn,
                  const std::u16string& keyValue, const std::u16string& databasePath, const std::u16string& table) {
  if (!platform::fileExists(databasePath)) return;
  TSQLiteDatabase database(databasePath);
  // Splicing the key into the text in double quotes let a key holding a quote change other rows
  // or break the statement; bound values are compared as data. Compared with a typed column, a
  // bound text takes the column's affinity just as a quoted literal did, so "5" still finds the
  // integer key 5.
  database.AddParamText(u":key", keyValue);
  runUpdate(database, column, value, keyColumn, table);
}

void updateColumn(const std::u16string& column, const std::u16string& value, const std::u16string& keyColumn,
                  const TCellValue& keyValue, const std::u16string& databasePath, const std::u16string& table) {
  if (keyValue.IsNull() || !platform::fileExists(databasePath)) return;
  TSQLiteDatabase database(databasePath);
  switch (keyValue.type) {
    case StorageClass::Integer:
      database.AddParamInt(u":key", keyValue.integer);
      break;
    case StorageClass::Real:
      database.AddParamFloat(u":key", keyValue.real);
      break;
    default:
      database.AddParamText(u":key", keyValue.text);
      break;
  }
  runUpdate(database, column, value, keyColumn, table);
}

}  // namespace catalog

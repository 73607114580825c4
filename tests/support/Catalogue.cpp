// Test catalogues and other test databases through the SQLite library.
#include "tests/support/Catalogue.h"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

#include "runtime/Text.h"

namespace testsupport {
namespace {

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error("test catalogue: " + what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "no connection"));
}

Connection open(const std::filesystem::path& database,
                int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
  sqlite3* db = nullptr;
  const int result = sqlite3_open_v2(rt::toUtf8(database.u16string()).c_str(), &db, flags, nullptr);
  Connection connection(db);
  if (result != SQLITE_OK) fail(db, "open " + database.string());
  return connection;
}

// Runs `sql`, calling `row` with each result row's first column as text.
template <typename Row>
void run(sqlite3* db, const std::string& sql, Row row, const std::vector<CatalogueValue>& values = {}) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) fail(db, sql);
  const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  for (int i = 0; i < static_cast<int>(values.size()); ++i) {
    const CatalogueValue& value = values[static_cast<std::size_t>(i)];
    if (const auto* integer = std::get_if<std::int64_t>(&value)) sqlite3_bind_int64(raw, i + 1, *integer);
    if (const auto* real = std::get_if<double>(&value)) sqlite3_bind_double(raw, i + 1, *real);
    if (const auto* text = std::get_if<std::string>(&value))
      sqlite3_bind_text(raw, i + 1, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
  }
  for (int result; (result = sqlite3_step(raw)) != SQLITE_DONE;) {
    if (result != SQLITE_ROW) fail(db, sql);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
    row(text != nullptr ? std::string(text) : std::string());
  }
}

}  // namespace

void writeCatalogue(const std::filesystem::path& database, const std::vector<CatalogueRow>& rows,
                    const std::string& columns) {
  std::filesystem::create_directories(database.parent_path());
  const Connection db = open(database);
  const auto none = [](const std::string&) {};
  run(db.get(), "CREATE TABLE software_data (" + columns + ")", none);
  run(db.get(), "BEGIN", none);
  for (const CatalogueRow& row : rows)
    run(db.get(), "INSERT INTO software_data VALUES (?, ?, ?, ?, ?)", none,
        {row.id, row.softname, row.exepath, row.pin, row.exticon});
  run(db.get(), "COMMIT", none);
}

std::vector<std::string> readCatalogue(const std::filesystem::path& database, const std::string& expression) {
  return queryColumn(database, "SELECT " + expression + " FROM software_data ORDER BY rowid");
}

void executeSql(const std::filesystem::path& database, const std::string& sql) {
  const Connection db = open(database);
  char* message = nullptr;
  const int result = sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &message);
  const std::string why = message != nullptr ? message : "";
  sqlite3_free(message);
  if (result != SQLITE_OK) throw std::runtime_error("test database: " + sql + ": " + why);
}

std::vector<std::string> queryColumn(const std::filesystem::path& database, const std::string& query) {
  const Connection db = open(database, SQLITE_OPEN_READONLY);
  std::vector<std::string> values;
  run(db.get(), query, [&values](std::string value) { values.push_back(std::move(value)); });
  return values;
}

}  // namespace testsupport

// The catalogue a test gives the program, the table software_data of DB/REDU.sqlite, and the other
// databases tests look into, written and read through the SQLite library itself, never through
// the classes under test.
//
//   testsupport::writeCatalogue(folder / "DB" / "REDU.sqlite", {{1, "Editor", exePath}, {2, "Gone", "/none"}});
//   EXPECT_EQ(testsupport::readCatalogue(folder / "DB" / "REDU.sqlite", "pin"), (std::vector<std::string>{"1", "0"}));
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace testsupport {

// One cell as SQLite stores it: null, an integer, a real or a text (UTF-8).
using CatalogueValue = std::variant<std::nullptr_t, std::int64_t, double, std::string>;

// One row of software_data, in column order. A null ID in the usual layout takes the next rowid.
struct CatalogueRow {
  CatalogueValue id = nullptr;
  CatalogueValue softname = "";
  CatalogueValue exepath = "";
  CatalogueValue pin = "0";
  CatalogueValue exticon = "1";
};

// The program's layout of software_data. A test that needs an odd one (no key, no declared
// types) gives its own list of the same five columns in the same order.
inline constexpr char kCatalogueColumns[] =
    "ID INTEGER PRIMARY KEY, softname TEXT, exepath TEXT, pin TEXT, exticon TEXT";

// Creates the database file `database` (and its folder) holding software_data with `columns`
// and `rows`, each value bound as it is. Raises std::runtime_error when SQLite refuses.
void writeCatalogue(const std::filesystem::path& database, const std::vector<CatalogueRow>& rows,
                    const std::string& columns = kCatalogueColumns);

// The SQL `expression` over every row of software_data, in rowid order: queryColumn of
// "SELECT <expression> FROM software_data ORDER BY rowid".
std::vector<std::string> readCatalogue(const std::filesystem::path& database, const std::string& expression);

// Runs the statements of `sql` on the database file `database`, which is made when missing.
// Raises std::runtime_error when SQLite refuses.
void executeSql(const std::filesystem::path& database, const std::string& sql);

// The first column of every row `query` yields, as text (empty for a null), from the existing
// database file `database`, opened read-only. Raises std::runtime_error when SQLite refuses.
std::vector<std::string> queryColumn(const std::filesystem::path& database, const std::string& query);

}  // namespace testsupport

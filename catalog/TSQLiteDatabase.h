// A thin connection over the SQLite 3 library: opens one database file, runs single statements,
// hands out fully loaded result tables, and turns every failure into an ESQLiteException with a
// fixed message layout. The connection runs with the library's defaults: no busy timeout, no
// pragma, no transaction, so a database locked by another process fails at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/ESQLiteException.h"
#include "catalog/StorageClass.h"

struct sqlite3;
struct sqlite3_stmt;

namespace catalog {

class TSQLiteTable;

// Owning handles: a connection is closed and a statement finalized when its handle goes.
struct ConnectionCloser {
  void operator()(sqlite3* connection) const noexcept;
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept;
};
using ConnectionHandle = std::unique_ptr<sqlite3, ConnectionCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

class TSQLiteDatabase {
 public:
  // Opens the database file at `path` (converted to UTF-8 for the library).
  // Raises "Failed to open database \"<path>\" : <SQLite's message>", or the same with
  // "unknown error" when the library handed back no connection at all. Nothing stays open then.
  // A database that is not a regular file, or a companion of it (journal, write-ahead log, its
  // index) present as anything but a regular file that is no link, is unreadable before the
  // library opens anything: "Failed to open database \"<path>\" : \"<that file>\" is not a
  // regular file".
  explicit TSQLiteDatabase(const std::u16string& path);
  ~TSQLiteDatabase() = default;
  TSQLiteDatabase(const TSQLiteDatabase&) = delete;
  TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

  // The message for a text that holds no statement (raised in the detail layout of
  // RaiseStatementError) and for a database that is busy while a result loads (raised alone).
  static constexpr char16_t kCouldNotPrepare[] = u"Could not prepare SQL statement";

  // Executes the first statement of `utf8Statement`, which must yield no rows, after binding the
  // named parameters added since the last statement, and returns the number of rows it changed
  // itself (an INSERT, UPDATE or DELETE; not those changed by triggers; 0 for other statements).
  // Raises "Error executing SQL" (prepare failed), "Could not prepare SQL statement" (no
  // statement in the text) or "Error executing SQL statement" (the step did not finish, including
  // a statement that yields a row), each laid out by RaiseStatementError. The connection stays
  // usable after an error.
  std::int64_t RunStatement(const std::string& utf8Statement);

  // Runs `utf8Statement` to completion and returns every row, loaded in memory; the table does
  // not refer to this connection afterwards. Errors are raised by the table's loading.
  std::unique_ptr<TSQLiteTable> QueryTable(const std::string& utf8Statement);

  // Named parameters for the next statement only (RunStatement or QueryTable): `name` is the
  // parameter as written in the statement, prefix included (":value"). Parameters whose name
  // does not occur in the statement are ignored. Values are bound, never spliced into the text.
  void AddParamText(const std::u16string& name, const std::u16string& value);
  void AddParamInt(const std::u16string& name, std::int64_t value);
  void AddParamFloat(const std::u16string& name, double value);

  // Always raises an ESQLiteException for `utf8Statement`. When the connection reports a result
  // code other than 0, the message is
  //   message + ".\rError [<code>]: <ErrorCodeText(code)>.\r\"<statement>\": <SQLite's text>"
  // with single carriage returns (no line feeds); otherwise it is `message` alone.
  [[noreturn]] void RaiseStatementError(const std::u16string& message, const std::string& utf8Statement);

  // The English description of an SQLite primary result code; for a code outside the table,
  // "Unknown SQLite Error Code \"<code>\"".
  static std::u16string ErrorCodeText(int code);

  // For the result table: compiles the first statement of `utf8Statement` and binds the pending
  // named parameters (then forgets them). Raises as RunStatement does for the prepare step.
  StatementHandle PrepareStatement(const std::string& utf8Statement);

 private:
  struct Param {
    std::string name;  // UTF-8, as the library looks it up
    StorageClass kind;  // Integer, Real or Text
    std::int64_t integer = 0;
    double real = 0;
    std::string text;  // UTF-8
  };

  void bindParams(sqlite3_stmt* statement);

  ConnectionHandle connection_;
  std::vector<Param> params_;
};

}  // namespace catalog

// The SQLite connection: open, single statements, named parameters and the error layout.
#include "catalog/TSQLiteDatabase.h"

#include <sqlite3.h>

#include <array>
#include <string_view>
#include <utility>

#include "catalog/TSQLiteTable.h"
#include "platform/FileSystem.h"
#include "runtime/Text.h"

namespace catalog {
namespace {

// Descriptions of SQLite's primary result codes 0..26; 100 and 101 are handled apart.
constexpr std::array<const char*, 27> kCodeTexts = {
    "Successful result",
    "SQL error or missing database",
    "An internal logic error in SQLite",
    "Access permission denied",
    "Callback routine requested an abort",
    "The database file is locked",
    "A table in the database is locked",
    "A malloc() failed",
    "Attempt to write a readonly database",
    "Operation terminated by sqlite3_interrupt()",
    "Some kind of disk I/O error occurred",
    "The database disk image is malformed",
    "(Internal Only) Table or record not found",
    "Insertion failed because database is full",
    "Unable to open the database file",
    "Database lock protocol error",
    "Database is empty",
    "The database schema changed",
    "Too much data for one row of a table",
    "Abort due to contraint violation",
    "Data type mismatch",
    "Library used incorrectly",
    "Uses OS features not supported on host",
    "Authorization denied",
    "Auxiliary database format error",
    "2nd parameter to sqlite3_bind out of range",
    "File opened that is not a database file",
};

// The library keeps allocation statistics behind a process-wide lock on every allocation; nothing
// here reads them, so they are switched off, once, before the library starts (a call after that,
// when something else started it first, is refused by the library and changes nothing).
void configureLibraryOnce() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

// SQLite keeps a rollback journal, a write-ahead log and the log's shared index beside the database
// under these names, and opens them with ordinary, blocking opens that follow links: a FIFO there
// would hold the open forever, a link would send the journal's writes somewhere else.
constexpr std::array<std::u16string_view, 3> kCompanionSuffixes = {u"-journal", u"-wal", u"-shm"};

// The first companion of the database SQLite opened as `databaseName` (its own full name of the
// file: on POSIX systems the file a link leads to, on Windows the name as given, made absolute)
// that is there and is not a regular file, or a link; empty text when none is. SQLite names the
// companions after that very name, so each is judged once, by one look at its entry.
std::u16string plantedCompanion(const std::u16string& databaseName) {
  for (const std::u16string_view suffix : kCompanionSuffixes) {
    std::u16string companion = databaseName + std::u16string(suffix);
    if (!platform::isAbsentOrRegularFile(companion, platform::LinkPolicy::Refuse)) return companion;
  }
  return {};
}

// The failure to open the database at `path`, for `reason`.
ESQLiteException openFailure(const std::u16string& path, const std::u16string& reason) {
  return ESQLiteException(u"Failed to open database \"" + path + u"\" : " + reason);
}

}  // namespace

void ConnectionCloser::operator()(sqlite3* connection) const noexcept { sqlite3_close(connection); }

void StatementFinalizer::operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }

TSQLiteDatabase::TSQLiteDatabase(const std::u16string& path) {
  configureLibraryOnce();
  // The database itself (a link to a regular file is fine: the catalogue may live elsewhere) is
  // looked at before SQLite opens it.
  if (!platform::isAbsentOrRegularFile(path, platform::LinkPolicy::Follow)) {
    throw openFailure(path, u"\"" + path + u"\" is not a regular file");
  }
  sqlite3* opened = nullptr;
  // What sqlite3_open does (read and write, created when missing), without the lock around every
  // call on the connection: a connection is used by the one thread that made it.
  const int result = sqlite3_open_v2(rt::toUtf8(path).c_str(), &opened,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  connection_.reset(opened);  // owned from here, so a failed open is closed on the way out
  if (result != SQLITE_OK) {
    if (!connection_) throw openFailure(path, u"unknown error");
    throw openFailure(path, rt::fromUtf8(sqlite3_errmsg(connection_.get())));
  }
  // The open has touched the database file alone: SQLite looks for a journal or a log only when a
  // statement first reads. So the companions are judged here, under the names SQLite will use,
  // before any of them is opened; one that SQLite itself makes later (the journal of a write) is
  // made by it, beside a database that was checked.
  const std::u16string planted = plantedCompanion(rt::fromUtf8(sqlite3_db_filename(connection_.get(), "main")));
  if (!planted.empty()) throw openFailure(path, u"\"" + planted + u"\" is not a regular file");
}

StatementHandle TSQLiteDatabase::PrepareStatement(const std::string& utf8Statement) {
  sqlite3_stmt* prepared = nullptr;
  const int result = sqlite3_prepare_v2(connection_.get(), utf8Statement.c_str(), -1, &prepared, nullptr);
  StatementHandle statement(prepared);
  if (result != SQLITE_OK) {
    params_.clear();
    RaiseStatementError(u"Error executing SQL", utf8Statement);
  }
  if (!statement) {
    params_.clear();
    RaiseStatementError(kCouldNotPrepare, utf8Statement);
  }
  bindParams(statement.get());
  return statement;
}

std::int64_t TSQLiteDatabase::RunStatement(const std::string& utf8Statement) {
  StatementHandle statement = PrepareStatement(utf8Statement);
  if (sqlite3_step(statement.get()) == SQLITE_DONE) return sqlite3_changes64(connection_.get());
  sqlite3_reset(statement.get());
  RaiseStatementError(u"Error executing SQL statement", utf8Statement);
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::QueryTable(const std::string& utf8Statement) {
  return std::make_unique<TSQLiteTable>(*this, utf8Statement);
}

void TSQLiteDatabase::AddParamText(const std::u16string& name, const std::u16string& value) {
  params_.push_back(Param{rt::toUtf8(name), StorageClass::Text, 0, 0, rt::toUtf8(value)});
}

void TSQLiteDatabase::AddParamInt(const std::u16string& name, std::int64_t value) {
  params_.push_back(Param{rt::toUtf8(name), StorageClass::Integer, value, 0, {}});
}

void TSQLiteDatabase::AddParamFloat(const std::u16string& name, double value) {
  params_.push_back(Param{rt::toUtf8(name), StorageClass::Real, 0, value, {}});
}

// Binds every pending parameter whose name occurs in the statement, then forgets them all: a
// parameter list belongs to one statement only.
void TSQLiteDatabase::bindParams(sqlite3_stmt* statement) {
  std::vector<Param> params = std::exchange(params_, {});
  for (const Param& param : params) {
    const int index = sqlite3_bind_parameter_index(statement, param.name.c_str());
    if (index <= 0) continue;
    int result = SQLITE_OK;
    switch (param.kind) {
      case StorageClass::Integer:
        result = sqlite3_bind_int64(statement, index, param.integer);
        break;
      case StorageClass::Real:
        result = sqlite3_bind_double(statement, index, param.real);
        break;
      case StorageClass::Text:
        result = sqlite3_bind_text(statement, index, param.text.data(), static_cast<int>(param.text.size()),
                                   SQLITE_TRANSIENT);
        break;
      case StorageClass::Null:  // no AddParam makes a null or a blob
      case StorageClass::Blob:
        result = sqlite3_bind_null(statement, index);
        break;
    }
    // A value the library refuses (too big, out of memory) must not leave the parameter
    // silently null.
    if (result != SQLITE_OK) {
      throw ESQLiteException(u"Could not bind parameter " + rt::fromUtf8(param.name) + u": " + ErrorCodeText(result));
    }
  }
}

void TSQLiteDatabase::RaiseStatementError(const std::u16string& message, const std::string& utf8Statement) {
  const int code = sqlite3_errcode(connection_.get());
  if (code == SQLITE_OK) throw ESQLiteException(message);
  throw ESQLiteException(message + u".\rError [" + rt::intToText(code) + u"]: " + ErrorCodeText(code) + u".\r\"" +
                         rt::fromUtf8(utf8Statement) + u"\": " + rt::fromUtf8(sqlite3_errmsg(connection_.get())));
}

std::u16string TSQLiteDatabase::ErrorCodeText(int code) {
  if (code >= 0 && code < static_cast<int>(kCodeTexts.size())) return rt::u16(kCodeTexts[code]);
  if (code == SQLITE_ROW) return u"sqlite3_step() has another row ready";
  if (code == SQLITE_DONE) return u"sqlite3_step() has finished executing";
  return u"Unknown SQLite Error Code \"" + rt::intToText(code) + u"\"";
}

}  // namespace catalog

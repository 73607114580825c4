// Tests of the SQLite connection: opening, statement errors and their message layout, locking,
// and named parameters.
#include "catalog/TSQLiteDatabase.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "catalog/TSQLiteTable.h"
#include "tests/catalog/CatalogFixture.h"

namespace catalog {
namespace {

using catalogtest::CatalogTest;
using catalogtest::raisedMessage;
using catalogtest::RawConnection;
using catalogtest::SleepCounter;

// Result code descriptions: the table's own wording (including its spelling) and the unknown form.
TEST(SQLiteErrorCodeText, DescribesKnownCodesAndNamesUnknownOnes) {
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(0), u"Successful result");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(1), u"SQL error or missing database");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(5), u"The database file is locked");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(12), u"(Internal Only) Table or record not found");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(14), u"Unable to open the database file");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(19), u"Abort due to contraint violation");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(25), u"2nd parameter to sqlite3_bind out of range");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(26), u"File opened that is not a database file");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(100), u"sqlite3_step() has another row ready");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(101), u"sqlite3_step() has finished executing");
  for (int code = 0; code <= 26; ++code) {
    EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(code).find(u"Unknown"), std::u16string::npos) << code;
  }
  // Just outside the table on every side, and an extended result code.
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(27), u"Unknown SQLite Error Code \"27\"");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(99), u"Unknown SQLite Error Code \"99\"");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(102), u"Unknown SQLite Error Code \"102\"");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(-1), u"Unknown SQLite Error Code \"-1\"");
  EXPECT_EQ(TSQLiteDatabase::ErrorCodeText(261), u"Unknown SQLite Error Code \"261\"");
}

// Opening: a folder that does not exist fails with SQLite's message for code 14, naming the path
// exactly as given (non-ASCII kept); a file that is not a database opens, and its first statement
// fails with code 26.
TEST_F(CatalogTest, OpenFailuresNameThePathAndSQLiteMessage) {
  const std::u16string missing = folder_.file("no-such-folder/Dätä/REDU.sqlite");
  const std::u16string message = raisedMessage([&] { TSQLiteDatabase database(missing); });
  EXPECT_EQ(message, u"Failed to open database \"" + missing + u"\" : " + rt::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN)));
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "no-such-folder"));

  testsupport::writeFileBytes(folder_.path() / "REDU.sqlite", std::string(2048, 'x'));
  TSQLiteDatabase database(dbPath());
  EXPECT_EQ(raisedMessage([&] { database.RunStatement("update software_data set pin=1"); }),
            u"Error executing SQL.\rError [26]: File opened that is not a database file.\r"
            u"\"update software_data set pin=1\": " + rt::fromUtf8(sqlite3_errstr(SQLITE_NOTADB)));
}

// The three RunStatement messages: carriage returns only, the statement quoted, SQLite's text
// last; a text without a statement gives the bare message. The connection stays usable.
TEST_F(CatalogTest, RunStatementMessagesUseCarriageReturnLayout) {
  Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT UNIQUE); INSERT INTO t VALUES(1, 'a');");
  TSQLiteDatabase database(dbPath());

  const std::u16string missingTable = raisedMessage([&] { database.RunStatement("update nosuch set a=\"1\""); });
  EXPECT_EQ(missingTable,
            u"Error executing SQL.\rError [1]: SQL error or missing database.\r\"update nosuch set a=\"1\"\": "
            u"no such table: nosuch");
  EXPECT_EQ(missingTable.find(u'\n'), std::u16string::npos);

  EXPECT_EQ(raisedMessage([&] { database.RunStatement("   "); }), u"Could not prepare SQL statement");
  EXPECT_EQ(raisedMessage([&] { database.RunStatement("-- only a comment"); }), u"Could not prepare SQL statement");

  EXPECT_EQ(raisedMessage([&] { database.RunStatement("INSERT INTO t VALUES(2, 'a')"); }),
            u"Error executing SQL statement.\rError [19]: Abort due to contraint violation.\r"
            u"\"INSERT INTO t VALUES(2, 'a')\": UNIQUE constraint failed: t.name");

  // A statement that yields a row is a failure for RunStatement; the reset leaves no code to
  // report, so the message stands alone.
  EXPECT_EQ(raisedMessage([&] { database.RunStatement("SELECT name FROM t"); }), u"Error executing SQL statement");

  // Still usable, and only the first statement of a text runs.
  database.RunStatement("update t set name='b' where id=1; update t set name='c' where id=1");
  database.RunStatement("update t set name='z' where id=99");  // no row matches: no error
  EXPECT_EQ(Scalar("SELECT name FROM t WHERE id=1"), "b");
}

// A write lock held by another connection fails at once with code 5: no busy timeout, so no
// sleep between retries. The sleep counter does see the sleeps of a connection that has one.
TEST_F(CatalogTest, LockedDatabaseFailsAtOnceWithCodeFive) {
  Exec("CREATE TABLE t(a TEXT); INSERT INTO t VALUES('x');");
  RawConnection other(dbPath());
  other.Exec("BEGIN EXCLUSIVE");

  SleepCounter sleeps;
  {
    RawConnection patient(dbPath());
    sqlite3_busy_timeout(patient.get(), 50);
    EXPECT_EQ(sqlite3_exec(patient.get(), "update t set a='y'", nullptr, nullptr, nullptr), SQLITE_BUSY);
    EXPECT_GT(sleeps.sleeps(), 0);
  }
  const int sleptBefore = sleeps.sleeps();
  TSQLiteDatabase database(dbPath());
  const std::u16string message = raisedMessage([&] { database.RunStatement("update t set a='y'"); });
  EXPECT_EQ(sleeps.sleeps(), sleptBefore);
  EXPECT_NE(message.find(u".\rError [5]: The database file is locked.\r\"update t set a='y'\": database is locked"),
            std::u16string::npos)
      << rt::toUtf8(message);

  other.Exec("ROLLBACK");
  database.RunStatement("update t set a='y'");
  EXPECT_EQ(Scalar("SELECT a FROM t"), "y");
}

// Named parameters: each kind is bound as data, one never added stays null, names absent from
// the statement are ignored, and the list applies to the next statement only.
TEST_F(CatalogTest, NamedParametersBindOnceAsData) {
  Exec("CREATE TABLE p(i, r, t, n)");
  TSQLiteDatabase database(dbPath());
  database.AddParamInt(u":i", -7);
  database.AddParamFloat(u":r", 2.5);
  database.AddParamText(u":t", u"it's \"quoted\" Ö");
  database.AddParamText(u":unused", u"ignored");
  database.RunStatement("INSERT INTO p VALUES(:i, :r, :t, :n)");
  EXPECT_EQ(Scalar("SELECT typeof(i) || typeof(r) || typeof(t) || typeof(n) FROM p"), "integerrealtextnull");
  EXPECT_EQ(Scalar("SELECT i || '|' || r || '|' || t FROM p"), "-7|2.5|it's \"quoted\" Ö");

  database.RunStatement("INSERT INTO p VALUES(:i, 0, 0, 0)");  // nothing pending: :i stays null
  EXPECT_EQ(Scalar("SELECT count(*) FROM p WHERE i IS NULL"), "1");

  database.AddParamText(u":t", u"b");
  auto table = database.QueryTable("SELECT t FROM p WHERE t = :t OR t LIKE 'it%'");
  EXPECT_EQ(table->RowTotal(), 1);
}

}  // namespace
}  // namespace catalog

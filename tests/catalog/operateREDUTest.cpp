// Tests of the catalogue functions: the statements they run, the missing-file paths, the bound
// update (keys with quotes), non-ASCII names and values, and that no connection outlives a call.
#include "catalog/operateREDU.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "catalog/ESQLiteException.h"
#include "platform/DebugChannel.h"
#include "tests/catalog/CatalogFixture.h"
#include "tests/support/Catalogue.h"

namespace catalog {
namespace {

using catalogtest::CatalogTest;
using catalogtest::raisedMessage;
using catalogtest::textKey;
using catalogtest::RawConnection;
using catalogtest::SleepCounter;

const std::u16string kFilter = u"pin = '0' AND exticon = '1'";

class OperateREDUTest : public CatalogTest {
 protected:
  void makeCatalogue(const std::vector<testsupport::CatalogueRow>& rows = kFourRows,
                     const std::string& columns = testsupport::kCatalogueColumns) {
    testsupport::writeCatalogue(folder_.path() / "REDU.sqlite", rows, columns);
  }
  static inline const std::vector<testsupport::CatalogueRow> kFourRows = {{1, "Alpha", "C:\\a.exe"},
                                                                          {2, "Beta", "C:\\b.exe", "1"},
                                                                          {3, "Gamma", "C:\\c.exe", "0", "0"},
                                                                          {4, "Delta", "C:\\d.exe"}};
};

// No file at the path: no table, no update, no error, and no file created by either call.
TEST_F(OperateREDUTest, MissingFileGivesNoTableAndChangesNothing) {
  EXPECT_EQ(selectRows(dbPath(), u"software_data", kFilter), nullptr);
  updateColumn(u"pin", u"1", u"ID", textKey(u"1"), dbPath(), u"software_data");
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "REDU.sqlite"));
  // A folder at the path is not a file either.
  std::filesystem::create_directory(folder_.path() / "REDU.sqlite");
  EXPECT_EQ(selectRows(dbPath(), u"software_data", kFilter), nullptr);
}

// The select: the pass's filter picks the pending rows; the statement texts (leading space,
// keywords, verbatim filter, no " where " for an empty filter) show in the error messages.
TEST_F(OperateREDUTest, SelectRunsTheConcatenatedStatement) {
  makeCatalogue();
  auto pending = selectRows(dbPath(), u"software_data", kFilter);
  ASSERT_NE(pending, nullptr);
  ASSERT_EQ(pending->RowTotal(), 2);
  EXPECT_EQ(pending->TextOf(u"softname"), u"Alpha");
  pending->ToNextRow();
  EXPECT_EQ(pending->TextOf(u"ID"), u"4");
  EXPECT_EQ(selectRows(dbPath(), u"software_data", u"")->RowTotal(), 4);

  EXPECT_EQ(raisedMessage([&] { selectRows(dbPath(), u"nosuch", kFilter); }),
            u"Error executing SQL.\rError [1]: SQL error or missing database.\r"
            u"\" SELECT * FROM nosuch where pin = '0' AND exticon = '1'\": no such table: nosuch");
  EXPECT_EQ(raisedMessage([&] { selectRows(dbPath(), u"nosuch", u""); }),
            u"Error executing SQL.\rError [1]: SQL error or missing database.\r"
            u"\" SELECT * FROM nosuch\": no such table: nosuch");
  // The filter goes in verbatim, quotes and all: an unbalanced quote is a syntax error.
  const std::u16string broken = raisedMessage([&] { selectRows(dbPath(), u"software_data", u"softname = 'O'Neil'"); });
  EXPECT_NE(broken.find(u"\" SELECT * FROM software_data where softname = 'O'Neil'\": "), std::u16string::npos);
}

// The update sets exactly the keyed row; a key that matches nothing changes nothing. A text key
// still finds an integer key, as the quoted literal did.
TEST_F(OperateREDUTest, UpdateMarksOnlyTheKeyedRow) {
  makeCatalogue();
  updateColumn(u"pin", u"1", u"ID", textKey(u"4"), dbPath(), u"software_data");
  EXPECT_EQ(Scalar("SELECT group_concat(ID || ':' || pin, ' ') FROM software_data"), "1:0 2:1 3:0 4:1");
  EXPECT_EQ(Scalar("SELECT typeof(pin) FROM software_data WHERE ID = 4"), "text");
  updateColumn(u"pin", u"1", u"ID", textKey(u"99"), dbPath(), u"software_data");
  EXPECT_EQ(Scalar("SELECT count(*) FROM software_data WHERE pin = '1'"), "2");
  EXPECT_EQ(selectRows(dbPath(), u"software_data", kFilter)->RowTotal(), 1);
}

// Keys go back with the type they are stored with, read from the table as the pass reads them.
// In a table without declared types an integer key bound as text matches nothing; bound as an
// integer it marks its row. In an ID INTEGER column that is not the key, 2.7 marks the row of 2.7
// (not row 2) and "abc" the row of "abc" (not row 0); a null key marks nothing, not even row 0.
TEST_F(OperateREDUTest, KeysAreBoundWithTheirStoredType) {
  makeCatalogue({{5}}, "ID, softname, exepath, pin, exticon");
  auto typeless = selectRows(dbPath(), u"software_data", u"");
  updateColumn(u"pin", u"1", u"ID", textKey(typeless->TextOf(u"ID")), dbPath(), u"software_data");
  EXPECT_EQ(Scalar("SELECT pin FROM software_data"), "0");  // why the text key could not do
  updateColumn(u"pin", u"1", u"ID", typeless->ValueOf(u"ID"), dbPath(), u"software_data");
  EXPECT_EQ(Scalar("SELECT pin FROM software_data"), "1");

  Exec("CREATE TABLE mixed(rowkey INTEGER PRIMARY KEY, ID INTEGER, pin TEXT);"
       "INSERT INTO mixed VALUES(1, 0, '0');"
       "INSERT INTO mixed VALUES(2, 2, '0');"
       "INSERT INTO mixed VALUES(3, 2.7, '0');"
       "INSERT INTO mixed VALUES(4, 'abc', '0');"
       "INSERT INTO mixed VALUES(5, NULL, '0');");
  auto rows = selectRows(dbPath(), u"mixed", u"rowkey >= 3");
  ASSERT_EQ(rows->RowTotal(), 3);
  for (int i = 0; i < 3; ++i, rows->ToNextRow()) {
    updateColumn(u"pin", u"1", u"ID", rows->ValueOf(u"ID"), dbPath(), u"mixed");
  }
  EXPECT_EQ(Scalar("SELECT group_concat(rowkey || ':' || pin, ' ') FROM mixed"), "1:0 2:0 3:1 4:1 5:0");

  // A null key opens nothing: not even a missing file is looked for.
  updateColumn(u"pin", u"1", u"ID", TCellValue {}, dbPath(), u"mixed");
  EXPECT_EQ(Scalar("SELECT count(*) FROM mixed WHERE pin = '1'"), "2");
}

// A key that names several rows marks none of them and says so on the debug channel; the rows
// stay pending for the next run. A key naming one row is kept as before, also when a trigger
// changes other rows on the way (only the update's own rows count).
TEST_F(OperateREDUTest, KeyNamingSeveralRowsMarksNone) {
  std::vector<std::u16string> debugLines;
  platform::setDebugSink([&](const std::u16string& line) { debugLines.push_back(line); });
  makeCatalogue({{7}, {7}, {8}}, "ID INTEGER, softname TEXT, exepath TEXT, pin TEXT, exticon TEXT");
  Exec("CREATE TABLE audit(n INTEGER);"
       "CREATE TRIGGER marked AFTER UPDATE ON software_data BEGIN"
       "  INSERT INTO audit VALUES(1); INSERT INTO audit VALUES(2); END;");
  auto rows = selectRows(dbPath(), u"software_data", u"");
  for (int i = 0; i < rows->RowTotal(); ++i, rows->ToNextRow())
    updateColumn(u"pin", u"1", u"ID", rows->ValueOf(u"ID"), dbPath(), u"software_data");
  updateColumn(u"pin", u"1", u"ID", textKey(u"7"), dbPath(), u"software_data");
  platform::setDebugSink({});

  EXPECT_EQ(Scalar("SELECT group_concat(ID || ':' || pin, ' ') FROM software_data"), "7:0 7:0 8:1");
  EXPECT_EQ(Scalar("SELECT count(*) FROM audit"), "2");  // the rolled-back updates left no trace
  const std::u16string why = u"updateColumn: ID 7 names 2 rows of software_data; none was changed";
  EXPECT_EQ(debugLines, (std::vector<std::u16string>{why, why, why}));
}

// Keys and values holding quotes or SQL are data: only the row whose key is exactly that text
// changes, and the value is stored as written.
TEST_F(OperateREDUTest, QuotedKeysUpdateExactlyTheirOwnRow) {
  makeCatalogue({{"a\" OR \"1\"=\"1"}, {"it's"}, {"plain"}, {"1"}},
                "ID TEXT, softname TEXT, exepath TEXT, pin TEXT, exticon TEXT");
  updateColumn(u"pin", u"1", u"ID", textKey(u"a\" OR \"1\"=\"1"), dbPath(), u"software_data");
  EXPECT_EQ(Scalar("SELECT group_concat(pin, '') FROM software_data"), "1000");
  updateColumn(u"pin", u"x\"; DROP TABLE software_data; --", u"ID", textKey(u"it's"), dbPath(), u"software_data");
  EXPECT_EQ(Scalar("SELECT pin FROM software_data WHERE ID = 'it''s'"), "x\"; DROP TABLE software_data; --");
  EXPECT_EQ(Scalar("SELECT count(*) FROM software_data WHERE pin = '0'"), "2");
}

// Non-ASCII table names, filters and values reach SQLite as UTF-8.
TEST_F(OperateREDUTest, NonAsciiNamesAndValuesTravelAsUtf8) {
  Exec("CREATE TABLE \"Kätalog\"(ID TEXT, name TEXT);"
       "INSERT INTO \"Kätalog\" VALUES('Schlüssel €', 'Ölkännchen');");
  updateColumn(u"name", u"Grüße 漢字", u"ID", textKey(u"Schlüssel €"), dbPath(), u"Kätalog");
  auto table = selectRows(dbPath(), u"Kätalog", u"name = 'Grüße 漢字'");
  ASSERT_EQ(table->RowTotal(), 1);
  EXPECT_EQ(table->TextOf(u"ID"), u"Schlüssel €");
}

// Failures after opening: a missing table in the update, a file that is not a database, and a
// database locked by its owner (code 5 at once, no waiting).
TEST_F(OperateREDUTest, UpdateAndSelectFailuresAreRaised) {
  makeCatalogue();
  EXPECT_EQ(raisedMessage([&] { updateColumn(u"pin", u"1", u"ID", textKey(u"1"), dbPath(), u"nosuch"); }),
            u"Error executing SQL.\rError [1]: SQL error or missing database.\r"
            u"\"update nosuch set pin=:value where ID=:key;\": no such table: nosuch");

  {
    RawConnection owner(dbPath());
    owner.Exec("BEGIN EXCLUSIVE");
    SleepCounter sleeps;  // a wait for the lock would sleep between retries
    const std::u16string update =
        raisedMessage([&] { updateColumn(u"pin", u"1", u"ID", textKey(u"1"), dbPath(), u"software_data"); });
    const std::u16string select = raisedMessage([&] { selectRows(dbPath(), u"software_data", kFilter); });
    EXPECT_EQ(sleeps.sleeps(), 0);
    EXPECT_NE(update.find(u"Error [5]: The database file is locked."), std::u16string::npos) << rt::toUtf8(update);
    EXPECT_NE(select.find(u"Error [5]: The database file is locked."), std::u16string::npos) << rt::toUtf8(select);
    owner.Exec("ROLLBACK");
  }
  EXPECT_EQ(Scalar("SELECT pin FROM software_data WHERE ID = 1"), "0");

  testsupport::writeFileBytes(folder_.path() / "junk.sqlite", std::string(4096, '\x5a'));
  const std::u16string junk = raisedMessage([&] { selectRows(folder_.file("junk.sqlite"), u"software_data", kFilter); });
  EXPECT_NE(junk.find(u"\rError [26]: File opened that is not a database file.\r"), std::u16string::npos);
}

// The select hands back a loaded table with its connection closed: the owner can take an
// exclusive lock and even delete the file while the caller still walks the rows.
TEST_F(OperateREDUTest, SelectLeavesNoConnectionOpen) {
  makeCatalogue();
  auto table = selectRows(dbPath(), u"software_data", kFilter);
  const auto target = std::filesystem::canonical(folder_.path() / "REDU.sqlite");
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    EXPECT_NE(std::filesystem::read_symlink(entry.path(), ignored), target);
  }
  {
    RawConnection owner(dbPath());
    owner.Exec("BEGIN EXCLUSIVE; DELETE FROM software_data; COMMIT;");
  }
  std::filesystem::remove(folder_.path() / "REDU.sqlite");
  ASSERT_EQ(table->RowTotal(), 2);
  table->ToNextRow();
  EXPECT_EQ(table->TextOf(u"exepath"), u"C:\\d.exe");
}

}  // namespace
}  // namespace catalog

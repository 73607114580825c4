// Tests of the result table: loading errors, walking the rows, column lookup, column kinds and
// the text of every kind, and the cell storage under large results.
#include "catalog/TSQLiteTable.h"

#include <gtest/gtest.h>

#include <string>

#include "catalog/TSQLiteDatabase.h"
#include "tests/catalog/CatalogFixture.h"

namespace catalog {
namespace {

using catalogtest::CatalogTest;
using catalogtest::raisedMessage;
using catalogtest::RawConnection;

class TableTest : public CatalogTest {
 protected:
  std::unique_ptr<TSQLiteTable> query(const std::string& sql) {
    TSQLiteDatabase database(dbPath());
    return database.QueryTable(sql);
  }
};

// An empty result: no rows, at the end, no columns to find, nothing to read.
TEST_F(TableTest, EmptyResultHasNoRowsAndNoColumns) {
  Exec("CREATE TABLE software_data(ID INTEGER, exepath TEXT)");
  auto table = query("SELECT * FROM software_data");
  EXPECT_EQ(table->RowTotal(), 0);
  EXPECT_TRUE(table->AtEnd());
  EXPECT_FALSE(table->ToFirstRow());
  EXPECT_FALSE(table->ToNextRow());
  EXPECT_EQ(raisedMessage([&] { table->ColumnIndexOf(u"exepath"); }), u"Field exepath Not found. Empty dataset");
  EXPECT_EQ(raisedMessage([&] { table->TextOf(u"ID"); }), u"Field ID Not found. Empty dataset");
  EXPECT_EQ(raisedMessage([&] { table->TextAt(0); }), u"Table is at End of File");
}

// Walking: ToNextRow past the last row reaches the end, where every reader raises and ToNextRow
// refuses; ToFirstRow starts over. The table outlives its connection.
TEST_F(TableTest, WalksRowsAndStopsAtTheEnd) {
  Exec("CREATE TABLE t(n INTEGER); INSERT INTO t VALUES(10),(20),(30);");
  auto table = query("SELECT n FROM t ORDER BY n");
  ASSERT_EQ(table->RowTotal(), 3);
  EXPECT_FALSE(table->AtEnd());
  std::u16string seen;
  for (int i = 0; i < 3; ++i) {
    seen += table->TextOf(u"n") + u",";
    EXPECT_TRUE(table->ToNextRow());
  }
  EXPECT_EQ(seen, u"10,20,30,");
  EXPECT_TRUE(table->AtEnd());
  EXPECT_FALSE(table->ToNextRow());
  EXPECT_EQ(raisedMessage([&] { table->TextOf(u"n"); }), u"Table is at End of File");
  EXPECT_EQ(raisedMessage([&] { table->IntegerAt(0); }), u"Table is at End of File");
  EXPECT_EQ(raisedMessage([&] { table->RealAt(0); }), u"Table is at End of File");
  EXPECT_EQ(raisedMessage([&] { table->BlobAt(0); }), u"Table is at End of File");
  EXPECT_TRUE(table->ToFirstRow());
  EXPECT_EQ(table->TextOf(u"N"), u"10");
}

// Column lookup: without regard to case in either direction (non-ASCII letters included), the
// first of two equal names wins, and a missing name is reported as the caller wrote it.
TEST_F(TableTest, ColumnLookupIgnoresCaseAndTakesTheFirstMatch) {
  Exec("CREATE TABLE software_data(ID INTEGER, SoftName TEXT, EXEPATH TEXT, größe TEXT);"
       "INSERT INTO software_data VALUES(7, 'Editor', 'C:\\e.exe', 'klein');");
  auto table = query("SELECT * FROM software_data");
  EXPECT_EQ(table->TextOf(u"id"), u"7");
  EXPECT_EQ(table->TextOf(u"softname"), u"Editor");
  EXPECT_EQ(table->TextOf(u"exePath"), u"C:\\e.exe");
  EXPECT_EQ(table->TextOf(u"GRÖßE"), u"klein");
  EXPECT_EQ(raisedMessage([&] { table->TextOf(u"Pin"); }), u"Field not found in dataset: Pin");

  auto twins = query("SELECT 'first' AS x, 'second' AS X, 'third' AS y");
  EXPECT_EQ(twins->ColumnIndexOf(u"x"), 0);
  EXPECT_EQ(twins->TextOf(u"X"), u"first");
}

// Declared types decide the kind only as the exact upper-case words; other spellings are text
// columns whose values come back as the library's text. Typeless columns follow the first row.
// (The library itself reports INT, INTEGER, REAL, TEXT and BLOB in upper case however they were
// declared, so "integer" reads as an integer column; the key's digits are the same either way.)
TEST_F(TableTest, DeclaredTypesFixColumnKinds) {
  Exec("CREATE TABLE k(a INTEGER, b BOOLEAN, c NUMERIC, d FLOAT, e DOUBLE, f REAL, g integer, h double, i boolean, "
       "j, m VARCHAR(10), n Numeric);"
       "INSERT INTO k VALUES(-42, 1, 1e20, 0.5, 1e20, 2.25, 42, 1e20, 1, 3, 'v', 7);");
  auto table = query("SELECT * FROM k");
  EXPECT_EQ(table->IntegerAt(0), -42);
  EXPECT_EQ(table->TextOf(u"a"), u"-42");
  EXPECT_EQ(table->IntegerAt(1), 1);
  EXPECT_EQ(table->TextOf(u"c"), u"1E20");  // reals in the program's own general format
  EXPECT_EQ(table->TextOf(u"d"), u"0.5");
  EXPECT_EQ(table->TextOf(u"e"), u"1E20");
  EXPECT_DOUBLE_EQ(table->RealAt(5), 2.25);
  EXPECT_DOUBLE_EQ(table->RealAt(0), -42.0);  // an integer column reads as a real too
  EXPECT_EQ(table->TextOf(u"g"), u"42");

  // Other spellings and type names: text kind; the numbers the library stored for them keep
  // their own type and read by it.
  EXPECT_EQ(table->TextOf(u"h"), u"1e+20");
  EXPECT_DOUBLE_EQ(table->RealAt(7), 1e20);
  EXPECT_EQ(table->TextOf(u"i"), u"1");
  EXPECT_EQ(table->IntegerAt(8), 1);
  EXPECT_EQ(raisedMessage([&] { table->BlobAt(10); }), u"Not a Blob field");
  EXPECT_EQ(raisedMessage([&] { table->IntegerAt(10); }), u"Not an integer or numeric field");
  EXPECT_DOUBLE_EQ(table->RealAt(11), 7.0);

  // Typeless column: its first value was an integer, so it is an integer column.
  EXPECT_EQ(table->IntegerAt(9), 3);

  // Expressions have no declared type either.
  auto expressions = query("SELECT 1.5 AS r, 7 AS n, 'x' AS s, x'41' AS b");
  EXPECT_EQ(expressions->TextOf(u"r"), u"1.5");
  EXPECT_EQ(expressions->IntegerAt(1), 7);
  EXPECT_EQ(expressions->TextOf(u"b"), u"A");
}

// Nulls read by kind: "0" for integers and reals, empty text for texts and blobs, none from
// BlobAt. A typeless column whose first value is null keeps the texts of its later rows.
TEST_F(TableTest, NullsReadAccordingToTheColumnKind) {
  Exec("CREATE TABLE n(i INTEGER, r REAL, t TEXT, b BLOB, u);"
       "INSERT INTO n VALUES(NULL, NULL, NULL, NULL, NULL);"
       "INSERT INTO n VALUES(1, 1.5, 'x', x'00', 'later');");
  auto table = query("SELECT * FROM n ORDER BY i");
  EXPECT_EQ(table->TextOf(u"i"), u"0");
  EXPECT_EQ(table->IntegerAt(0), 0);
  EXPECT_EQ(table->TextOf(u"r"), u"0");
  EXPECT_EQ(table->RealAt(1), 0.0);
  EXPECT_EQ(table->TextOf(u"t"), u"");
  EXPECT_EQ(table->TextOf(u"b"), u"");
  EXPECT_EQ(table->BlobAt(3), nullptr);
  EXPECT_EQ(table->TextOf(u"u"), u"");
  ASSERT_TRUE(table->ToNextRow());
  EXPECT_EQ(table->TextOf(u"u"), u"later");
}

// Text survives the UTF-8 edge both ways: accents, CJK, a character outside the BMP (surrogate
// pair), and text is kept up to its first zero byte.
TEST_F(TableTest, NonAsciiTextRoundTrips) {
  const std::u16string name = u"Grüße €uro 漢字 \U0001F600";
  {
    RawConnection raw(dbPath());
    raw.Exec("CREATE TABLE s(softname TEXT)");
    raw.Exec("INSERT INTO s VALUES('" + rt::toUtf8(name) + "')");
    raw.Exec("INSERT INTO s VALUES('a' || char(0) || 'b')");
  }
  auto table = query("SELECT softname FROM s WHERE softname = '" + rt::toUtf8(name) + "' OR softname LIKE 'a%'");
  ASSERT_EQ(table->RowTotal(), 2);
  EXPECT_EQ(table->TextOf(u"softname"), name);
  table->ToNextRow();
  EXPECT_EQ(table->TextOf(u"softname"), u"a");
}

// Blobs: a copy of the bytes (zeros included) positioned at 0; an empty blob counts as none;
// blob text is the bytes as UTF-8 on every platform.
TEST_F(TableTest, BlobsAreCopiedAndEmptyOnesAreNone) {
  Exec("CREATE TABLE b(data BLOB, name TEXT);"
       "INSERT INTO b VALUES(x'00FF41', 'zeros');"
       "INSERT INTO b VALUES(x'', 'empty');"
       "INSERT INTO b VALUES(CAST('hé' AS BLOB), 'text');");
  auto table = query("SELECT * FROM b ORDER BY rowid");
  const rt::TMemoryStream* blob = table->BlobAt(0);
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob->DataSize(), 3);
  EXPECT_EQ(const_cast<rt::TMemoryStream*>(blob)->Position(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob->Memory()), 3), std::string("\0\xFF" "A", 3));
  EXPECT_EQ(table->BlobTextAt(0).size(), 3u);
  EXPECT_EQ(raisedMessage([&] { table->BlobAt(1); }), u"Not a Blob field");
  EXPECT_EQ(raisedMessage([&] { table->IntegerAt(0); }), u"Not an integer or numeric field");

  table->ToNextRow();
  EXPECT_EQ(table->BlobAt(0), nullptr);
  EXPECT_EQ(table->TextOf(u"data"), u"");
  table->ToNextRow();
  EXPECT_EQ(table->TextOf(u"data"), u"hé");
}

// Loading errors: a step that fails after rows were stored reports "Could not retrieve data" with
// the layout; a database busy in the middle of a load gives the bare busy message.
TEST_F(TableTest, LoadingErrorsAreReported) {
  Exec("CREATE TABLE t(n INTEGER); INSERT INTO t VALUES(1), (-9223372036854775808);");
  TSQLiteDatabase database(dbPath());
  EXPECT_EQ(raisedMessage([&] { database.QueryTable("SELECT abs(n) FROM t ORDER BY n DESC"); }),
            u"Could not retrieve data.\rError [1]: SQL error or missing database.\r"
            u"\"SELECT abs(n) FROM t ORDER BY n DESC\": integer overflow");
  EXPECT_EQ(raisedMessage([&] { database.QueryTable("SELECT * FROM nosuch"); }),
            u"Error executing SQL.\rError [1]: SQL error or missing database.\r\"SELECT * FROM nosuch\": "
            u"no such table: nosuch");
  EXPECT_EQ(raisedMessage([&] { database.QueryTable(""); }), u"Could not prepare SQL statement");

  // The schema is known to this connection now, so the lock is met by the first step.
  RawConnection other(dbPath());
  other.Exec("BEGIN EXCLUSIVE");
  EXPECT_EQ(raisedMessage([&] { database.QueryTable("SELECT * FROM t"); }), u"Could not prepare SQL statement");
  other.Exec("ROLLBACK");
  EXPECT_EQ(database.QueryTable("SELECT * FROM t")->RowTotal(), 2);
}

// Many rows and texts of every size, empty to 16 KB and one of 3 MB, all kept back to back: each
// cell reads back exactly what was stored, whatever texts lie before and after it.
TEST_F(TableTest, LargeResultsReadBackExactly) {
  auto textFor = [](int row) {
    static const int kLengths[] = {0, 1, 5, 127, 128, 300, 16383, 16384, 40};
    const int length = kLengths[row % 9];
    std::string text(length, static_cast<char>('a' + row % 26));
    if (length > 0) text.replace(0, std::min<std::size_t>(length, 6), std::to_string(row).substr(0, length));
    return text;
  };
  const int kRows = 3000;
  {
    RawConnection raw(dbPath());
    raw.Exec("CREATE TABLE big(id INTEGER, s TEXT, r REAL); BEGIN;");
    for (int row = 0; row < kRows; ++row) {
      raw.Exec("INSERT INTO big VALUES(" + std::to_string(row) + ", '" + textFor(row) + "', " +
               std::to_string(row) + ".5)");
    }
    raw.Exec("INSERT INTO big VALUES(-1, printf('%.*c', 3000000, 'q'), NULL); COMMIT;");
  }
  auto table = query("SELECT * FROM big ORDER BY id");
  ASSERT_EQ(table->RowTotal(), kRows + 1);
  EXPECT_EQ(table->TextOf(u"s"), std::u16string(3000000, u'q'));
  for (int row = 0; row < kRows; ++row) {
    ASSERT_TRUE(table->ToNextRow());
    ASSERT_EQ(table->IntegerAt(0), row);
    ASSERT_EQ(rt::toUtf8(table->TextAt(1)), textFor(row)) << row;
    ASSERT_DOUBLE_EQ(table->RealAt(2), row + 0.5);
  }
}

// Cells stored with another type than their column's kind read by their own type. An integer
// column (not the key) holding a null, a real, a text; a table without declared types whose first
// name is a number: no name or key turns into "0" or "2", and a real reads back exactly.
TEST_F(TableTest, CellsReadByTheirOwnStoredType) {
  Exec("CREATE TABLE t(ID INTEGER, name);"
       "INSERT INTO t VALUES(7, 1234);"
       "INSERT INTO t VALUES(NULL, 'Notepad');"
       "INSERT INTO t VALUES(2.7, 0.1 + 0.2);"
       "INSERT INTO t VALUES('abc', x'68C3A9');"
       "INSERT INTO t VALUES(9007199254740993, 'GR\u00d6\u00dfE');");
  auto table = query("SELECT * FROM t ORDER BY rowid");
  const auto row = [&] { return rt::toUtf8(table->TextOf(u"ID")) + "|" + rt::toUtf8(table->TextOf(u"name")); };
  EXPECT_EQ(row(), "7|1234");
  EXPECT_EQ(table->ValueOf(u"ID").type, StorageClass::Integer);
  table->ToNextRow();
  EXPECT_EQ(row(), "0|Notepad");  // a null still reads "0" in an integer column...
  EXPECT_TRUE(table->ValueOf(u"ID").IsNull());  // ...but its value says it is none
  EXPECT_EQ(table->ValueOf(u"name").type, StorageClass::Text);
  table->ToNextRow();
  EXPECT_EQ(row(), "2.7|0.30000000000000004");
  EXPECT_EQ(table->ValueOf(u"ID").type, StorageClass::Real);
  EXPECT_EQ(table->ValueOf(u"ID").real, 2.7);
  EXPECT_EQ(table->IntegerAt(0), 2);
  table->ToNextRow();
  EXPECT_EQ(row(), "abc|h\u00e9");
  EXPECT_EQ(raisedMessage([&] { table->IntegerAt(0); }), u"Not an integer or numeric field");
  EXPECT_EQ(table->ValueOf(u"name").type, StorageClass::Blob);
  table->ToNextRow();
  EXPECT_EQ(row(), "9007199254740993|GR\u00d6\u00dfE");
  EXPECT_EQ(table->ValueOf(u"ID").integer, 9007199254740993);
}

// Column names come from the library as UTF-8, so a non-ASCII name is found by its own spelling.
TEST_F(TableTest, NonAsciiColumnNamesAreFound) {
  Exec("CREATE TABLE g(\"GR\u00d6\u00dfE\" INTEGER, \"h\u00e9\" TEXT); INSERT INTO g VALUES(3, 'x');");
  auto table = query("SELECT * FROM g");
  EXPECT_EQ(table->TextOf(u"GR\u00d6\u00dfE"), u"3");
  EXPECT_EQ(table->TextOf(u"h\u00e9"), u"x");
}

}  // namespace
}  // namespace catalog

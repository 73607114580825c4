// The database itself planted as a FIFO, and a catalogue reached through a link: on POSIX systems
// SQLite names the companions after the file the link leads to, so they are checked there too.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "catalog/ESQLiteException.h"
#include "catalog/operateREDU.h"
#include "tests/catalog/CatalogFixture.h"
#include "tests/support/Catalogue.h"
#include "tests/support/PlantedFiles.h"

namespace catalog {
namespace {

using catalogtest::CatalogTest;
using catalogtest::raisedMessage;
using catalogtest::textKey;

// A FIFO as the database: its first read would wait for a writer for ever; it is refused at once.
TEST_F(CatalogTest, FifoAsDatabaseIsUnreadable) {
  ASSERT_TRUE(testsupport::makeFifo(folder_.path() / "REDU.sqlite"));
  EXPECT_EQ(raisedMessage([&] { selectRows(dbPath(), u"software_data", u""); }),
            u"Failed to open database \"" + dbPath() + u"\" : \"" + dbPath() + u"\" is not a regular file");
}

// DB/REDU.sqlite a link to the real catalogue: it reads as before; a folder planted beside the
// link's target, where SQLite puts the journal of that database, makes it unreadable.
TEST_F(CatalogTest, LinkedDatabaseHasItsCompanionsCheckedBesideItsTarget) {
  const std::filesystem::path real = folder_.path() / "real" / "catalogue.db";
  testsupport::writeCatalogue(real, {{1}});
  ASSERT_TRUE(testsupport::makeSymbolicLink(real, folder_.path() / "REDU.sqlite"));
  auto table = selectRows(dbPath(), u"software_data", u"pin = '0'");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->RowTotal(), 1);

  std::filesystem::create_directory(folder_.path() / "real" / "catalogue.db-journal");
  EXPECT_EQ(raisedMessage([&] { updateColumn(u"pin", u"1", u"ID", textKey(u"1"), dbPath(), u"software_data"); }),
            u"Failed to open database \"" + dbPath() + u"\" : \"" + (real.u16string() + u"-journal") +
                u"\" is not a regular file");
}

}  // namespace
}  // namespace catalog

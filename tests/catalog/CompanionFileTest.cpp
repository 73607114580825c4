// The catalogue's companion files (journal, write-ahead log, its index) planted as something other
// than a regular file: every connection open refuses the catalogue as unreadable, at once, with the
// open failure's message, before SQLite opens anything that could wait or write through a link.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include "catalog/ESQLiteException.h"
#include "catalog/TSQLiteDatabase.h"
#include "catalog/operateREDU.h"
#include "runtime/Text.h"
#include "tests/catalog/CatalogFixture.h"
#include "tests/support/Catalogue.h"
#include "tests/support/PlantedFiles.h"

namespace catalog {
namespace {

using catalogtest::CatalogTest;
using catalogtest::raisedMessage;
using catalogtest::textKey;

constexpr const char* kSuffixes[] = {"-journal", "-wal", "-shm"};

class CompanionFileTest : public CatalogTest {
 protected:
  void SetUp() override { testsupport::writeCatalogue(folder_.path() / "REDU.sqlite", {{1, "Alpha", "C:\\a.exe"}}); }
  std::filesystem::path companion(const char* suffix) const { return folder_.path() / (std::string("REDU.sqlite") + suffix); }

  // Both catalogue calls open their own connection, and both must refuse: the select and the
  // update each raise the open failure naming the planted file, and the row stays pending.
  void expectUnreadable(const std::filesystem::path& planted) {
    const std::u16string expected = u"Failed to open database \"" + dbPath() + u"\" : \"" + planted.u16string() +
                                    u"\" is not a regular file";
    EXPECT_EQ(raisedMessage([&] { selectRows(dbPath(), u"software_data", u"pin = '0'"); }), expected);
    EXPECT_EQ(raisedMessage([&] { updateColumn(u"pin", u"1", u"ID", textKey(u"1"), dbPath(), u"software_data"); }),
              expected);
    EXPECT_EQ(raisedMessage([&] { TSQLiteDatabase database(dbPath()); }), expected);
  }
};

// A folder in place of each companion: unreadable; once it is gone, the same catalogue reads and
// updates as always (a regular, empty leftover companion is no reason to refuse).
TEST_F(CompanionFileTest, FolderAsCompanionMakesTheCatalogueUnreadable) {
  for (const char* suffix : kSuffixes) {
    SCOPED_TRACE(suffix);
    std::filesystem::create_directory(companion(suffix));
    expectUnreadable(companion(suffix));
    std::filesystem::remove(companion(suffix));
  }
  testsupport::writeFileBytes(companion("-wal"), "");
  auto table = selectRows(dbPath(), u"software_data", u"pin = '0'");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->RowTotal(), 1);
  updateColumn(u"pin", u"1", u"ID", textKey(u"1"), dbPath(), u"software_data");
  EXPECT_EQ(Scalar("SELECT pin FROM software_data WHERE ID = 1"), "1");
}

// A link in place of a companion, to a file or a folder, is refused whatever it leads to: SQLite
// would write the journal through it. The link's target is left alone.
TEST_F(CompanionFileTest, LinkAsCompanionMakesTheCatalogueUnreadable) {
  const std::filesystem::path elsewhere = folder_.path() / "elsewhere.txt";
  testsupport::writeFileBytes(elsewhere, "not a journal");
  std::filesystem::create_directory(folder_.path() / "elsewhere");
  const testsupport::RemovedAtEnd shm(companion("-shm"));
  const testsupport::RemovedAtEnd journal(companion("-journal"));
  ASSERT_TRUE(testsupport::makeSymbolicLink(folder_.path() / "elsewhere", companion("-shm")))
      << "no symbolic link could be made here";
  ASSERT_TRUE(testsupport::systemShowsLink(companion("-shm")));
  expectUnreadable(companion("-shm"));
  testsupport::removePlanted(companion("-shm"));

  ASSERT_TRUE(testsupport::makeSymbolicLink(elsewhere, companion("-journal")));
  if (!testsupport::systemShowsLink(companion("-journal"))) {
    GTEST_SKIP() << "this system shows a symbolic link to a file as the file itself (Wine 8 does), so no "
                    "program on it can tell the two apart";
  }
  expectUnreadable(companion("-journal"));
  EXPECT_EQ(testsupport::readFileBytes(elsewhere), "not a journal");
}

// A FIFO in place of a companion: refused at once. Without the check, the Linux build waited in
// SQLite's open of the journal for ever. The test has its own deadline: past it, the FIFO is
// released so that the failing call can end.
TEST_F(CompanionFileTest, FifoAsCompanionIsRefusedWithoutWaiting) {
  for (const char* suffix : kSuffixes) {
    SCOPED_TRACE(suffix);
    const testsupport::RemovedAtEnd fifo(companion(suffix));  // a delete through the file layer could open it
    if (!testsupport::makeFifo(companion(suffix))) GTEST_SKIP() << "no FIFO can be made on this system";
    auto refused = std::async(std::launch::async, [&] {
      return raisedMessage([&] { selectRows(dbPath(), u"software_data", u"pin = '0'"); });
    });
    if (refused.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the catalogue's open waited on the FIFO";
      while (refused.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready) {
        testsupport::releaseFifo(companion(suffix));
      }
    }
    EXPECT_EQ(refused.get(), u"Failed to open database \"" + dbPath() + u"\" : \"" + companion(suffix).u16string() +
                                 u"\" is not a regular file");
  }
}

}  // namespace
}  // namespace catalog

// The real program, started from a folder of its own as a user would start it.
#include <gtest/gtest.h>

#include "tests/support/Catalogue.h"
#include "tests/support/PeWriter.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

class ProgramRun : public testing::Test {
 protected:
  testsupport::TempFolder folder;
  testsupport::TempFolder runtimeDir;
  fs::path program = testsupport::installProgram(TALVENOOK_BINARY, folder.path());

  std::vector<std::string> folderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // A catalogue database that exists but has no software_data table (an empty file is an empty
  // database to SQLite).
  void writeCatalogueWithoutTable() {
    fs::create_directories(folder.path() / "DB");
    testsupport::writeFileBytes(folder.path() / "DB" / "REDU.sqlite", "");
  }
};

// Without DB/ beside it, the program ends at once, silently, and creates nothing.
TEST_F(ProgramRun, WithoutACatalogueItExitsAtOnceAndCreatesNothing) {
  const auto result = testsupport::runProgram(program, runtimeDir.path());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_LT(result.seconds, 5);
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"talvenook"});
}

// A catalogue without the table: one error line (title, ": ", message), exit code 0, no images.
TEST_F(ProgramRun, ACatalogueErrorIsReportedOnceAndTheExitCodeIsZero) {
  writeCatalogueWithoutTable();
  const auto result = testsupport::runProgram(program, runtimeDir.path());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.errorOutput.rfind("talvenook: Error executing SQL.\rError [1]: SQL error or missing database.\r", 0), 0u)
      << result.errorOutput;
  EXPECT_NE(result.errorOutput.find("\" SELECT * FROM software_data where pin = '0' AND exticon = '1'\": no such table"),
            std::string::npos);
  EXPECT_EQ(std::count(result.errorOutput.begin(), result.errorOutput.end(), '\n'), 1);
  EXPECT_EQ(result.errorOutput.back(), '\n');
  EXPECT_EQ(folderEntries(), (std::vector<std::string>{"DB", "talvenook"}));
}

// While another instance holds the lock the program exits at once without reading anything;
// once the lock is free again it runs.
TEST_F(ProgramRun, ASecondInstanceExitsAtOnceWithoutReadingAnything) {
  writeCatalogueWithoutTable();
  {
    testsupport::InstanceLockHolder firstInstance(runtimeDir.path());
    const auto refused = testsupport::runProgram(program, runtimeDir.path());
    EXPECT_EQ(refused.exitCode, 0);
    EXPECT_EQ(refused.errorOutput, "");  // it never opened the catalogue
    EXPECT_LT(refused.seconds, 5);
  }
  const auto later = testsupport::runProgram(program, runtimeDir.path());
  EXPECT_EQ(later.exitCode, 0);
  EXPECT_NE(later.errorOutput.find("Error executing SQL"), std::string::npos);
}

// Every row whose executable has an icon gets image/<row number>.ico, a 48x48 32-bit ICO; a row
// without one uses up its number. Rows already sent are not selected.
TEST_F(ProgramRun, WritesAnIconFileForEveryPendingRowWithAnIcon) {
  const std::vector<std::uint32_t> pixels(32 * 32, 0xFF2080C0);
  testsupport::writeIconExecutable(folder.path() / "app.exe", 32, pixels, 0x00010000, 0, u"1.0");

  const std::string exe = (folder.path() / "app.exe").string();
  testsupport::writeCatalogue(folder.path() / "DB" / "REDU.sqlite",
                              {{1, "One", exe}, {2, "Missing", exe + ".gone"}, {3, "Sent", exe, "1"},
                               {4, "Three", exe}});

  const auto result = testsupport::runProgram(program, runtimeDir.path());
  EXPECT_EQ(result.exitCode, 0);
  std::vector<std::string> images;
  for (const auto& file : fs::directory_iterator(folder.path() / "image")) images.push_back(file.path().filename().string());
  std::sort(images.begin(), images.end());
  EXPECT_EQ(images, (std::vector<std::string>{"0.ico", "2.ico"}));
  const std::string ico = testsupport::readFileBytes(folder.path() / "image" / "0.ico");
  EXPECT_EQ(ico.size(), 9662u);
  EXPECT_EQ(ico, testsupport::readFileBytes(folder.path() / "image" / "2.ico"));
}

}  // namespace

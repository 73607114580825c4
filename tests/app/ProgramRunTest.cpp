// The real program, started from a folder of its own as a user would start it.
#include <gtest/gtest.h>

#include <sqlite3.h>

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

  // A catalogue database that exists but has no software_data table.
  void writeCatalogueWithoutTable() {
    fs::create_directories(folder.path() / "DB");
    sqlite3* db = nullptr;
    sqlite3_open((folder.path() / "DB" / "REDU.sqlite").c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE other (x);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
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

}  // namespace

// talvenook.exe under Wine against the reference PHP icon service on 127.0.0.1:8750: the demo's
// sample software (names with spaces, "&", "+", "=", an apostrophe, accents and CJK, in folders
// with such names) and three of Wine's own programs. One pass uploads and marks every pending row;
// the service stores every icon byte for byte as written in image\ and every name exactly as
// catalogued; a second pass finds nothing pending and sends nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/e2e/windows/IconService.h"
#include "tests/e2e/windows/WindowsProgramFolder.h"

namespace {

namespace fs = std::filesystem;
using wintest::queryColumn;
using wintest::WindowsProgramFolder;

/** $bytes as SQLite's hex() writes them: two upper-case digits a byte. */
std::string upperHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::vector<std::string> sorted(std::vector<std::string> values) {
  std::sort(values.begin(), values.end());
  return values;
}

// tools/sample_catalogue.sh lays out the samples and the catalogue in the program folder with
// Linux paths; they become the Windows paths of the same files (C:\talvenook\samples\...).
int writeSamples(const WindowsProgramFolder& program) {
  const fs::path log = program.logs() / "samples.log";
  const int status = wintest::runCommand(
      {fs::path(TALVENOOK_SOURCE_DIR) / "tools" / "sample_catalogue.sh", program.folder().string(), MAKE_SAMPLE_PE}, {},
      log, 120);
  if (status != 0) throw std::runtime_error("sample_catalogue.sh failed: " + testsupport::readFileBytes(log));
  const std::string driveC = program.prefix().driveC().string() + "/";
  wintest::executeSql(program.folder() / "DB" / "REDU.sqlite",
                      "UPDATE software_data SET exepath = 'C:\\' || replace(substr(exepath, " +
                          std::to_string(driveC.size() + 1) +
                          "), '/', '\\');"
                          "INSERT INTO software_data VALUES (20, 'Wine Notepad', "
                          "'C:\\windows\\system32\\notepad.exe', '0', '1');"
                          "INSERT INTO software_data VALUES (21, 'Regedit & Registry', 'C:\\windows\\regedit.exe', "
                          "'0', '1');"
                          "INSERT INTO software_data VALUES (22, 'WinHelp = Hilfe+', "
                          "'C:\\windows\\system32\\winhlp32.exe', '0', '1');");
  return static_cast<int>(queryColumn(program.folder() / "DB" / "REDU.sqlite",
                                      "SELECT ID FROM software_data WHERE pin = '0' AND exticon = '1'")
                              .size());
}

TEST(WindowsServicePass, EveryRowUploadedAndStoredByteForByte) {
  WindowsProgramFolder program;
  const int pending = writeSamples(program);
  ASSERT_EQ(pending, 9);
  const fs::path catalogue = program.folder() / "DB" / "REDU.sqlite";
  ASSERT_EQ(queryColumn(catalogue, "SELECT exepath FROM software_data WHERE ID = 3"),
            std::vector<std::string>{"C:\\talvenook\\samples\\WordPro\\\u6587\u5b57\u5904\u7406\u5668.exe"});
  wintest::IconService service(program.logs() / "service-data", program.logs() / "service.log");

  // --- one pass sends every row and marks it
  const auto result = program.run(240);
  EXPECT_EQ(result.exitCode, 0) << result.reports;
  EXPECT_EQ(result.reports, "");
  EXPECT_EQ(queryColumn(catalogue, "SELECT count(*) FROM software_data WHERE ID < 100 AND pin = '1'"),
            std::vector<std::string>{std::to_string(pending)});
  EXPECT_EQ(queryColumn(catalogue, "SELECT ID || '|' || pin || '|' || exticon FROM software_data WHERE ID >= 100"),
            (std::vector<std::string>{"100|1|1", "101|0|0"}));
  const auto replies = std::count_if(result.debugLines.begin(), result.debugLines.end(), [](const std::string& line) {
    return line.rfind("ResponseStream: {\"success\":true", 0) == 0;
  });
  EXPECT_EQ(replies, 2 * pending);  // one existence reply and one upload reply per row

  // --- the service holds each name exactly as catalogued, and each icon as written
  EXPECT_EQ(sorted(queryColumn(service.store(), "SELECT name FROM talvenook_icons")),
            sorted(queryColumn(catalogue, "SELECT softname FROM software_data WHERE ID < 100")));
  const auto versions = sorted(queryColumn(service.store(),
                                           "SELECT version FROM talvenook_icons WHERE name NOT IN "
                                           "('Wine Notepad', 'Regedit & Registry', 'WinHelp = Hilfe+')"));
  EXPECT_EQ(versions, (std::vector<std::string>{"0.9.1.4", "1.0.3.7", "2.4.1.0", "3.0.0.12", "5.1.0.2", "8.6.2.0"}));
  // The service keeps each icon's bytes once, in its database.
  std::set<std::string> stored;
  for (const auto& hex : queryColumn(service.store(), "SELECT hex(icon) FROM talvenook_icon_blobs")) stored.insert(hex);
  int written = 0;
  for (const auto& entry : fs::directory_iterator(program.folder() / "image")) {
    ++written;
    EXPECT_TRUE(stored.contains(upperHex(testsupport::readFileBytes(entry.path()))))
        << entry.path() << " is not stored as written";
  }
  EXPECT_EQ(written, pending);
  EXPECT_EQ(queryColumn(service.store(), "SELECT count(*) FROM talvenook_icons"),
            std::vector<std::string>{std::to_string(pending)});

  // --- a second pass finds nothing pending
  const int requestsBefore = service.requestsLogged();
  EXPECT_EQ(requestsBefore, 2 * pending);
  const auto second = program.run();
  EXPECT_EQ(second.exitCode, 0) << second.reports;
  EXPECT_TRUE(second.debugLines.empty());
  EXPECT_EQ(service.requestsLogged(), requestsBefore);
}

}  // namespace

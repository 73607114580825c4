// Both builds against the reference icon service, each row's upload on its own: what a row's
// icon holds cannot make the service store it under another name and version, and a row is
// marked by its own upload only, never by another row's that shares its key.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sstream>

#include "tests/e2e/windows/IconService.h"
#include "tests/e2e/windows/LinuxProgramFolder.h"
#include "tests/e2e/windows/WindowsProgramFolder.h"
#include "tests/support/PeWriter.h"

namespace {

namespace fs = std::filesystem;
using wintest::queryColumn;

// 3 December 2013, 14:05:09.007 UTC, and the stamp that moment gives an upload's boundary.
constexpr char kPinnedClock[] = "1386079509.007";
constexpr char kPinnedStamp[] = "120313140509007";

// Variables set for as long as it lives; children started meanwhile inherit them.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const wintest::Environment& variables) {
    for (const auto& [name, value] : variables) {
      const char* before = std::getenv(name.c_str());
      saved_.emplace_back(name, before ? std::optional<std::string>(before) : std::nullopt);
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, before] : saved_) before ? setenv(name.c_str(), before->c_str(), 1) : unsetenv(name.c_str());
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A well-formed 1x1 32-bit ICO file: the icon a forger's own part would carry.
std::string tinyIcon() {
  std::string ico("\0\0\1\0\1\0\1\1\0\0\1\0\x20\0", 14);
  ico += std::string("\x30\0\0\0\x16\0\0\0", 8);  // 48 bytes of image at offset 22
  std::string header(40, '\0');
  testsupport::putU32(header, 0, 40);
  testsupport::putU32(header, 4, 1);
  testsupport::putU32(header, 8, 2);
  testsupport::putU16(header, 12, 1);
  testsupport::putU16(header, 14, 32);
  return ico + header + std::string("\x10\x20\x30\xFF", 4) + std::string(4, '\0');
}

// The pixel bytes, as the ICO file holds them, of an icon that ends its own part at the delimiter
// of each stamp's boundary and goes on with forged parts: another name and version, an icon of
// their own, and the closing line.
std::string forgingPixelBytes(const std::vector<std::string>& stamps) {
  std::string bytes;
  for (const std::string& stamp : stamps) {
    const std::string delimiter = "\r\n----------" + stamp;
    bytes += delimiter + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nVictim Suite" + delimiter +
             "\r\nContent-Disposition: form-data; name=\"version\"\r\n\r\n9.9.9.9" + delimiter +
             "\r\nContent-Disposition: form-data; name=\"icon\"; filename=\"forged.ico\"\r\n"
             "Content-Type: image/x-icon\r\n\r\n" +
             tinyIcon() + delimiter + "--\r\n";
  }
  bytes.resize(48 * 48 * 4, '\xFF');
  return bytes;
}

// A 48x48 32-bit icon whose pixels are `bytes` (bottom row first, blue, green, red, alpha), in an
// executable of file version 1.2.3.4.
void writeExecutableWithPixelBytes(const fs::path& path, const std::string& bytes) {
  std::vector<std::uint32_t> pixels(48 * 48);
  for (size_t stored = 0; stored < pixels.size(); ++stored) {
    const auto byte = [&](size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[stored * 4 + i])); };
    const size_t row = 47 - stored / 48, column = stored % 48;  // the writer takes the top row first
    pixels[row * 48 + column] = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
  }
  fs::create_directories(path.parent_path());
  testsupport::writeIconExecutable(path, 48, pixels, (1u << 16) | 2u, (3u << 16) | 4u, u"1.2.3.4");
}

enum class Build { Linux, Windows };

// One build's pass over a catalogue of fixtures, against the reference service in the suite's
// private network, with the wall clock pinned to kPinnedClock in UTC.
class RowIsolation : public testing::TestWithParam<Build> {
 protected:
  wintest::WindowsProgramFolder windowsRun;  // its prefix holds the fixtures of both builds
  wintest::LinuxProgramFolder linuxRun;
  wintest::IconService service{windowsRun.logs() / "service-data", windowsRun.logs() / "service.log"};

  bool onWindows() const { return GetParam() == Build::Windows; }
  fs::path programFolder() const { return onWindows() ? windowsRun.folder() : linuxRun.folder(); }
  fs::path catalogue() const { return programFolder() / "DB" / "REDU.sqlite"; }
  // A fixture's path as the build under test names it.
  std::string fixture(const std::string& name) const {
    return onWindows() ? windowsRun.fixturePath(name) : (windowsRun.fixtures() / name).string();
  }
  // A table software_data whose ID is no key, holding (ID, softname, fixture) rows, all pending.
  void writeCatalogue(const std::vector<std::tuple<int, std::string, std::string>>& rows) const {
    std::vector<testsupport::CatalogueRow> catalogueRows;
    for (const auto& [id, name, file] : rows) catalogueRows.push_back({id, name, fixture(file)});
    testsupport::writeCatalogue(catalogue(), catalogueRows,
                                "ID INTEGER, softname TEXT, exepath TEXT, pin TEXT, exticon TEXT");
  }
  std::vector<std::string> pins() const {
    return queryColumn(catalogue(), "SELECT pin FROM software_data ORDER BY rowid");
  }
  std::string image(int n) const {
    return testsupport::readFileBytes(programFolder() / "image" / (std::to_string(n) + ".ico"));
  }

  // The pass's debug lines.
  std::vector<std::string> runPass() {
    const ScopedEnvironment pinned(
        {{"LD_PRELOAD", E2E_PINNED_CLOCK_LIBRARY}, {"TALVENOOK_E2E_CLOCK", kPinnedClock}, {"TZ", "UTC"}});
    if (onWindows()) {
      const auto result = windowsRun.run(240);
      EXPECT_EQ(result.exitCode, 0) << result.reports;
      return result.debugLines;
    }
    const auto result = linuxRun.run();
    EXPECT_EQ(result.exitCode, 0) << result.errorOutput;
    std::vector<std::string> lines;
    std::istringstream output(result.errorOutput);
    for (std::string line; std::getline(output, line);) lines.push_back(line);
    return lines;
  }
};

// The icon's pixels hold the delimiters of the boundary its upload gets at the pinned moment and
// of the next millisecond's, each followed by forged fields: the upload takes the boundary after
// both, and the service stores the icon, byte for byte, under the row's own name and version and
// nothing else.
TEST_P(RowIsolation, IconPixelsCannotForgeTheUploadsFields) {
  const std::string stamp = kPinnedStamp;
  const std::string next = stamp.substr(0, 12) + "008";
  writeExecutableWithPixelBytes(windowsRun.fixtures() / "forger.exe", forgingPixelBytes({stamp, next}));
  writeCatalogue({{1, "Honest Tool", "forger.exe"}});

  const auto lines = runPass();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "multipart/form-data; boundary=--------120313140509009"),
            lines.end())
      << testing::PrintToString(lines);
  EXPECT_NE(image(0).find(forgingPixelBytes({stamp, next}).substr(0, 400)), std::string::npos)
      << "the icon's pixels did not reach its file unchanged";
  EXPECT_EQ(queryColumn(service.store(), "SELECT name || '|' || version FROM talvenook_icons"),
            std::vector<std::string>{"Honest Tool|1.2.3.4"});
  EXPECT_EQ(queryColumn(service.store(), "SELECT count(*) FROM talvenook_icon_blobs"), std::vector<std::string>{"1"});
  EXPECT_EQ(queryColumn(service.store(), "SELECT length(icon) FROM talvenook_icon_blobs"),
            std::vector<std::string>{std::to_string(image(0).size())});
  EXPECT_EQ(pins(), std::vector<std::string>{"1"});
}

// Two rows share the key 7: each is asked for and uploaded on its own, but neither update may
// mark both, so both stay pending and the debug channel says why; the row with a key of its own
// is marked.
TEST_P(RowIsolation, RowsSharingAKeyAreNotMarkedByEachOthersUpload) {
  wintest::writeIconExecutable(windowsRun.fixtures() / "one.exe", 0xFF2060C0);
  wintest::writeIconExecutable(windowsRun.fixtures() / "two.exe", 0xFF20C060);
  wintest::writeIconExecutable(windowsRun.fixtures() / "three.exe", 0xFFC06020);
  writeCatalogue({{7, "Twin One", "one.exe"}, {7, "Twin Two", "two.exe"}, {8, "Single", "three.exe"}});

  const auto lines = runPass();
  const std::string why = "updateColumn: ID 7 names 2 rows of software_data; none was changed";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), why), 2) << testing::PrintToString(lines);
  EXPECT_EQ(pins(), (std::vector<std::string>{"0", "0", "1"}));
  EXPECT_EQ(queryColumn(service.store(), "SELECT name FROM talvenook_icons ORDER BY name"),
            (std::vector<std::string>{"Single", "Twin One", "Twin Two"}));
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, RowIsolation, testing::Values(Build::Linux, Build::Windows),
                         [](const testing::TestParamInfo<Build>& param) {
                           return param.param == Build::Windows ? "Windows" : "Linux";
                         });

}  // namespace

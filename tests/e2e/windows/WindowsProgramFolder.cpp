// Program folder of talvenook.exe inside a private Wine prefix.
#include "tests/e2e/windows/WindowsProgramFolder.h"

#include <stdexcept>

#include "tests/support/PeWriter.h"

namespace wintest {
namespace fs = std::filesystem;

fs::path WindowsArtefacts::program() { return fs::path(TALVENOOK_WINDOWS_BUILD) / "app" / "talvenook.exe"; }
fs::path WindowsArtefacts::debugrun() {
  return fs::path(TALVENOOK_WINDOWS_BUILD) / "tools" / "windows" / "debugrun" / "debugrun.exe";
}
fs::path WindowsArtefacts::probe() {
  return fs::path(TALVENOOK_WINDOWS_BUILD) / "tools" / "windows" / "debugrun" / "debugrun_probe.exe";
}
fs::path WindowsArtefacts::swaprename() {
  return fs::path(TALVENOOK_WINDOWS_BUILD) / "tools" / "windows" / "swaprename" / "swaprename.exe";
}
fs::path WindowsArtefacts::winePrefixTemplate() { return WINDOWS_E2E_PREFIX_TEMPLATE; }

fs::path WindowsArtefacts::sqliteLibrary() {
  if (fs::exists(program().parent_path() / "sqlite3.dll")) return program().parent_path() / "sqlite3.dll";
  const fs::path build = TALVENOOK_WINDOWS_BUILD;
  for (auto entry = fs::recursive_directory_iterator(build, fs::directory_options::skip_permission_denied);
       entry != fs::recursive_directory_iterator(); ++entry) {
    if (entry->is_directory() && entry->path().filename() == "wine-prefix") {
      entry.disable_recursion_pending();  // the build's own prefix holds no build output
      continue;
    }
    if (entry->path().filename() == "sqlite3.dll") return entry->path();
  }
  throw std::runtime_error("no sqlite3.dll in " + build.string());
}

void writeIconExecutable(const fs::path& path, std::uint32_t colour) {
  std::vector<std::uint32_t> pixels(48 * 48, colour);
  for (int i = 0; i < 48; ++i) pixels[static_cast<std::size_t>(i * 48 + i)] = 0xFF000000;
  fs::create_directories(path.parent_path());
  testsupport::writeIconExecutable(path, 48, pixels, (1u << 16) | 2u, (3u << 16) | 4u, u"1.2.3.4");
}

WindowsProgramFolder::WindowsProgramFolder() : prefix_(WindowsArtefacts::winePrefixTemplate()) {
  fs::create_directories(folder());
  fs::create_directories(fixtures());
  fs::copy_file(WindowsArtefacts::program(), folder() / "talvenook.exe");
  fs::copy_file(WindowsArtefacts::sqliteLibrary(), folder() / "sqlite3.dll");
}

void writeCatalogueFile(const fs::path& database, const std::vector<CatalogueRow>& rows) {
  std::vector<testsupport::CatalogueRow> catalogue;
  for (const CatalogueRow& row : rows) catalogue.push_back({nullptr, row.name, row.exepath});
  testsupport::writeCatalogue(database, catalogue);
}

void WindowsProgramFolder::writeCatalogue(const std::vector<CatalogueRow>& rows) const {
  writeCatalogueFile(folder() / "DB" / "REDU.sqlite", rows);
}

void WindowsProgramFolder::writeCatalogueWithoutTable() const {
  fs::create_directories(folder() / "DB");
  executeSql(folder() / "DB" / "REDU.sqlite", "CREATE TABLE something_else (ID INTEGER PRIMARY KEY);");
}

std::vector<std::string> WindowsProgramFolder::pins() const {
  return queryColumn(folder() / "DB" / "REDU.sqlite", "SELECT pin FROM software_data ORDER BY ID");
}

bool WindowsProgramFolder::imageExists(int n) const {
  return fs::exists(folder() / "image" / (std::to_string(n) + ".ico"));
}

std::string WindowsProgramFolder::image(int n) const {
  return testsupport::readFileBytes(folder() / "image" / (std::to_string(n) + ".ico"));
}

DebuggedResult WindowsProgramFolder::run(double deadlineSeconds) const {
  return runDebugged(prefix_, WindowsArtefacts::debugrun(), programPath(), folder(), logs(), deadlineSeconds);
}

std::unique_ptr<DebuggedRun> WindowsProgramFolder::start(double deadlineSeconds) const {
  return std::make_unique<DebuggedRun>(prefix_, WindowsArtefacts::debugrun(), programPath(), std::vector<std::string>{},
                                       folder(), logs(), deadlineSeconds);
}

}  // namespace wintest

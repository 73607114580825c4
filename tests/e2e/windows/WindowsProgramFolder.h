// The Windows build's talvenook.exe installed in C:\talvenook of a private Wine prefix, with
// sqlite3.dll beside it, a catalogue DB\REDU.sqlite whose exepath values are Windows paths, and
// fixture executables under C:\fixtures. Runs go through debugrun.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/windows/DebuggedRun.h"
#include "tests/e2e/windows/WinePrefix.h"
#include "tests/support/Catalogue.h"
#include "tests/support/TempFolder.h"

namespace wintest {

// Where the Windows build put its artefacts.
struct WindowsArtefacts {
  static std::filesystem::path program();        // app/talvenook.exe
  static std::filesystem::path debugrun();       // tools/windows/debugrun/debugrun.exe
  static std::filesystem::path probe();          // tools/windows/debugrun/debugrun_probe.exe
  static std::filesystem::path swaprename();     // tools/windows/swaprename/swaprename.exe
  static std::filesystem::path sqliteLibrary();  // sqlite3.dll, beside the program or elsewhere in the build
  static std::filesystem::path winePrefixTemplate();
};

struct CatalogueRow {
  std::string name;
  std::string exepath;  // a Windows path, stored as it is
};

class WindowsProgramFolder {
 public:
  WindowsProgramFolder();

  const WinePrefix& prefix() const { return prefix_; }
  std::filesystem::path folder() const { return prefix_.driveC() / "talvenook"; }
  std::filesystem::path fixtures() const { return prefix_.driveC() / "fixtures"; }
  static std::string programPath() { return "C:\\talvenook\\talvenook.exe"; }
  static std::string imagePath(int n) { return "C:\\talvenook\\image\\" + std::to_string(n) + ".ico"; }
  // C:\fixtures\<name>
  std::string fixturePath(const std::string& name) const { return "C:\\fixtures\\" + name; }

  // DB\REDU.sqlite with one pending row per entry, IDs from 1 (UTF-8 text).
  void writeCatalogue(const std::vector<CatalogueRow>& rows) const;
  // A catalogue file that has no table software_data.
  void writeCatalogueWithoutTable() const;
  std::vector<std::string> pins() const;

  bool imageExists(int n) const;
  std::string image(int n) const;

  // Runs talvenook.exe from its folder under debugrun.
  DebuggedResult run(double deadlineSeconds = 90) const;
  // Starts it without waiting.
  std::unique_ptr<DebuggedRun> start(double deadlineSeconds = 90) const;

  const std::filesystem::path& logs() const { return logs_.path(); }

 private:
  testsupport::TempFolder logs_;
  WinePrefix prefix_;
};

// 48x48 32-bit icon of one colour with a dark diagonal, file version 1.2.3.4.
void writeIconExecutable(const std::filesystem::path& path, std::uint32_t colour);

// A catalogue file `database` (folders made) with one pending row per entry, IDs from 1.
void writeCatalogueFile(const std::filesystem::path& database, const std::vector<CatalogueRow>& rows);

// SQL on the catalogue and the service's store (tests/support/Catalogue.h).
using testsupport::executeSql;
using testsupport::queryColumn;

}  // namespace wintest

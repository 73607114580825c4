// The Linux build's talvenook in a temporary program folder, run beside talvenook.exe on the same
// catalogue rows and the same executables, so the Windows build's requests and messages can be
// compared with the Linux build's byte for byte. Inside the suite's private network it reaches
// 127.0.0.1:8750 directly.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/windows/WindowsProgramFolder.h"
#include "tests/support/TempFolder.h"

namespace wintest {

struct LinuxResult {
  int exitCode = -1;
  std::string errorOutput;  // the debug channel and the error line
};

class LinuxProgramFolder {
 public:
  LinuxProgramFolder();
  const std::filesystem::path& folder() const { return folder_.path(); }
  // DB/REDU.sqlite with these rows (exepath: Linux paths).
  void writeCatalogue(const std::vector<CatalogueRow>& rows) const;
  LinuxResult run() const;

 private:
  testsupport::TempFolder folder_;
  testsupport::TempFolder runtimeDir_;
};

}  // namespace wintest

// The Linux build's program beside the Windows one.
#include "tests/e2e/windows/LinuxProgramFolder.h"

namespace wintest {
namespace fs = std::filesystem;

LinuxProgramFolder::LinuxProgramFolder() { fs::copy_file(TALVENOOK_LINUX_BINARY, folder() / "talvenook"); }

void LinuxProgramFolder::writeCatalogue(const std::vector<CatalogueRow>& rows) const {
  writeCatalogueFile(folder() / "DB" / "REDU.sqlite", rows);
}

LinuxResult LinuxProgramFolder::run() const {
  const fs::path log = runtimeDir_.path() / "stderr.log";
  LinuxResult result;
  result.exitCode =
      runCommand({(folder() / "talvenook").string()}, {{"XDG_RUNTIME_DIR", runtimeDir_.path().string()}}, log, 120);
  result.errorOutput = testsupport::readFileBytes(log);
  return result;
}

}  // namespace wintest

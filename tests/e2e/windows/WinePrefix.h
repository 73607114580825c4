// A Wine prefix of one test's own. Creating a prefix takes Wine many seconds, so one template is
// made per build folder (headless, with Wine's null graphics driver, under which an error box
// blocks until someone closes it, as on a desktop) and every test gets a hard-link copy of it:
// a new top folder means a wineserver of its own, started inside the test's private network;
// the registry files are real copies; everything the test writes goes into new files.
#pragma once

#include <filesystem>
#include <string>

#include "tests/e2e/windows/ChildProcess.h"

namespace wintest {

class WinePrefix {
 public:
  // Copies the template at `templateFolder` (made first when missing, under a lock so parallel
  // tests make it once). Raises std::runtime_error when Wine cannot make it.
  explicit WinePrefix(const std::filesystem::path& templateFolder);
  // Ends this prefix's wineserver (and with it every process of the prefix) and removes the copy.
  ~WinePrefix();
  WinePrefix(const WinePrefix&) = delete;
  WinePrefix& operator=(const WinePrefix&) = delete;

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path driveC() const { return folder_ / "drive_c"; }
  // The Windows path of `path`: "C:\..." inside drive_c, else "Z:\..." (Wine's view of "/").
  std::string windowsPath(const std::filesystem::path& path) const;
  // The environment a Wine process of this prefix gets: WINEPREFIX, WINEDEBUG=-all, no display.
  Environment environment() const;

 private:
  std::filesystem::path folder_;
};

// The Wine loader for 64-bit programs (TALVENOOK_WINE overrides it) and its wineserver.
std::string wineLoader();
std::string wineServer();

}  // namespace wintest

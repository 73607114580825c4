// The swap race on Linux: 300 rows name one path while another process renames one of two
// executables (different icons, different versions) over it in a loop. Every upload must carry the
// icon and the version of the same file; two calibration rows first name the two files themselves,
// so the icon bytes each one gives are known.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/RedirectedLaunch.h"
#include "tests/support/Catalogue.h"
#include "tests/support/HostileSet.h"
#include "tests/support/PeWriter.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ScriptedServer;

constexpr int kRaceRows = 300;

// Renames a hard link of `first`, then of `second`, over `target`, again and again, in a child
// process, until it is destroyed (or 120 s have passed).
class Renamer {
 public:
  Renamer(const fs::path& target, const fs::path& first, const fs::path& second) {
    const std::string link = target.string() + ".swap", to = target.string();
    const std::string sources[2] = {first.string(), second.string()};
    pid_ = fork();
    if (pid_ != 0) return;
    const time_t deadline = time(nullptr) + 120;
    for (int turn = 0; time(nullptr) < deadline; turn ^= 1) {
      unlink(link.c_str());
      if (::link(sources[turn].c_str(), link.c_str()) == 0) rename(link.c_str(), to.c_str());
    }
    _exit(0);
  }
  ~Renamer() { stop(); }
  Renamer(const Renamer&) = delete;
  Renamer& operator=(const Renamer&) = delete;
  bool started() const { return pid_ > 0; }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

TEST(SwapRace, EveryUploadCarriesTheIconAndVersionOfOneFile) {
  testsupport::TempFolder folder, runtimeDir, fixtures;
  const fs::path program = testsupport::installProgram(TALVENOOK_BINARY, folder.path());
  const fs::path first = fixtures.path() / "first.exe", second = fixtures.path() / "second.exe";
  const fs::path target = fixtures.path() / "target.exe";
  testsupport::writeIconExecutable(first, 48, std::vector<std::uint32_t>(48 * 48, 0xFF2060C0), (1u << 16) | 1u,
                                   (1u << 16) | 1u, u"1.1.1.1");
  testsupport::writeIconExecutable(second, 48, std::vector<std::uint32_t>(48 * 48, 0xFFC06020), (2u << 16) | 2u,
                                   (2u << 16) | 2u, u"2.2.2.2");
  fs::copy_file(first, target);

  std::vector<testsupport::CatalogueRow> rows{{1, "calibrate first", first.string()},
                                              {2, "calibrate second", second.string()}};
  for (int i = 0; i < kRaceRows; ++i) rows.push_back({3 + i, "S" + std::to_string(i), target.string()});
  testsupport::writeCatalogue(folder.path() / "DB" / "REDU.sqlite", rows);

  ScriptedServer server;
  server.setDefaultScript(ScriptedServer::Script().readRequest().send(testsupport::acceptingServiceReply()));
  testsupport::ProgramLaunch launch;
  launch.program = program;
  launch.environment = e2etest::redirectedEnvironment(runtimeDir.path(), server.port());
  launch.timeoutSeconds = 120;
  Renamer renamer(target, first, second);
  ASSERT_TRUE(renamer.started());
  const auto result = testsupport::runProgram(launch);
  renamer.stop();
  EXPECT_EQ(result.exitCode, 0) << result.errorOutput.substr(0, 2000);

  const auto tally = testsupport::tallySwapRace(server.requests(), "1.1.1.1", "2.2.2.2");
  ASSERT_TRUE(tally.calibrated);
  EXPECT_EQ(tally.raced, kRaceRows);
  EXPECT_EQ(tally.mixed, 0) << "of " << tally.raced << " rows";
  EXPECT_EQ(tally.unknown, 0);
}

}  // namespace

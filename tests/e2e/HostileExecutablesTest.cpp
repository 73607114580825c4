// The Linux program over the short hostile set (tools/make_hostile_executables --small: every kind
// of trap and mutations of a good executable and of Wine's notepad.exe), each hostile row followed
// by a good one, against a loopback service that wants every icon: the pass ends normally, every
// good row is marked, the program stays small, and a version resource that claims more than the
// file holds is read as "0.0.0.0".
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
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

constexpr long long kPeakLimitKilobytes = 64 * 1024;
const fs::path kWineNotepad = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe";

TEST(HostileExecutables, EveryGoodRowIsMarkedAndNoFileTakesThePassDown) {
  testsupport::TempFolder folder, runtimeDir, fixtures;
  const fs::path program = testsupport::installProgram(TALVENOOK_BINARY, folder.path());
  const fs::path good = fixtures.path() / "good.exe";
  std::vector<std::uint32_t> pixels(48 * 48, 0xFF2080D0);
  testsupport::writeIconExecutable(good, 48, pixels, (1u << 16) | 2u, (3u << 16) | 4u, u"1.2.3.4");
  std::vector<fs::path> wine;
  if (fs::exists(kWineNotepad)) wine.push_back(kWineNotepad);
  const auto files =
      testsupport::makeHostileSet(MAKE_HOSTILE_EXECUTABLES, fixtures.path() / "set", 7, 46, {good}, wine);

  const fs::path database = folder.path() / "DB" / "REDU.sqlite";
  std::vector<testsupport::CatalogueRow> rows{{1, testsupport::goodRowName(0), good.string()}};
  for (std::size_t i = 1; i <= files.size(); ++i) {
    const auto id = static_cast<std::int64_t>(2 * i);
    const fs::path hostile = fixtures.path() / "set" / files[i - 1].name;
    rows.push_back({id, testsupport::hostileRowName(i, files[i - 1]), hostile.string()});
    rows.push_back({id + 1, testsupport::goodRowName(i), good.string()});
  }
  testsupport::writeCatalogue(database, rows);

  ScriptedServer server;
  server.setDefaultScript(ScriptedServer::Script().readRequest().send(testsupport::acceptingServiceReply()));
  testsupport::ProgramLaunch launch;
  launch.program = program;
  launch.environment = e2etest::redirectedEnvironment(runtimeDir.path(), server.port());
  launch.timeoutSeconds = 300;
  launch.errorOutputLimit = 1 << 20;
  const auto result = testsupport::runProgram(launch);

  // --- the pass ends by itself, normally, without an error line
  EXPECT_EQ(result.exitCode, 0) << result.errorOutput.substr(0, 2000);
  EXPECT_EQ(result.errorOutput.find("talvenook: "), std::string::npos) << result.errorOutput.substr(0, 2000);
  EXPECT_GT(result.peakKilobytes, 0);
  EXPECT_LT(result.peakKilobytes, kPeakLimitKilobytes);

  // --- every good row is marked; a row left pending names the hostile file before it
  const auto pins = testsupport::readCatalogue(database, "pin");  // row 2i + 1 is pins[2i]
  for (std::size_t i = 0; i <= files.size(); ++i) {
    EXPECT_EQ(pins.at(2 * i), "1")
        << testsupport::goodRowName(i) << " not marked"
        << (i > 0 ? ", after " + files[i - 1].name + " (" + files[i - 1].detail + ")" : std::string());
  }

  // --- a version resource claiming 64 MB or more is no version; every upload carries one version
  std::map<std::string, std::set<std::string>> versions;
  for (const std::string& bytes : server.requests()) {
    const auto request = testsupport::parseServiceRequest(bytes);
    ASSERT_TRUE(request.has_value()) << bytes.substr(0, 200);
    versions[request->name].insert(request->version);
  }
  for (std::size_t i = 1; i <= files.size(); ++i) {
    const std::string name = testsupport::hostileRowName(i, files[i - 1]);
    if (files[i - 1].kind != "version-huge" || !versions.contains(name)) continue;
    EXPECT_EQ(versions[name], std::set<std::string>{"0.0.0.0"}) << files[i - 1].name << ": " << files[i - 1].detail;
  }
  EXPECT_EQ(versions[testsupport::goodRowName(0)], std::set<std::string>{"1.2.3.4"});
}

}  // namespace

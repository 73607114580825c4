// talvenook.exe under Wine against files that try to take a pass down: the short hostile set
// (tools/make_hostile_executables --small: every kind of trap, and mutations of a good executable and
// of the prefix's notepad.exe), each hostile row followed by a good one; and the swap race, 300
// rows naming a path that a Windows program of the same prefix keeps renaming one of two files
// over. The Linux build runs the same set, and must give icons to the same rows, with the same ICO
// files but for the known Wine difference.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "tests/e2e/windows/LinuxProgramFolder.h"
#include "tests/e2e/windows/WindowsProgramFolder.h"
#include "tests/support/HostileSet.h"
#include "tests/support/PeWriter.h"
#include "tests/support/ScriptedServer.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ScriptedServer;
using wintest::WindowsProgramFolder;

constexpr int kServicePort = 8750;  // the program's compiled-in service address
constexpr long long kPeakLimitKilobytes = 64 * 1024;
constexpr int kRaceRows = 300;

// Service requests by row name: the versions each row was sent with.
std::map<std::string, std::set<std::string>> versionsByRow(const std::vector<std::string>& requests) {
  std::map<std::string, std::set<std::string>> versions;
  for (const std::string& bytes : requests) {
    const auto request = testsupport::parseServiceRequest(bytes);
    if (request) versions[request->name].insert(request->version);
  }
  return versions;
}

// Service requests by row name: the icon files each row uploaded.
std::map<std::string, std::set<std::string>> iconsByRow(const std::vector<std::string>& requests) {
  std::map<std::string, std::set<std::string>> icons;
  for (const std::string& bytes : requests) {
    const auto request = testsupport::parseServiceRequest(bytes);
    if (request && request->upload) icons[request->name].insert(request->icon);
  }
  return icons;
}

std::vector<std::string> acceptEveryRequest(const std::function<void()>& run) {
  ScriptedServer server(ScriptedServer::Family::IPv4, kServicePort);
  server.setDefaultScript(ScriptedServer::Script().readRequest().send(testsupport::acceptingServiceReply()));
  run();
  return server.requests();
}

TEST(WindowsHostileExecutables, NoFileTakesThePassDownAndBothBuildsGiveIconsToTheSameRows) {
  WindowsProgramFolder program;
  wintest::writeIconExecutable(program.fixtures() / "good.exe", 0xFF2080D0);
  const fs::path notepad = program.prefix().driveC() / "windows" / "system32" / "notepad.exe";
  const auto files = testsupport::makeHostileSet(MAKE_HOSTILE_EXECUTABLES, program.fixtures() / "set", 7, 46,
                                                 {program.fixtures() / "good.exe"}, {notepad});
  std::vector<wintest::CatalogueRow> windowsRows = {{testsupport::goodRowName(0), program.fixturePath("good.exe")}};
  std::vector<wintest::CatalogueRow> linuxRows = {{testsupport::goodRowName(0), (program.fixtures() / "good.exe").string()}};
  for (std::size_t i = 1; i <= files.size(); ++i) {
    const std::string name = testsupport::hostileRowName(i, files[i - 1]);
    windowsRows.push_back({name, program.fixturePath("set\\" + files[i - 1].name)});
    linuxRows.push_back({name, (program.fixtures() / "set" / files[i - 1].name).string()});
    windowsRows.push_back({testsupport::goodRowName(i), program.fixturePath("good.exe")});
    linuxRows.push_back({testsupport::goodRowName(i), (program.fixtures() / "good.exe").string()});
  }
  program.writeCatalogue(windowsRows);

  wintest::DebuggedResult result;
  const auto requests = acceptEveryRequest([&] {
    wintest::DebuggedRun run(program.prefix(), wintest::WindowsArtefacts::debugrun(), WindowsProgramFolder::programPath(),
                             {}, program.folder(), program.logs(), 300, PEAK_MEMORY);
    result = run.wait();
  });

  // --- no unhandled exception, no error box, no deadline: the pass ends normally
  EXPECT_EQ(result.reports.find("unhandled exception"), std::string::npos) << result.reports;
  EXPECT_EQ(result.reports.find("error box"), std::string::npos) << result.reports;
  EXPECT_EQ(result.reports.find("deadline"), std::string::npos) << result.reports;
  EXPECT_EQ(result.exitCode, 0) << result.reports;
  EXPECT_GT(result.programPeakKilobytes, 0);
  EXPECT_LT(result.programPeakKilobytes, kPeakLimitKilobytes);

  // --- every good row is marked; a row left pending names the hostile file before it
  const auto pins = program.pins();
  ASSERT_EQ(pins.size(), windowsRows.size());
  std::string unmarked;
  for (std::size_t i = 0; i <= files.size(); ++i) {
    if (pins[2 * i] == "1") continue;
    unmarked += "\n  " + testsupport::goodRowName(i) +
                (i > 0 ? " after " + files[i - 1].name + " (" + files[i - 1].detail + ")" : std::string());
  }
  EXPECT_TRUE(unmarked.empty()) << "good rows left pending:" << unmarked;

  // --- a version resource claiming 64 MB or more is no version
  const auto versions = versionsByRow(requests);
  for (std::size_t i = 1; i <= files.size(); ++i) {
    const auto found = versions.find(testsupport::hostileRowName(i, files[i - 1]));
    if (files[i - 1].kind != "version-huge" || found == versions.end()) continue;
    EXPECT_EQ(found->second, std::set<std::string>{"0.0.0.0"}) << files[i - 1].name << ": " << files[i - 1].detail;
  }

  // --- the Linux build over the same files gives icons to the same hostile rows,
  // and the same ICO files, but for the PNG images the system's decoder under Wine hands back with
  // red and blue swapped (docs/architecture.md, "Icons on both builds")
  wintest::LinuxProgramFolder linuxRun;
  linuxRun.writeCatalogue(linuxRows);
  wintest::LinuxResult linuxResult;
  const auto linuxRequests = acceptEveryRequest([&] { linuxResult = linuxRun.run(); });
  const auto linuxVersions = versionsByRow(linuxRequests);
  EXPECT_EQ(linuxResult.exitCode, 0) << linuxResult.errorOutput.substr(0, 2000);
  const auto windowsIcons = iconsByRow(requests), linuxIcons = iconsByRow(linuxRequests);
  std::string disagreements, otherIcons;
  for (std::size_t i = 1; i <= files.size(); ++i) {
    const std::string name = testsupport::hostileRowName(i, files[i - 1]);
    const bool onWindows = versions.contains(name), onLinux = linuxVersions.contains(name);
    if (onWindows != onLinux)
      disagreements += "\n  " + files[i - 1].name + " (" + files[i - 1].detail + "): icon on " +
                       (onWindows ? "Windows" : "Linux") + " only";
    const auto windowsIcon = windowsIcons.find(name), linuxIcon = linuxIcons.find(name);
    if (windowsIcon != windowsIcons.end() && linuxIcon != linuxIcons.end() && windowsIcon->second != linuxIcon->second &&
        files[i - 1].kind != "png-wine-colours")
      otherIcons += "\n  " + files[i - 1].name + " (" + files[i - 1].detail + ")";
  }
  EXPECT_TRUE(disagreements.empty()) << "rows with an icon on one build only:" << disagreements;
  EXPECT_TRUE(otherIcons.empty()) << "rows whose ICO files differ between the builds:" << otherIcons;
}

// The race: swaprename (a Windows program in the same prefix) renames a copy of one of two
// executables over C:\fixtures\target.exe in a loop while the pass reads that path 300 times.
TEST(WindowsHostileExecutables, SwapRaceNeverMixesTheIconOfOneFileWithTheVersionOfTheOther) {
  WindowsProgramFolder program;
  const fs::path fixtures = program.fixtures();
  testsupport::writeIconExecutable(fixtures / "first.exe", 48, std::vector<std::uint32_t>(48 * 48, 0xFF2060C0),
                                   (1u << 16) | 1u, (1u << 16) | 1u, u"1.1.1.1");
  testsupport::writeIconExecutable(fixtures / "second.exe", 48, std::vector<std::uint32_t>(48 * 48, 0xFFC06020),
                                   (2u << 16) | 2u, (2u << 16) | 2u, u"2.2.2.2");
  fs::copy_file(fixtures / "first.exe", fixtures / "target.exe");
  fs::copy_file(wintest::WindowsArtefacts::swaprename(), fixtures / "swaprename.exe");
  std::vector<wintest::CatalogueRow> rows = {{"calibrate first", program.fixturePath("first.exe")},
                                             {"calibrate second", program.fixturePath("second.exe")}};
  for (int i = 0; i < kRaceRows; ++i) rows.push_back({"S" + std::to_string(i), program.fixturePath("target.exe")});
  program.writeCatalogue(rows);

  struct stat before {};
  ASSERT_EQ(stat((fixtures / "target.exe").c_str(), &before), 0);
  const pid_t renamer = wintest::startChild(
      {wintest::wineLoader(), program.fixturePath("swaprename.exe"), program.fixturePath("target.exe"),
       program.fixturePath("first.exe"), program.fixturePath("second.exe"), "300", program.fixturePath("stop")},
      program.prefix().environment(), {program.logs() / "swaprename.out", program.logs() / "swaprename.out", {}});
  // The race begins once the first rename has replaced the file (at most 60 s for Wine to start it).
  bool racing = false;
  for (int waited = 0; !racing && waited < 1200; ++waited) {
    struct stat now {};
    racing = stat((fixtures / "target.exe").c_str(), &now) == 0 && now.st_ino != before.st_ino;
    if (!racing) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  wintest::DebuggedResult result;
  const auto requests = acceptEveryRequest([&] { result = program.run(300); });
  testsupport::writeFileBytes(fixtures / "stop", "");
  wintest::waitForChild(renamer, 60);
  ASSERT_TRUE(racing) << "swaprename never replaced the file: " << testsupport::readFileBytes(program.logs() / "swaprename.out");

  EXPECT_EQ(result.exitCode, 0) << result.reports;
  const auto tally = testsupport::tallySwapRace(requests, "1.1.1.1", "2.2.2.2");
  ASSERT_TRUE(tally.calibrated);
  // A row whose file is being replaced at the moment the layer tries to hold it has no icon and
  // stays pending for the next run; every other row is uploaded and marked.
  EXPECT_GT(tally.raced, kRaceRows / 2);
  const auto pins = program.pins();
  EXPECT_EQ(std::count(pins.begin() + 2, pins.end(), "1"), tally.raced);
  EXPECT_EQ(tally.mixed, 0) << "of " << tally.raced << " rows; swaprename: "
                            << testsupport::readFileBytes(program.logs() / "swaprename.out");
  EXPECT_EQ(tally.unknown, 0);
}

}  // namespace

// debugrun itself, under Wine, on its probe program: debug lines arrive whole and in order
// (accents through the ANSI code page, a 5000-character line, control characters escaped), a
// C++ exception the program catches is passed back to it, the exit code comes through, an error
// box is reported and dismissed with OK, and a program that never ends is ended at the deadline.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/windows/WindowsProgramFolder.h"

namespace {

using wintest::DebuggedRun;
using wintest::WindowsArtefacts;

class DebugRun : public testing::Test {
 protected:
  testsupport::TempFolder logs;
  wintest::WinePrefix prefix{WindowsArtefacts::winePrefixTemplate()};

  wintest::DebuggedResult probe(const std::vector<std::string>& arguments, double deadline = 60) {
    DebuggedRun run(prefix, WindowsArtefacts::debugrun(), prefix.windowsPath(WindowsArtefacts::probe()), arguments,
                    logs.path(), logs.path(), deadline);
    return run.wait();
  }

  static std::vector<std::string> linesBefore(std::vector<std::string> tail) {
    std::vector<std::string> lines = {"probe started",        "Caf\u00e9 cr\u00e8me, na\u00efve",
                                      std::string(5000, 'x'), "two\\r\\nlines\tand a tab",
                                      "narrow line",          "exception caught"};
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
  }
};

TEST_F(DebugRun, PassesOnLinesExceptionsAndTheExitCode) {
  const auto result = probe({"7"});
  EXPECT_EQ(result.exitCode, 7) << result.reports;
  EXPECT_EQ(result.debugLines, linesBefore({"probe ends"}));
  EXPECT_EQ(result.reports, "");
}

TEST_F(DebugRun, ReportsAndDismissesAnErrorBox) {
  const auto result = probe({"box"});
  EXPECT_EQ(result.exitCode, 0) << result.reports;
  EXPECT_EQ(result.reports, "debugrun: error box \"Probe Caption\": Something went wrong.\n");
  EXPECT_EQ(result.debugLines, linesBefore({"box answered 1", "probe ends"}));  // 1 = IDOK
}

TEST_F(DebugRun, EndsAProgramAtTheDeadline) {
  const auto result = probe({"hang"}, 15);
  EXPECT_EQ(result.exitCode, 124);
  // A loaded machine may stop the probe anywhere before its wait; what it said is whole.
  const auto expected = linesBefore({});
  ASSERT_LE(result.debugLines.size(), expected.size());
  EXPECT_TRUE(std::equal(result.debugLines.begin(), result.debugLines.end(), expected.begin()));
  EXPECT_EQ(result.reports, "debugrun: deadline passed; terminating the program\n");
}

// A fault of the program under debugrun is debugrun's to report, never a "wine: " line (Wine
// writes those only for processes without a debugger), so no filter of Wine's lines can hide it.
TEST_F(DebugRun, ReportsAFaultOfTheProgramItself) {
  const auto result = probe({"fault"});
  EXPECT_NE(result.exitCode, 0);
  EXPECT_EQ(result.debugLines, linesBefore({}));
  EXPECT_NE(result.reports.find("debugrun: unhandled exception 0xC0000005 at 0x"), std::string::npos) << result.reports;
  EXPECT_NE(result.reports.find("(debugrun_probe.exe+0x"), std::string::npos) << result.reports;  // whose code
  EXPECT_TRUE(result.wineMessages.empty()) << result.wineMessages.front();
}

TEST(DebugRunOutput, WineLinesAreSetApartFromDebugrunsReport) {
  wintest::DebuggedResult result;
  wintest::splitWineMessages(
      "wine: Unhandled page fault on read access to 0000000000000008 at address 000000031CAA2391 (thread 0084), "
      "starting debugger...\n"
      "debugrun: error box \"T\": first line\nsecond line\n"
      "wine: another\n",
      result);
  EXPECT_EQ(result.reports, "debugrun: error box \"T\": first line\nsecond line\n");
  ASSERT_EQ(result.wineMessages.size(), 2u);
  EXPECT_EQ(result.wineMessages[1], "wine: another");
}

}  // namespace

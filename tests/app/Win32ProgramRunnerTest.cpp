// The test program runner on Windows (CreateProcessW, an environment block, TerminateProcess at
// the deadline), driven with this test program itself as the child: the child runs only the
// Win32ProgramRunnerChild case, chosen through GTEST_FILTER in the environment it is given.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/ProgramFolder.h"
#include "tests/support/ProgramRunner.h"

namespace {

std::filesystem::path thisProgram() { return std::filesystem::path(platform::executablePath()); }

}  // namespace

// In a normal run it does nothing; as the runner's child it writes the probe variable to standard
// error, or sleeps far past any deadline.
TEST(Win32ProgramRunnerChild, ActsOnTheProbe) {
  const char* probe = std::getenv("TALVENOOK_RUNNER_PROBE");
  if (probe == nullptr) return;
  if (std::string(probe) == "sleep") std::this_thread::sleep_for(std::chrono::seconds(60));
  std::fprintf(stderr, "probe=%s\n", probe);
  std::fflush(stderr);
}

TEST(Win32ProgramRunner, EnvironmentAndErrorOutputReachTheTest) {
  const testsupport::ProgramResult result = testsupport::runProgram(
      {thisProgram(), {{"GTEST_FILTER", "Win32ProgramRunnerChild.*"}, {"TALVENOOK_RUNNER_PROBE", "given value"}}, {}, 120});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.errorOutput.find("probe=given value"), std::string::npos) << result.errorOutput;
}

TEST(Win32ProgramRunner, AChildPastItsDeadlineIsTerminated) {
  const testsupport::ProgramResult result = testsupport::runProgram(
      {thisProgram(), {{"GTEST_FILTER", "Win32ProgramRunnerChild.*"}, {"TALVENOOK_RUNNER_PROBE", "sleep"}}, {}, 3});
  EXPECT_EQ(result.exitCode, -1);
  EXPECT_LT(result.seconds, 50);  // terminated, not waited for: the child would sleep 60 s
}

// The test program runner on Linux: the child gets the environment it was given (built before it
// exists), its standard error is captured (a flood counted, and kept up to a limit), its peak memory
// is its own, and a child that outlives its time limit is killed.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/ProgramRunner.h"
#include "tests/support/TempFolder.h"

namespace {

std::filesystem::path writeScript(const testsupport::TempFolder& folder, const std::string& body) {
  const std::filesystem::path script = folder.path() / "child.sh";
  testsupport::writeFileBytes(script, "#!/bin/sh\n" + body);
  chmod(script.c_str(), 0700);
  return script;
}

}  // namespace

TEST(PosixProgramRunner, EnvironmentFolderErrorOutputAndExitCode) {
  testsupport::TempFolder folder;
  const auto script = writeScript(folder, "echo \"$TALVENOOK_RUNNER_PROBE|$(pwd)\" >&2\nexit 3\n");
  testsupport::ProgramLaunch launch{script, {{"TALVENOOK_RUNNER_PROBE", "given value"}}, {}, 30};
  const testsupport::ProgramResult result = testsupport::runProgram(launch);
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.errorOutput, "given value|/\n");  // started from the root, not from here
}

TEST(PosixProgramRunner, AChildPastItsDeadlineIsKilled) {
  testsupport::TempFolder folder;
  const auto script = writeScript(folder, "echo started >&2\nexec sleep 60\n");
  const testsupport::ProgramResult result = testsupport::runProgram({script, {}, {}, 0.5});
  EXPECT_EQ(result.exitCode, -1);
  EXPECT_EQ(result.errorOutput, "started\n");
  EXPECT_LT(result.seconds, 30);  // killed, not waited for: the child would sleep 60 s
}

// A flood on standard error is counted in full and kept only up to the limit. The peak memory is
// the child's own: a shell holding 8 MB of text reaches at least that, while a shell that holds
// nothing stays far below the test process's, which a child spawned straight from it would report.
TEST(PosixProgramRunner, ErrorFloodIsCountedAndCutAndPeakMemoryIsTheChildsOwn) {
  testsupport::TempFolder folder;
  const auto flood = writeScript(folder, "yes x | head -c 3000000 >&2\n"
                                         "big=$(yes y | head -c 8000000); echo ${#big} >/dev/null\n");
  testsupport::ProgramLaunch launch{flood, {}, {}, 30};
  launch.errorOutputLimit = 1000;
  const testsupport::ProgramResult result = testsupport::runProgram(launch);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.errorBytes, 3000000u);
  std::string kept;
  while (kept.size() < 1000) kept += "x\n";
  EXPECT_EQ(result.errorOutput, kept);
  EXPECT_GT(result.peakKilobytes, 8000);

  std::vector<char> ballast(64 << 20, 1);  // this process now peaks above 64 MB
  testsupport::TempFolder other;
  const testsupport::ProgramResult small = testsupport::runProgram({writeScript(other, "exit 0\n"), {}, {}, 30});
  EXPECT_GT(small.peakKilobytes, 0);
  EXPECT_LT(small.peakKilobytes, 32 * 1024);
  EXPECT_EQ(ballast[12345], 1);
}

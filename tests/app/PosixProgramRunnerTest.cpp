// The test program runner on Linux: the child gets the environment it was given (built before it
// exists), its standard error is captured, and a child that outlives its time limit is killed.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

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

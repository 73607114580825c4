// The platform-neutral part of the program runner; ProgramRunner_posix.cpp and
// ProgramRunner_win32.cpp start and wait for the program.
#include "tests/support/ProgramRunner.h"

namespace testsupport {

std::mutex& copyAndStartTurn() {
  static std::mutex turn;
  return turn;
}

std::filesystem::path installProgram(const std::filesystem::path& binary, const std::filesystem::path& folder) {
  const std::lock_guard turn(copyAndStartTurn());
  const auto copy = folder / binary.filename();
  std::filesystem::copy_file(binary, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

}  // namespace testsupport

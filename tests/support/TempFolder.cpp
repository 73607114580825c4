// Temporary folders and whole-file helpers for tests.
#include "tests/support/TempFolder.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "runtime/Text.h"

namespace testsupport {

// A random name under the system's temporary folder; create_directory fails on a name that exists
// already, so two tests (or two processes) never share a folder. Ordinary permissions are enough:
// the folder holds fixtures only, and tests that need a private folder make one inside.
TempFolder::TempFolder() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937_64 random(static_cast<std::uint64_t>(seed()) << 32 ^ seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = "talvenook-test-";
    for (int i = 0; i < 12; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    std::error_code error;
    if (std::filesystem::create_directory(base / name, error)) {
      path_ = base / name;
      return;
    }
    if (error) throw std::runtime_error("cannot create a temporary folder: " + error.message());
  }
  throw std::runtime_error("cannot create a temporary folder: every name taken");
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

// Through UTF-16 both ways, so that the name is not read in a narrow code page where the
// platform's paths are wide.
std::u16string TempFolder::file(const std::string& name) const { return (path_ / rt::fromUtf8(name)).u16string(); }

std::string readFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testsupport

// Replays a fuzz target's corpus as a regression test: the normal build links each fuzz_*.cpp
// with this main instead of libFuzzer and runs every file of fuzz/corpus/<target>/ through
// LLVMFuzzerTestOneInput, so an input that once crashed a target keeps failing the suite until
// its fault is mended. A crash, a sanitizer report or a failed check ends the process abnormally;
// the file being replayed is named on standard error first.
//
//   fuzz_json_replay <corpus folder>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The corpus files in name order, so every run replays them the same way.
std::vector<std::filesystem::path> corpusFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <corpus folder>\n";
    return 2;
  }
  std::error_code error;
  if (!std::filesystem::is_directory(argv[1], error)) {
    std::cerr << "no corpus folder: " << argv[1] << "\n";
    return 2;
  }
  const std::vector<std::filesystem::path> files = corpusFiles(argv[1]);
  if (files.empty()) {
    std::cerr << "empty corpus folder: " << argv[1] << "\n";
    return 2;
  }
  for (const auto& file : files) {
    std::cerr << "replaying " << file.filename().string() << std::endl;
    // A buffer of exactly the file's size, so that a read past its end is a sanitizer report.
    const std::vector<std::uint8_t> bytes = fileBytes(file);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::cerr << files.size() << " inputs replayed\n";
  return 0;
}

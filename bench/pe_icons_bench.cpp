// Icon extraction from executables.
//
//   OurExtractAndSave   per executable: the 48x48 icon's bitmaps out of the executable
//                       (platform::Executable, i.e. the resource reader, decoding and scaling) and
//                       its ICO file written by imaging::TIcon::SaveIconFile.
//   OurExtractOnly      the executable opened and its icon's bitmaps read, no ICO.
//   OurExtractFromSize  extraction alone from a small executable and from a 200 MB one whose
//                       resources sit after 200 MB of other section data: the time must not grow
//                       with the file, since only the needed bytes are read.
// The corpus is 120 generated executables (PE32 and PE32+; 1 to 5 images per group: BMP at 4, 8,
// 24, 32 bits and PNG, sizes 16 to 256, so many need scaling) with a version resource each.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imaging/TIcon.h"
#include "platform/Executable.h"
#include "runtime/Text.h"
#include "tests/support/PeWriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::IconDirEntry;

constexpr int kCorpusSize = 120;

std::vector<std::uint32_t> pattern(int side, unsigned seed) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * side);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const auto x = static_cast<std::uint32_t>(i % side), y = static_cast<std::uint32_t>(i / side);
    pixels[i] = ((x + y) % 7 == 0 ? 0x80000000u : 0xFF000000u) | ((x * 9 + seed) & 0xFF) << 16 | ((y * 5) & 0xFF) << 8 | (seed & 0xFF);
  }
  return pixels;
}

std::string imageFor(int side, int bits, unsigned seed) {
  if (bits == 0) return testsupport::pngImage(side, side, pattern(side, seed));
  std::vector<std::uint32_t> pixels = pattern(side, seed);
  std::vector<std::uint8_t> mask(pixels.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) mask[i] = (pixels[i] >> 24) != 0xFF;
  if (bits <= 8) {
    std::vector<std::uint32_t> palette(1u << bits);
    for (std::size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<std::uint32_t>(i * 0x030507 + seed);
    for (auto& p : pixels) p = (p >> 8) % palette.size();
    return testsupport::bmpIconImage(side, side, bits, palette, pixels, mask);
  }
  return testsupport::bmpIconImage(side, side, bits, {}, pixels, mask);
}

void buildExecutable(unsigned n, const fs::path& path, std::uint64_t filler = 0) {
  static const int kSides[] = {16, 24, 32, 48, 64, 96, 128, 256};
  static const int kBits[] = {4, 8, 24, 32, 0};
  testsupport::PeWriter pe(n % 2 == 1);
  std::vector<IconDirEntry> entries;
  const unsigned count = 1 + n % 5;
  for (unsigned i = 0; i < count; ++i) {
    int side = kSides[(n * 3 + i * 5) % 8];
    int bits = kBits[(n + i) % 5];
    if (bits == 0 && side < 64) side = 256;  // PNG frames are the large ones
    if (bits != 0 && side > 128) side = 128;
    const std::string image = imageFor(side, bits, n * 31 + i);
    pe.add(3, i + 1, image);
    entries.push_back({side, side, 0, 1, static_cast<std::uint16_t>(bits == 0 ? 32 : bits),
                       static_cast<std::uint32_t>(image.size()), static_cast<std::uint16_t>(i + 1)});
  }
  pe.add(14, 1, testsupport::iconGroup(entries));
  pe.add(16, 1, testsupport::versionResource(0x00010000 + n, n, u"1.0"));
  pe.setFiller(filler);
  pe.writeTo(path);
}

struct Corpus {
  fs::path folder;
  std::vector<fs::path> executables;
  fs::path small, large;
  Corpus() {
    folder = fs::temp_directory_path() / ("talvenook-pe-bench-" + std::to_string(getpid()));
    fs::create_directories(folder / "out");
    for (unsigned n = 0; n < kCorpusSize; ++n) {
      executables.push_back(folder / ("app" + std::to_string(n) + ".exe"));
      buildExecutable(n, executables.back());
    }
    small = folder / "small.exe";
    large = folder / "large.exe";
    buildExecutable(4, small);
    buildExecutable(4, large, 200ull << 20);
  }
  ~Corpus() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

Corpus& corpus() {
  static Corpus instance;
  return instance;
}

void OurExtractAndSave(benchmark::State& state) {
  Corpus& c = corpus();
  const std::u16string out = rt::fromUtf8((c.folder / "out" / "ours.ico").string());
  std::int64_t icons = 0;
  for (auto _ : state) {
    imaging::TIcon icon;
    for (const fs::path& exe : c.executables) {
      auto bitmaps = platform::Executable(rt::fromUtf8(exe.string())).iconBitmaps48();
      if (!bitmaps) continue;
      icon.AssignImage(std::move(*bitmaps));
      icon.SaveIconFile(out);
      ++icons;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kCorpusSize);
  state.counters["icons_per_pass"] = static_cast<double>(icons) / static_cast<double>(state.iterations());
  state.counters["cpu_per_exe"] = benchmark::Counter(static_cast<double>(kCorpusSize),
                                                        benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}

void OurExtractOnly(benchmark::State& state) {
  Corpus& c = corpus();
  std::vector<std::u16string> paths;
  for (const fs::path& exe : c.executables) paths.push_back(rt::fromUtf8(exe.string()));
  for (auto _ : state) {
    for (const std::u16string& path : paths) benchmark::DoNotOptimize(platform::Executable(path).iconBitmaps48());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kCorpusSize);
}

void OurExtractFromSize(benchmark::State& state) {
  const fs::path& exe = state.range(0) ? corpus().large : corpus().small;
  const std::u16string path = rt::fromUtf8(exe.string());
  for (auto _ : state) benchmark::DoNotOptimize(platform::Executable(path).iconBitmaps48());
  state.counters["file_MB"] = static_cast<double>(fs::file_size(exe)) / (1 << 20);
}

BENCHMARK(OurExtractAndSave)->Unit(benchmark::kMillisecond);
BENCHMARK(OurExtractOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(OurExtractFromSize)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// make_sample_pe: writes a small Windows executable with an icon group (16, 32 and 48 pixels) and
// a version resource, as sample software for `make demo`. The executable does nothing; only its
// resources matter.
//
// Usage: make_sample_pe <output.exe> <version a.b.c.d> <seed>
//   seed picks the colour and the shape of the icon; odd seeds store the 48-pixel image as PNG.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "tests/support/PeWriter.h"

namespace {

constexpr std::uint32_t kIcon = 3;
constexpr std::uint32_t kGroupIcon = 14;
constexpr std::uint32_t kVersion = 16;

// Fully saturated colour of hue `degrees` (0..359) as 0xRRGGBB.
std::uint32_t hueColour(int degrees) {
  const double h = (degrees % 360) / 60.0;
  const double x = 1 - std::fabs(std::fmod(h, 2.0) - 1);
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(h)) {
    case 0: r = 1; g = x; break;
    case 1: r = x; g = 1; break;
    case 2: g = 1; b = x; break;
    case 3: g = x; b = 1; break;
    case 4: r = x; b = 1; break;
    default: r = 1; b = x; break;
  }
  auto channel = [](double v) { return static_cast<std::uint32_t>(std::lround(v * 200 + 30)); };
  return channel(r) << 16 | channel(g) << 8 | channel(b);
}

// True where the white figure of shape `shape` covers the point (u, v), both in -1..1.
bool inFigure(int shape, double u, double v) {
  switch (shape % 5) {
    case 0: return u * u + v * v < 0.35;                                        // disc
    case 1: return std::fabs(u) + std::fabs(v) < 0.65;                          // diamond
    case 2: { const double r = u * u + v * v; return r < 0.45 && r > 0.18; }    // ring
    case 3: return std::fabs(u) < 0.2 || std::fabs(v) < 0.2;                    // cross
    default: return v > -0.5 && std::fabs(u) < (v + 0.5) * 0.6;                 // triangle
  }
}

// ARGB pixels, top row first: a rounded tile with a vertical gradient and a white figure.
std::vector<std::uint32_t> iconPixels(int size, int seed) {
  const std::uint32_t base = hueColour(seed * 67);
  std::vector<std::uint32_t> pixels;
  pixels.reserve(static_cast<std::size_t>(size) * size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double u = (x + 0.5) / size * 2 - 1;
      const double v = (y + 0.5) / size * 2 - 1;
      const double cu = std::fmax(std::fabs(u) - 0.7, 0), cv = std::fmax(std::fabs(v) - 0.7, 0);
      if (cu * cu + cv * cv > 0.09) {
        pixels.push_back(0);  // outside the rounded corners: transparent
        continue;
      }
      if (inFigure(seed, u, v)) {
        pixels.push_back(0xFFFFFFFF);
        continue;
      }
      const double shade = 1.0 - 0.35 * (v + 1) / 2;
      auto scaled = [&](int shift) { return static_cast<std::uint32_t>(((base >> shift) & 0xFF) * shade) << shift; };
      pixels.push_back(0xFF000000 | scaled(16) | scaled(8) | scaled(0));
    }
  }
  return pixels;
}

bool parseVersion(const char* text, unsigned (&parts)[4]) {
  return std::sscanf(text, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4 &&
         parts[0] < 65536 && parts[1] < 65536 && parts[2] < 65536 && parts[3] < 65536;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned version[4];
  if (argc != 4 || !parseVersion(argv[2], version)) {
    std::fprintf(stderr, "usage: make_sample_pe <output.exe> <version a.b.c.d> <seed>\n");
    return 2;
  }
  const int seed = std::atoi(argv[3]);
  try {
    testsupport::PeWriter writer;
    std::vector<testsupport::IconDirEntry> entries;
    std::uint16_t id = 1;
    for (int size : {16, 32, 48}) {
      const auto pixels = iconPixels(size, seed);
      const std::string image = (size == 48 && seed % 2 == 1)
                                    ? testsupport::pngImage(size, size, pixels)
                                    : testsupport::bmpIconImage(size, size, 32, {}, pixels);
      testsupport::IconDirEntry entry;
      entry.width = entry.height = size;
      entry.bytes = static_cast<std::uint32_t>(image.size());
      entry.id = id;
      entries.push_back(entry);
      writer.add(kIcon, id++, image);
    }
    writer.add(kGroupIcon, 1, testsupport::iconGroup(entries));
    const std::string text = argv[2];
    writer.add(kVersion, 1, testsupport::versionResource(version[0] << 16 | version[1], version[2] << 16 | version[3],
                                                         std::u16string(text.begin(), text.end())));
    writer.writeTo(argv[1]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_sample_pe: %s\n", error.what());
    return 1;
  }
  return 0;
}

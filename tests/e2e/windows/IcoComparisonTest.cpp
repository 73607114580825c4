// The ICO files of the Windows build (Win32 extraction: PrivateExtractIconsW, GetIconInfo,
// GetDIBits, under Wine) beside those of the Linux build (our PE reader, decoders and scaler),
// both programs run on the same catalogue: generated executables of every image kind, and Wine's
// own programs. Writes a table (artefacts/windows/ico-comparison.md) of which files are
// byte-identical and, for each that differs, how and why; checks what must hold:
//   - 32-bit images with alpha and PNG images at 48x48 give the same bytes on both;
//   - an image without alpha differs, if at all, in its alpha channel only (Linux makes alpha
//     from the mask; the Win32 path writes what the system hands back);
//   - a monochrome icon is a valid 1-bit ICO on both;
//   - every other file is a valid 48x48 ICO on both, and both write a file for the same rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/e2e/windows/IcoImage.h"
#include "tests/e2e/windows/LinuxProgramFolder.h"
#include "tests/e2e/windows/WindowsProgramFolder.h"
#include "tests/support/PeWriter.h"

namespace {

namespace fs = std::filesystem;
using wintest::IcoImage;

enum class Kind { SameBytes, NoAlpha, Resized, Monochrome, WineProgram };

struct Fixture {
  std::string name;         // file name under C:\fixtures, or a Windows path of Wine's own
  std::string description;  // what the executable's icon holds
  Kind kind;
  std::function<void(testsupport::PeWriter&)> icons;  // empty for Wine's programs
};

constexpr std::uint32_t kIconType = 3, kGroupType = 14;

// An asymmetric picture with alpha 0..255 (so flipped rows or lost alpha show).
std::uint32_t picture(int x, int y, int side) {
  const auto scale = [side](int v) { return static_cast<std::uint32_t>(v * 255 / (side - 1)); };
  const std::uint32_t alpha = (x + y) % 5 == 0 ? 0 : scale(x) / 2 + 127;
  return alpha << 24 | scale(x) << 16 | scale(y) << 8 | (scale((x * 3 + y) % side));
}
std::uint8_t maskBit(int x, int y) { return static_cast<std::uint8_t>((x + 2 * y) % 7 == 0); }

void addGroup(testsupport::PeWriter& writer,
              const std::vector<std::pair<std::string, testsupport::IconDirEntry>>& images) {
  std::vector<testsupport::IconDirEntry> entries;
  std::uint16_t id = 1;
  for (auto [image, entry] : images) {
    entry.id = id;
    entry.bytes = static_cast<std::uint32_t>(image.size());
    entries.push_back(entry);
    writer.add(kIconType, id++, image);
  }
  writer.add(kGroupType, 1, testsupport::iconGroup(entries));
}

testsupport::IconDirEntry entryOf(int side, int bits, int colours = 0) {
  testsupport::IconDirEntry entry;
  entry.width = entry.height = side;
  entry.bitCount = static_cast<std::uint16_t>(bits);
  entry.colours = static_cast<std::uint8_t>(colours);
  return entry;
}

// A BMP image of `side` and `bits`: alpha picture for 32 bits, else palette indexes or opaque colours.
std::string bmp(int side, int bits, bool withAlpha = true) {
  std::vector<std::uint32_t> pixels, palette;
  std::vector<std::uint8_t> mask;
  const int colours = bits <= 8 ? 1 << bits : 0;
  // A 1-bit image is monochrome only with a black and white table.
  if (bits == 1) palette = {0x000000, 0xFFFFFF};
  for (int i = 0; colours > 2 && i < colours; ++i)
    palette.push_back(static_cast<std::uint32_t>(i * 255 / (colours - 1)) << 16 |
                      static_cast<std::uint32_t>(255 - i * 255 / (colours - 1)) << 8 | 0x40);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const std::uint32_t p = picture(x, y, side);
      if (colours != 0)
        pixels.push_back(static_cast<std::uint32_t>((x + y * 3) % colours));
      else
        pixels.push_back(withAlpha ? p : p & 0x00FFFFFF);
      mask.push_back(withAlpha && bits == 32 ? static_cast<std::uint8_t>(p >> 24 == 0) : maskBit(x, y));
    }
  }
  return testsupport::bmpIconImage(side, side, bits, palette, pixels, mask);
}

std::string png(int side) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) pixels.push_back(picture(x, y, side));
  return testsupport::pngImage(side, side, pixels);
}

std::vector<Fixture> fixtures() {
  using W = testsupport::PeWriter;
  return {
      {"bgra48.exe", "32-bit 48x48 with alpha", Kind::SameBytes,
       [](W& w) {
         addGroup(w, {{bmp(48, 32), entryOf(48, 32)}});
       }},
      {"png48.exe", "PNG 48x48 RGBA", Kind::SameBytes,
       [](W& w) {
         addGroup(w, {{png(48), entryOf(48, 32)}});
       }},
      {"group16-32-48.exe", "32-bit 16, 32, 48 (48 chosen)", Kind::SameBytes,
       [](W& w) {
         addGroup(w, {{bmp(16, 32), entryOf(16, 32)}, {bmp(32, 32), entryOf(32, 32)}, {bmp(48, 32), entryOf(48, 32)}});
       }},
      {"rgb24.exe", "24-bit 48x48 with mask", Kind::NoAlpha,
       [](W& w) {
         addGroup(w, {{bmp(48, 24), entryOf(48, 24)}});
       }},
      {"pal8.exe", "8-bit palette 48x48", Kind::NoAlpha,
       [](W& w) {
         addGroup(w, {{bmp(48, 8), entryOf(48, 8)}});
       }},
      {"pal4.exe", "4-bit palette 48x48", Kind::NoAlpha,
       [](W& w) {
         addGroup(w, {{bmp(48, 4), entryOf(48, 4, 16)}});
       }},
      {"alpha0-32.exe", "32-bit 48x48, alpha all 0 (mask only)", Kind::NoAlpha,
       [](W& w) {
         addGroup(w, {{bmp(48, 32, false), entryOf(48, 32)}});
       }},
      {"mono48.exe", "1-bit monochrome 48x48", Kind::Monochrome,
       [](W& w) {
         addGroup(w, {{bmp(48, 1), entryOf(48, 1, 2)}});
       }},
      {"bgra32.exe", "32-bit 32x32 only (enlarged)", Kind::Resized,
       [](W& w) {
         addGroup(w, {{bmp(32, 32), entryOf(32, 32)}});
       }},
      {"bgra64.exe", "32-bit 64x64 only (shrunk)", Kind::Resized,
       [](W& w) {
         addGroup(w, {{bmp(64, 32), entryOf(64, 32)}});
       }},
      {"png256.exe", "PNG 256x256 only (shrunk)", Kind::Resized,
       [](W& w) {
         addGroup(w, {{png(256), entryOf(256, 32)}});
       }},
      {"C:\\windows\\system32\\notepad.exe", "Wine's notepad", Kind::WineProgram, {}},
      {"C:\\windows\\regedit.exe", "Wine's regedit", Kind::WineProgram, {}},
      {"C:\\windows\\system32\\winhlp32.exe", "Wine's winhlp32", Kind::WineProgram, {}},
      {"C:\\windows\\system32\\winemine.exe", "Wine's winemine", Kind::WineProgram, {}},
      {"C:\\windows\\system32\\winefile.exe", "Wine's winefile", Kind::WineProgram, {}},
      {"C:\\windows\\system32\\taskmgr.exe", "Wine's taskmgr", Kind::WineProgram, {}},
      {"C:\\windows\\system32\\clock.exe", "Wine's clock", Kind::WineProgram, {}},
      {"C:\\windows\\system32\\cmd.exe", "Wine's cmd", Kind::WineProgram, {}},
      {"C:\\windows\\system32\\control.exe", "Wine's control", Kind::WineProgram, {}},
      {"C:\\windows\\system32\\write.exe", "Wine's write", Kind::WineProgram, {}},
  };
}

std::string summary(const std::string& bytes) {
  if (bytes.empty()) return "none";
  const IcoImage image = wintest::decodeIco(bytes);
  if (!image.valid) return "invalid (" + image.problem + ")";
  return std::to_string(image.bitCount) + "-bit " + std::to_string(image.width) + "x" + std::to_string(image.height) +
         ", " + std::to_string(bytes.size()) + " B";
}

struct Difference {
  int alpha = 0, colour = 0, mask = 0, largestStep = 0;
  std::string text;
};

Difference compare(const IcoImage& fromLinux, const IcoImage& fromWindows) {
  Difference d;
  if (fromLinux.bitCount != fromWindows.bitCount || fromLinux.width != fromWindows.width ||
      fromLinux.height != fromWindows.height) {
    d.text = "format: Linux " + std::to_string(fromLinux.bitCount) + "-bit, Windows " +
             std::to_string(fromWindows.bitCount) + "-bit";
    d.colour = -1;
    return d;
  }
  for (std::size_t i = 0; i < fromLinux.argb.size(); ++i) {
    const std::uint32_t a = fromLinux.argb[i], b = fromWindows.argb[i];
    if ((a >> 24) != (b >> 24)) ++d.alpha;
    if ((a & 0xFFFFFF) != (b & 0xFFFFFF)) ++d.colour;
    if (fromLinux.mask[i] != fromWindows.mask[i]) ++d.mask;
    for (int shift : {0, 8, 16}) {
      const int step = std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
      d.largestStep = std::max(d.largestStep, step);
    }
  }
  std::ostringstream text;
  text << "alpha in " << d.alpha << " px, colour in " << d.colour << " px (largest step " << d.largestStep
       << "), mask in " << d.mask << " px";
  if (d.alpha == 0 && d.colour == 0 && d.mask == 0) text.str("same pixels, other header bytes");
  d.text = text.str();
  return d;
}

std::string why(Kind kind, const Difference& d) {
  switch (kind) {
    case Kind::NoAlpha:
      return "image without alpha: Linux makes alpha from the mask, the Win32 path writes what GetDIBits returns";
    case Kind::Resized:
      return "not 48x48 in the file: the system's resampling against our scaler";
    case Kind::WineProgram:
      if (d.colour == 0 && d.mask == 0) return "alpha only: an image of Wine's without alpha (see above)";
      return "the picture differs: the system may choose or resample another image of the group than our reader";
    default:
      return "unexpected";
  }
}

// How an image without alpha came out: the Win32 path hands back the colour bitmap as the system
// made it, Linux builds alpha from the mask.
std::string alphaStory(const IcoImage& fromLinux, const IcoImage& fromWindows) {
  bool windowsZero = true, linuxFromMask = true;
  for (std::size_t i = 0; i < fromLinux.argb.size(); ++i) {
    windowsZero = windowsZero && (fromWindows.argb[i] >> 24) == 0;
    linuxFromMask = linuxFromMask && (fromLinux.argb[i] >> 24) == (fromLinux.mask[i] != 0 ? 0u : 255u);
  }
  return std::string(" (Windows: ") + (windowsZero ? "alpha 0 in every pixel" : "alpha as the system gave it") +
         "; Linux: " +
         (linuxFromMask ? "255 where the mask is opaque, 0 where transparent" : "alpha not from the mask") + ")";
}

TEST(IcoComparison, WindowsAndLinuxBuildsWriteTheSameIconsWhereTheyShould) {
  wintest::WindowsProgramFolder windows;
  wintest::LinuxProgramFolder linuxRun;
  const auto all = fixtures();
  std::vector<wintest::CatalogueRow> windowsRows, linuxRows;
  for (const Fixture& fixture : all) {
    if (fixture.kind == Kind::WineProgram) {
      std::string relative = fixture.name.substr(3);
      for (char& c : relative)
        if (c == '\\') c = '/';
      windowsRows.push_back({fixture.description, fixture.name});
      linuxRows.push_back({fixture.description, (windows.prefix().driveC() / relative).string()});
      continue;
    }
    testsupport::PeWriter writer;
    fixture.icons(writer);
    writer.writeTo(windows.fixtures() / fixture.name);
    windowsRows.push_back({fixture.description, windows.fixturePath(fixture.name)});
    linuxRows.push_back({fixture.description, (windows.fixtures() / fixture.name).string()});
  }
  windows.writeCatalogue(windowsRows);
  linuxRun.writeCatalogue(linuxRows);
  // Nobody listens on the service port in the suite's own network: both passes write every icon
  // and send nothing.
  const auto windowsResult = windows.run(180);
  ASSERT_EQ(windowsResult.exitCode, 0) << windowsResult.reports;
  ASSERT_EQ(linuxRun.run().exitCode, 0);

  const fs::path artefacts = fs::path(WINDOWS_E2E_ARTEFACTS);
  fs::remove_all(artefacts / "ico-linux");
  fs::remove_all(artefacts / "ico-windows");
  fs::create_directories(artefacts / "ico-linux");
  fs::create_directories(artefacts / "ico-windows");
  std::ostringstream table;
  table << "| # | executable | icon in the file | Linux ICO | Windows ICO | result | why |\n"
        << "|---|---|---|---|---|---|---|\n";
  int identical = 0, differing = 0, iconless = 0;
  for (std::size_t n = 0; n < all.size(); ++n) {
    const Fixture& fixture = all[n];
    const std::string file = std::to_string(n) + ".ico";
    const std::string linuxBytes = testsupport::readFileBytes(linuxRun.folder() / "image" / file);
    const std::string windowsBytes = windows.image(static_cast<int>(n));
    if (!linuxBytes.empty()) testsupport::writeFileBytes(artefacts / "ico-linux" / file, linuxBytes);
    if (!windowsBytes.empty()) testsupport::writeFileBytes(artefacts / "ico-windows" / file, windowsBytes);
    const IcoImage linuxImage = wintest::decodeIco(linuxBytes), windowsImage = wintest::decodeIco(windowsBytes);
    std::string result = "identical", reason;
    if (linuxBytes.empty() && windowsBytes.empty()) {
      result = "no icon from either build";
      ++iconless;
    } else if (linuxBytes != windowsBytes) {
      const Difference d = compare(linuxImage, windowsImage);
      result = "differs: " + d.text;
      reason = why(fixture.kind, d);
      if (fixture.kind == Kind::NoAlpha && d.colour == 0) reason += alphaStory(linuxImage, windowsImage);
      ++differing;
      if (fixture.kind == Kind::NoAlpha) {
        EXPECT_EQ(d.colour, 0) << fixture.name << ": " << d.text;
        EXPECT_EQ(d.mask, 0) << fixture.name << ": " << d.text;
      }
    } else {
      ++identical;
    }
    table << "| " << n << " | " << fixture.name << " | " << fixture.description << " | " << summary(linuxBytes) << " | "
          << summary(windowsBytes) << " | " << result << " | " << reason << " |\n";

    EXPECT_EQ(linuxBytes.empty(), windowsBytes.empty()) << fixture.name << ": one build wrote no icon";
    if (fixture.kind == Kind::SameBytes) {
      EXPECT_TRUE(linuxBytes == windowsBytes) << fixture.name;
    }
    if (fixture.kind == Kind::WineProgram && linuxBytes.empty()) continue;
    for (const IcoImage* image : {&linuxImage, &windowsImage}) {
      ASSERT_TRUE(image->valid) << fixture.name << ": " << image->problem;
      EXPECT_EQ(image->width, 48) << fixture.name;
      EXPECT_EQ(image->height, 48) << fixture.name;
      if (fixture.kind == Kind::Monochrome) {
        EXPECT_EQ(image->bitCount, 1) << fixture.name;
        EXPECT_EQ(image->entryWord, 1) << fixture.name;
        EXPECT_TRUE(std::all_of(image->argb.begin(), image->argb.end(),
                                [](std::uint32_t p) { return p == 0 || p == 0xFFFFFF; }))
            << fixture.name << ": not black and white";
      }
    }
  }
  table << "\n"
        << identical << " byte-identical, " << differing << " differing, " << iconless << " without icon, of "
        << all.size() << " rows.\n";
  std::ofstream(artefacts / "ico-comparison.md") << table.str();
  std::printf("%s", table.str().c_str());
}

}  // namespace

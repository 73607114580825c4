// Builds small Windows executables (PE32 or PE32+) with a resource section, and the icon and
// version resources that go in them, so the resource reader can be tested without a Windows
// toolchain. The layout is recorded so tests can damage chosen fields on purpose.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace testsupport {

// --- Resource contents ---------------------------------------------------------------------------

// A BMP-style icon image: 40-byte header whose height counts both bitmaps, colour table (2^bits
// entries for 8 bits or fewer, `palette` padded with black), XOR bitmap and AND mask, both stored
// bottom row first with rows padded to 4 bytes.
//   pixels: width*height values, top row first; palette indexes for 1/4/8 bits, 0xAARRGGBB for
//           24 bits (alpha ignored) and 32 bits.
//   mask:   width*height values, 1 = transparent; empty means all opaque.
std::string bmpIconImage(int width, int height, int bits, const std::vector<std::uint32_t>& palette,
                         const std::vector<std::uint32_t>& pixels, const std::vector<std::uint8_t>& mask = {});

// An 8-bit RGBA PNG image of `argb` pixels (0xAARRGGBB, top row first). Written with libpng, so
// only where libpng is (not in the Windows test build).
std::string pngImage(int width, int height, const std::vector<std::uint32_t>& argb);

// The frame of a PNG image of `width` x `height` pixels: its signature, its IHDR chunk (8-bit RGBA)
// and an IEND chunk, with no image data, so not a whole image (the checks of executables refuse
// it). For images that claim a size they do not hold; tests/support/PngEncoder.h makes whole ones.
std::string pngHeader(std::uint32_t width, std::uint32_t height);

// One entry of an icon group or .ico directory as stored (a side of 256 is stored as 0).
struct IconDirEntry {
  int width = 48;
  int height = 48;
  std::uint8_t colours = 0;
  std::uint16_t planes = 1;
  std::uint16_t bitCount = 32;
  std::uint32_t bytes = 0;
  std::uint16_t id = 1;  // icon resource id (groups only)
};

// An icon group directory (resource type 14): reserved 0, type 1, count, 14-byte entries.
std::string iconGroup(const std::vector<IconDirEntry>& entries);

// A plain .ico file holding `images`, described by `entries` (their `bytes` are filled in).
std::string icoFile(std::vector<IconDirEntry> entries, const std::vector<std::string>& images);

// A version resource (type 16): VS_VERSIONINFO with the fixed record's file version words and a
// string table whose "FileVersion" says `fileVersionText`.
std::string versionResource(std::uint32_t fileVersionHigh, std::uint32_t fileVersionLow,
                            const std::u16string& fileVersionText);

// --- The executable ------------------------------------------------------------------------------

// Where things ended up in the last file built, as file offsets.
struct PeLayout {
  std::uint64_t peHeader = 0;          // "PE\0\0"
  std::uint64_t optionalHeader = 0;
  std::uint64_t sectionTable = 0;
  std::uint64_t resourceSection = 0;   // raw data of the resource section = the tree's root
  std::uint32_t resourceRva = 0;
  std::uint64_t fileSize = 0;
  // Per resource, in the order added: its name-level entry (8 bytes), its language directory,
  // its language-level entry (8 bytes), its data entry (16 bytes) and its bytes.
  std::vector<std::uint64_t> nameEntry, languageDirectory, languageEntry, dataEntry, data;
  std::vector<std::uint64_t> typeDirectory;  // per type, by ascending id as stored
};

class PeWriter {
 public:
  explicit PeWriter(bool pe32Plus = false) : pe32Plus_(pe32Plus) {}

  // Adds a resource. Directories are stored as resource compilers store them, whatever the order
  // of adding: types by ascending id; names with the named ones first (by name), then the
  // numbered ones by ascending id; languages by ascending id. A test that needs another order
  // patches the built bytes (layout()).
  void add(std::uint32_t type, std::uint32_t id, const std::string& data, std::uint16_t language = 0x0409);
  void addNamed(std::uint32_t type, const std::u16string& name, const std::string& data,
                std::uint16_t language = 0x0409);
  // Puts a section of `bytes` filler bytes before the resource section, so the resources sit at
  // the end of a large file.
  void setFiller(std::uint64_t bytes) { filler_ = bytes; }
  // Leaves the resource data directory empty (an executable without resources).
  void omitResourceDirectory() { omitResources_ = true; }

  std::string build();
  void writeTo(const std::filesystem::path& path);
  const PeLayout& layout() const { return layout_; }

 private:
  struct Resource {
    std::uint32_t type;
    bool named;
    std::uint32_t id;
    std::u16string name;
    std::uint16_t language;
    std::string data;
  };
  void write(std::ostream& out);

  bool pe32Plus_;
  bool omitResources_ = false;
  std::uint64_t filler_ = 0;
  std::vector<Resource> resources_;
  PeLayout layout_;
};

// Little-endian stores into a byte string, for tests that patch built files.
void putU16(std::string& bytes, std::uint64_t at, std::uint16_t value);
void putU32(std::string& bytes, std::uint64_t at, std::uint32_t value);

// The common fixture: a PE32 executable whose only icon group holds `pixels` (0xAARRGGBB, top row
// first) as one square 32-bit BMP image of `side` pixels, and whose version resource carries the
// file-version words `versionHigh` and `versionLow` with `versionText` in its string table.
void writeIconExecutable(const std::filesystem::path& path, int side, const std::vector<std::uint32_t>& pixels,
                         std::uint32_t versionHigh, std::uint32_t versionLow, const std::u16string& versionText);

}  // namespace testsupport

// make_hostile_executables: writes hostile executables for robustness runs of the program: hand-made
// files of every known kind of trap (icon images cut short by the end of the file, resource and icon
// group counts of 65,535, a 22-byte .ico claiming 65,535 images, 16-bit NE executables with broken
// resource tables, version resources claiming 64 MB to 4 GB, 48x48 entries that are PNG images of
// 8,192 or 16,384 pixels a side, entries whose image header disagrees with them, PNG images of every
// colour type and depth and damaged ones, bitmaps with V4 and V5 headers, sparse files of 4 GiB and
// more) and mutations (bit flips, truncations, field overwrites at structural offsets) of the given
// source executables. The same seed and arguments always give the same files.
//
// Usage: make_hostile_executables [--small] FOLDER SEED COUNT [SOURCE.exe...] [--wine SOURCE.exe...]
//   FOLDER    where the files go (made if missing)
//   COUNT     total number of files; the hand-made set comes first, mutations fill up the rest
//   --small   a short hand-made set (a few files of every kind), for test suites
//   SOURCE    executables to mutate (ones without an icon group or a resource tree are skipped);
//             those after the word "--wine" are listed as Wine's programs, the others as samples
// Standard output, and FOLDER/manifest.tsv: one line per file, "NAME<TAB>KIND<TAB>DETAIL".
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/executable/LittleEndian.h"
#include "tests/support/PeWriter.h"
#include "tests/support/PngEncoder.h"
#include "tests/support/PngKinds.h"

namespace {

namespace fs = std::filesystem;
using testsupport::IconDirEntry;
using testsupport::PeWriter;
using testsupport::pngChunk;
using testsupport::putU16;
using testsupport::putU32;

constexpr std::uint32_t kIcon = 3;
constexpr std::uint32_t kGroupIcon = 14;
constexpr std::uint32_t kVersion = 16;

// --- Deterministic randomness (SplitMix64: the same numbers on every platform and library) -------

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. bound-1 (bound > 0).
  std::uint64_t below(std::uint64_t bound) { return next() % bound; }

 private:
  std::uint64_t state_;
};

// --- Output ---------------------------------------------------------------------------------------

class Output {
 public:
  Output(fs::path folder, std::size_t limit)
      : folder_(std::move(folder)), limit_(limit), manifest_(folder_ / "manifest.tsv", std::ios::trunc) {}
  bool full() const { return written_ >= limit_; }
  // Writes `bytes` as the next file (unless the count is reached) and lists it. With `length`
  // beyond the bytes, the file is made that long, the rest a hole (a sparse file: zeros that take
  // no room on the disk).
  void write(const std::string& kind, const std::string& extension, const std::string& bytes,
             const std::string& detail, std::uint64_t length = 0) {
    if (full()) return;
    char number[24];
    std::snprintf(number, sizeof number, "%04zu", written_);
    const std::string name = std::string(number) + "-" + kind + extension;
    {
      std::ofstream out(folder_ / name, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) throw std::runtime_error("cannot write " + (folder_ / name).string());
    }
    if (length > bytes.size()) fs::resize_file(folder_ / name, length);
    std::printf("%s\t%s\t%s\n", name.c_str(), kind.c_str(), detail.c_str());
    manifest_ << name << '\t' << kind << '\t' << detail << '\n' << std::flush;
    if (!manifest_) throw std::runtime_error("cannot write " + (folder_ / "manifest.tsv").string());
    ++written_;
  }

 private:
  fs::path folder_;
  std::size_t limit_;
  std::size_t written_ = 0;
  std::ofstream manifest_;
};

// --- Building blocks ------------------------------------------------------------------------------

std::vector<std::uint32_t> tile(int side, std::uint32_t colour) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * side, colour);
  for (int i = 0; i < side; ++i) pixels[static_cast<std::size_t>(i) * side + i] = 0xFF000000;
  return pixels;
}

std::string bmp(int side, std::uint32_t colour = 0xFF3070B0) {
  return testsupport::bmpIconImage(side, side, 32, {}, tile(side, colour));
}

IconDirEntry entryFor(int side, std::uint32_t bytes, std::uint16_t id = 1) {
  IconDirEntry entry;
  entry.width = entry.height = side;
  entry.bytes = bytes;
  entry.id = id;
  return entry;
}

std::string version(std::uint32_t high = 0x00010002, std::uint32_t low = 0x00030004) {
  return testsupport::versionResource(high, low, u"1.2.3.4");
}

// A PE with one icon group naming `images` (ids from 1) and a version resource. `layout` receives
// where things went; resources are added as: icons, the group, the version.
std::string iconExecutable(const std::vector<std::string>& images, const std::vector<IconDirEntry>& entries,
                           testsupport::PeLayout* layout = nullptr, bool pe32Plus = false) {
  PeWriter writer(pe32Plus);
  for (std::size_t i = 0; i < images.size(); ++i) writer.add(kIcon, static_cast<std::uint32_t>(i + 1), images[i]);
  writer.add(kGroupIcon, 1, testsupport::iconGroup(entries));
  writer.add(kVersion, 1, version());
  std::string bytes = writer.build();
  if (layout != nullptr) *layout = writer.layout();
  return bytes;
}

std::string standardExecutable(testsupport::PeLayout* layout = nullptr, bool pe32Plus = false) {
  const std::string image = bmp(48);
  return iconExecutable({image}, {entryFor(48, static_cast<std::uint32_t>(image.size()))}, layout, pe32Plus);
}

void appendU32BigEndian(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// An 8-bit RGBA PNG of `width` x `height` transparent black pixels, compressed as it is produced
// (never held whole), so that a 16,384-pixel side makes a file of about a megabyte.
std::string blankPng(std::uint32_t width, std::uint32_t height) {
  static std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> made;
  const auto key = std::make_pair(width, height);
  if (const auto found = made.find(key); found != made.end()) return found->second;
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_RLE) != Z_OK) throw std::runtime_error("deflateInit failed");
  const std::string row(static_cast<std::size_t>(width) * 4 + 1, '\0');  // filter byte 0, then pixels
  std::string compressed;
  std::vector<unsigned char> buffer(1 << 16);
  for (std::uint32_t y = 0; y <= height; ++y) {
    const bool last = y == height;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
    z.avail_in = last ? 0 : static_cast<uInt>(row.size());
    int status = Z_OK;
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      compressed.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - z.avail_out);
    } while (z.avail_out == 0 || (last && status != Z_STREAM_END));
  }
  deflateEnd(&z);
  std::string header;
  appendU32BigEndian(header, width);
  appendU32BigEndian(header, height);
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, adaptive, no interlace
  std::string png("\x89PNG\r\n\x1a\n", 8);
  png += pngChunk("IHDR", header);
  for (std::size_t at = 0; at < compressed.size(); at += 1 << 16)
    png += pngChunk("IDAT", compressed.substr(at, 1 << 16));
  png += pngChunk("IEND", "");
  return made[key] = png;
}

// --- Hand-made kinds ------------------------------------------------------------------------------

// The only icon image is cut short by the end of the file: the data entry keeps its full size.
void iconCutByEndOfFile(Output& out, bool small) {
  const std::vector<int> sides = small ? std::vector<int>{48} : std::vector<int>{16, 32, 48, 64, 128};
  for (int side : sides) {
    testsupport::PeLayout layout;
    const std::string image = bmp(side);
    const std::string full = iconExecutable({image}, {entryFor(side, static_cast<std::uint32_t>(image.size()))}, &layout);
    const std::uint64_t at = layout.data[0];
    for (std::uint64_t keep : {std::uint64_t{0}, std::uint64_t{20}, std::uint64_t{40}, image.size() / 2,
                               image.size() - 1}) {
      if (small && keep != 20 && keep != image.size() / 2) continue;
      out.write("icon-cut-by-eof", ".exe", full.substr(0, at + keep),
                std::to_string(side) + "px image, " + std::to_string(keep) + " of " +
                    std::to_string(image.size()) + " bytes left");
    }
  }
}

// Resource root or icon group claiming 65,535 entries (and near values).
void hugeCounts(Output& out, bool small) {
  const std::vector<std::uint16_t> counts =
      small ? std::vector<std::uint16_t>{65535} : std::vector<std::uint16_t>{65535, 65534, 32768, 4096, 1000};
  for (std::uint16_t count : counts) {
    testsupport::PeLayout layout;
    std::string bytes = standardExecutable(&layout);
    std::string ids = bytes, names = bytes, both = bytes;
    putU16(ids, layout.resourceSection + 14, count);
    putU16(names, layout.resourceSection + 12, count);
    putU16(both, layout.resourceSection + 12, count);
    putU16(both, layout.resourceSection + 14, count);
    out.write("root-65535", ".exe", ids, "root id entries " + std::to_string(count));
    if (!small) out.write("root-65535", ".exe", names, "root named entries " + std::to_string(count));
    if (!small) out.write("root-65535", ".exe", both, "root named and id entries " + std::to_string(count));
    // The group's count field (the data keeps its size: one entry's worth).
    std::string group = bytes;
    putU16(group, layout.data[1] + 4, count);
    out.write("group-65535", ".exe", group, "icon group count " + std::to_string(count));
    // The type directory of icon groups claiming as many names.
    if (!small) {
      std::string typeDir = bytes;
      putU16(typeDir, layout.typeDirectory[1] + 14, count);
      out.write("group-65535", ".exe", typeDir, "group type directory entries " + std::to_string(count));
      std::string languages = bytes;
      putU16(languages, layout.languageDirectory[1] + 14, count);
      out.write("group-65535", ".exe", languages, "group language directory entries " + std::to_string(count));
    }
  }
  // A group whose count is large and whose data really is that long, each entry naming a missing
  // or real image: the counts are consistent with the data, but the images are not there.
  for (std::uint16_t count : small ? std::vector<std::uint16_t>{} : std::vector<std::uint16_t>{4096, 65535}) {
    const std::string image = bmp(48);
    std::vector<IconDirEntry> entries(count, entryFor(32, static_cast<std::uint32_t>(image.size()), 2));
    entries.back() = entryFor(48, static_cast<std::uint32_t>(image.size()), 1);
    out.write("group-65535", ".exe", iconExecutable({image}, entries),
              std::to_string(count) + " real group entries naming a missing image");
  }
}

// A plain .ico file whose directory claims 65,535 images but holds one entry (22 bytes in all).
void icoHugeCount(Output& out, bool small, Random& random) {
  const int variants = small ? 2 : 24;
  for (int v = 0; v < variants; ++v) {
    std::string ico = std::string("\0\0\1\0\xFF\xFF", 6);
    std::string entry(16, '\0');
    if (v == 0) {
      entry = std::string("\x30\x30\0\0\1\0\x20\0", 8) + std::string("\x28\x25\0\0\x16\0\0\0", 8);
    } else {
      for (char& c : entry) c = static_cast<char>(random.below(256));
    }
    ico += entry;
    out.write("ico-65535", ".ico", ico, v == 0 ? "48x48 entry pointing at itself" : "random entry");
  }
  if (small) return;
  // Counts just above what the file holds, and an image past the end.
  for (std::uint16_t count : {2, 3, 255, 256, 32767}) {
    std::string ico = testsupport::icoFile({entryFor(48, 0)}, {bmp(48)});
    putU16(ico, 4, count);
    out.write("ico-65535", ".ico", ico, "one image, count " + std::to_string(count));
  }
  std::string past = testsupport::icoFile({entryFor(48, 0)}, {bmp(48)});
  putU32(past, 6 + 12, 0x7FFFFFF0);
  out.write("ico-65535", ".ico", past, "image offset past the end");
}

// --- 16-bit NE executables -------------------------------------------------------------------------

struct NeParts {
  std::string bytes;
  std::uint64_t neHeader = 0x40;
  std::uint64_t resourceTable = 0;
  std::uint64_t groupNameInfo = 0;  // the icon group's NAMEINFO record
  std::uint64_t iconNameInfo = 0;
  std::uint64_t groupTypeInfo = 0;
  std::uint64_t groupData = 0;
};

// A small well-formed NE executable with one icon group naming one 32x32 4-bit... here 48x48
// 32-bit image (resources aligned to 16 bytes).
NeParts neExecutable() {
  NeParts ne;
  std::string& b = ne.bytes;
  b.assign(0x40, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  putU32(b, 0x3C, 0x40);
  std::string header(0x40, '\0');
  header[0] = 'N';
  header[1] = 'E';
  header[2] = 5;
  header[0x36] = 2;                  // Windows
  putU16(header, 0x0C, 0x0302);      // flags: multiple data, protected-mode
  putU16(header, 0x32, 4);           // alignment shift
  putU16(header, 0x3E, 0x030A);      // Windows 3.10
  const std::uint16_t resourceTable = 0x40;
  ne.resourceTable = 0x40 + resourceTable;
  // Resource table: shift, type (icons), type (groups), terminator, then the resident name table.
  std::string table;
  auto u16 = [&table](std::uint16_t v) { table.push_back(static_cast<char>(v & 0xFF)); table.push_back(static_cast<char>(v >> 8)); };
  auto u32 = [&u16](std::uint32_t v) { u16(static_cast<std::uint16_t>(v)); u16(static_cast<std::uint16_t>(v >> 16)); };
  u16(4);
  const std::size_t iconType = table.size();
  u16(0x8000 | kIcon); u16(1); u32(0);
  const std::size_t iconName = table.size();
  u16(0); u16(0); u16(0x1C10); u16(0x8001); u32(0);
  const std::size_t groupType = table.size();
  u16(0x8000 | kGroupIcon); u16(1); u32(0);
  const std::size_t groupName = table.size();
  u16(0); u16(0); u16(0x1C30); u16(0x8001); u32(0);
  u16(0);        // end of types
  table.push_back('\0');  // no resource names
  (void)iconType;
  const std::uint16_t residentNames = static_cast<std::uint16_t>(resourceTable + table.size());
  std::string names = std::string("\x04ICON\0\0", 7);
  names.push_back('\0');
  const std::uint16_t after = static_cast<std::uint16_t>(residentNames + names.size());
  putU16(header, 0x04, after);       // entry table (empty)
  putU16(header, 0x06, 0);
  putU16(header, 0x22, resourceTable);  // segment table: none
  putU16(header, 0x24, resourceTable);
  putU16(header, 0x26, residentNames);
  putU16(header, 0x28, after);
  putU16(header, 0x2A, after);
  b += header + table + names;
  b.resize((b.size() + 15) / 16 * 16, '\0');
  // The icon image, then the group, each at a 16-byte boundary.
  const std::string image = bmp(48);
  const std::uint64_t imageAt = b.size();
  b += image;
  b.resize((b.size() + 15) / 16 * 16, '\0');
  const std::uint64_t groupAt = b.size();
  b += testsupport::iconGroup({entryFor(48, static_cast<std::uint32_t>(image.size()), 1)});
  b.resize((b.size() + 15) / 16 * 16, '\0');
  ne.iconNameInfo = ne.resourceTable + iconName;
  ne.groupNameInfo = ne.resourceTable + groupName;
  ne.groupTypeInfo = ne.resourceTable + groupType;
  ne.groupData = groupAt;
  putU16(b, ne.iconNameInfo, static_cast<std::uint16_t>(imageAt >> 4));
  putU16(b, ne.iconNameInfo + 2, static_cast<std::uint16_t>((image.size() + 15) >> 4));
  putU16(b, ne.groupNameInfo, static_cast<std::uint16_t>(groupAt >> 4));
  putU16(b, ne.groupNameInfo + 2, 2);
  return ne;
}

void neExecutables(Output& out, bool small) {
  const NeParts good = neExecutable();
  out.write("ne-executable", ".exe", good.bytes, "well-formed 16-bit executable with a 48x48 icon");
  struct Damage {
    const char* what;
    std::uint64_t at;
    int width;
    std::uint32_t value;
    bool inSmall;
  };
  const std::vector<Damage> damages = {
      {"alignment shift 31", good.resourceTable, 2, 31, false},
      {"alignment shift 15", good.resourceTable, 2, 15, true},
      {"icon type count 65535", good.resourceTable + 4, 2, 65535, true},
      {"group type count 65535", good.groupTypeInfo + 2, 2, 65535, false},
      {"group offset past the end", good.groupNameInfo, 2, 0xFFFF, true},
      {"group length 65535 units", good.groupNameInfo + 2, 2, 0xFFFF, false},
      {"icon offset past the end", good.iconNameInfo, 2, 0xFFF0, false},
      {"icon length 65535 units", good.iconNameInfo + 2, 2, 0xFFFF, true},
      {"resource table offset past the end", good.neHeader + 0x24, 2, 0xFFF0, true},
      {"resource table at the header", good.neHeader + 0x24, 2, 0, false},
      {"group names icon 0xFFFF", good.groupData + 6 + 12, 2, 0xFFFF, false},
      {"group count 65535", good.groupData + 4, 2, 65535, true},
      {"no end of types", good.groupTypeInfo + 20, 2, 0x8003, false},
  };
  for (const Damage& damage : damages) {
    if (small && !damage.inSmall) continue;
    std::string bytes = good.bytes;
    if (damage.width == 2) putU16(bytes, damage.at, static_cast<std::uint16_t>(damage.value));
    else putU32(bytes, damage.at, damage.value);
    out.write("ne-bad-resources", ".exe", bytes, damage.what);
  }
  // Cut short inside the resource table and inside the image.
  out.write("ne-bad-resources", ".exe", good.bytes.substr(0, good.resourceTable + 9), "cut inside the resource table");
  if (!small) out.write("ne-bad-resources", ".exe", good.bytes.substr(0, good.groupData - 100), "cut inside the image");
}

// Version resources claiming 64 MB .. 4 GB: the data entry's size is raised, the bytes stay small.
void hugeVersions(Output& out, bool small) {
  const std::vector<std::uint32_t> sizes =
      small ? std::vector<std::uint32_t>{64u << 20, 0xFFFFFFFFu}
            : std::vector<std::uint32_t>{64u << 20, 100000000u, 256u << 20, 1u << 30, 2u << 30, 0x80000001u,
                                         0xFFFFFFF0u, 0xFFFFFFFFu, (64u << 20) + 1, 3u << 30};
  for (std::uint32_t size : sizes) {
    testsupport::PeLayout layout;
    std::string bytes = standardExecutable(&layout);
    putU32(bytes, layout.dataEntry[2] + 4, size);
    out.write("version-huge", ".exe", bytes, "version data entry claims " + std::to_string(size) + " bytes");
  }
  if (small) return;
  // The same claims in a PE32+ file, and a version block whose own length disagrees.
  for (std::uint32_t size : {64u << 20, 0xFFFFFFFFu}) {
    testsupport::PeLayout layout;
    std::string bytes = standardExecutable(&layout, true);
    putU32(bytes, layout.dataEntry[2] + 4, size);
    out.write("version-huge", ".exe", bytes, "PE32+, version data entry claims " + std::to_string(size) + " bytes");
  }
  testsupport::PeLayout layout;
  std::string bytes = standardExecutable(&layout);
  putU16(bytes, layout.data[2], 0xFFFF);
  out.write("version-huge", ".exe", bytes, "version block length 65535 in a short resource");
}

// 48x48 entries whose image is a PNG of 8,192 or 16,384 pixels a side.
void hugePngs(Output& out, bool small) {
  for (std::uint32_t side : {8192u, 16384u}) {
    const std::string png = blankPng(side, side);
    const std::string kind = "png-" + std::to_string(side);
    out.write(kind, ".exe", iconExecutable({png}, {entryFor(48, static_cast<std::uint32_t>(png.size()))}),
              "48x48 entry, " + std::to_string(png.size()) + "-byte PNG");
    if (small) continue;
    out.write(kind, ".exe", iconExecutable({png}, {entryFor(256, static_cast<std::uint32_t>(png.size()))}),
              "256x256 entry, " + std::to_string(png.size()) + "-byte PNG");
    const std::string good = bmp(32);
    out.write(kind, ".exe",
              iconExecutable({good, png}, {entryFor(32, static_cast<std::uint32_t>(good.size()), 1),
                                           entryFor(48, static_cast<std::uint32_t>(png.size()), 2)}),
              "32x32 BMP beside the 48x48 PNG entry");
    out.write(kind, ".ico", testsupport::icoFile({entryFor(48, 0)}, {png}), ".ico with a 48x48 entry");
  }
  if (!small) {
    const std::string wide = blankPng(16384, 48);
    out.write("png-16384", ".exe", iconExecutable({wide}, {entryFor(48, static_cast<std::uint32_t>(wide.size()))}),
              "16384x48 PNG");
  }
}

// Entries whose image header disagrees with them.
void mismatches(Output& out, bool small) {
  struct Patch {
    const char* what;
    std::uint32_t at;  // offset inside the BMP header
    int width;
    std::uint32_t value;
  };
  const std::vector<Patch> patches = {
      {"header width 256", 4, 4, 256},          {"header width 8192", 4, 4, 8192},
      {"header height 16384x2", 8, 4, 32768},  {"header width 0", 4, 4, 0},
      {"header height 0", 8, 4, 0},            {"header height negative", 8, 4, 0xFFFFFFA0},
      {"header width negative", 4, 4, 0xFFFFFFD0}, {"header size 12", 0, 4, 12},
      {"header size 0xFFFFFFFF", 0, 4, 0xFFFFFFFF}, {"header size 124", 0, 4, 124},
      {"bit count 0", 14, 2, 0},               {"bit count 64", 14, 2, 64},
      {"bit count 7", 14, 2, 7},               {"planes 0", 12, 2, 0},
      {"compression 3 (bit fields)", 16, 4, 3}, {"compression 4 (JPEG)", 16, 4, 4},
      {"colours used 0xFFFFFFFF", 32, 4, 0xFFFFFFFF}, {"header width 49", 4, 4, 49},
  };
  for (std::size_t i = 0; i < patches.size(); ++i) {
    if (small && i % 4 != 0) continue;
    const Patch& patch = patches[i];
    testsupport::PeLayout layout;
    std::string bytes = standardExecutable(&layout);
    if (patch.width == 2) putU16(bytes, layout.data[0] + patch.at, static_cast<std::uint16_t>(patch.value));
    else putU32(bytes, layout.data[0] + patch.at, patch.value);
    out.write("mismatch-bmp", ".exe", bytes, patch.what);
  }
  // The entry's own fields: a byte count far larger or smaller than the image, 8-bit entry for a
  // 32-bit image, id naming nothing.
  const std::string image = bmp(48);
  const std::uint32_t size = static_cast<std::uint32_t>(image.size());
  std::vector<std::pair<std::string, IconDirEntry>> entries = {
      {"entry bytes 0xFFFFFFFF", entryFor(48, 0xFFFFFFFF)}, {"entry bytes 40", entryFor(48, 40)},
      {"entry bytes 0", entryFor(48, 0)},                   {"entry names icon 7", entryFor(48, size, 7)},
      {"entry says 16x16", entryFor(16, size)},             {"entry says 256x256", entryFor(256, size)},
  };
  entries.push_back({"entry says 8 bits", entryFor(48, size)});
  entries.back().second.bitCount = 8;
  entries.back().second.colours = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (small && i % 3 != 0) continue;
    out.write("mismatch-entry", ".exe", iconExecutable({image}, {entries[i].second}), entries[i].first);
  }
  // PNG images whose IHDR disagrees with the entry, or is broken.
  std::vector<std::pair<std::string, std::string>> pngs;
  pngs.push_back({"PNG 300x300 for a 48x48 entry", blankPng(300, 300)});
  pngs.push_back({"PNG 47x48 for a 48x48 entry", blankPng(47, 48)});
  pngs.push_back({"PNG 257x257 for a 48x48 entry", blankPng(257, 257)});
  std::string zero = blankPng(48, 48);
  zero[16 + 3] = 0;  // width 0 (the chunk's CRC no longer matches)
  pngs.push_back({"PNG width 0, bad CRC", zero});
  std::string cut = blankPng(48, 48);
  pngs.push_back({"PNG cut after IHDR", cut.substr(0, 33)});
  std::string huge = blankPng(48, 48);
  putU32(huge, 8, 0xFFFFFFFF);  // IHDR chunk length
  pngs.push_back({"PNG IHDR length 0xFFFFFFFF", huge});
  for (std::size_t i = 0; i < pngs.size(); ++i) {
    if (small && i % 2 != 0) continue;
    const std::string& png = pngs[i].second;
    out.write("mismatch-png", ".exe", iconExecutable({png}, {entryFor(48, static_cast<std::uint32_t>(png.size()))}),
              pngs[i].first);
  }
  // The same header faults in plain .ico files.
  for (std::size_t i = 0; i < patches.size(); i += small ? 6 : 2) {
    std::string ico = testsupport::icoFile({entryFor(48, 0)}, {image});
    const Patch& patch = patches[i];
    if (patch.width == 2) putU16(ico, 22 + patch.at, static_cast<std::uint16_t>(patch.value));
    else putU32(ico, 22 + patch.at, patch.value);
    out.write("mismatch-ico", ".ico", ico, patch.what);
  }
}

// --- What the two builds must agree on --------------------------------------------------------------

// Every kind of PNG image of tests/support/PngKinds: those the checks accept (the kinds the
// system's decoder under Wine hands back with red and blue swapped apart, as "png-wine-colours"),
// and those they refuse (16 bits per sample, damaged chunks), in an executable and an .ico file;
// bitmaps with a BITMAPV4HEADER or BITMAPV5HEADER; and sparse files of 4 GiB and more holding a
// good executable or .ico file at their start.
void agreementKinds(Output& out, bool small) {
  for (const testsupport::PngKind& kind : testsupport::pngKinds()) {
    const std::string name = !kind.accepted ? "png-refused" : kind.wineSwapsColours ? "png-wine-colours" : "png-formats";
    const bool inSmall = kind.what == "palette with tRNS, 8 bits" || kind.what == "palette, 8 bits" ||
                         kind.what == "RGBA, IDAT CRC wrong" || kind.what == "RGBA, 16 bits";
    if (small && !inSmall) continue;
    out.write(name, ".exe", iconExecutable({kind.png}, {entryFor(48, static_cast<std::uint32_t>(kind.png.size()))}),
              kind.what);
    if (!small) out.write(name, ".ico", testsupport::icoFile({entryFor(48, 0)}, {kind.png}), kind.what);
  }
  for (const std::uint32_t headerSize : {108u, 124u}) {
    for (const int bits : {32, 8}) {
      if (small && (headerSize != 124 || bits != 32)) continue;
      std::vector<std::uint32_t> palette, pixels;
      for (std::uint32_t i = 0; bits == 8 && i < 256; ++i) palette.push_back(i * 0x010203u);
      for (std::uint32_t i = 0; i < 48 * 48; ++i) pixels.push_back(bits == 8 ? i % 256 : 0xFF000000u | i * 0x0A0B0Cu);
      std::string image = testsupport::bmpIconImage(48, 48, bits, palette, pixels);
      image.insert(40, std::string(headerSize - 40, '\0'));  // the longer header's fields, all 0
      putU32(image, 0, headerSize);
      const std::string what = std::to_string(headerSize) + "-byte header, " + std::to_string(bits) + " bits";
      IconDirEntry entry = entryFor(48, static_cast<std::uint32_t>(image.size()));
      entry.bitCount = static_cast<std::uint16_t>(bits);
      out.write("bmp-v4-v5", ".exe", iconExecutable({image}, {entry}), what);
      if (!small) out.write("bmp-v4-v5", ".ico", testsupport::icoFile({entry}, {image}), what);
    }
  }
  constexpr std::uint64_t k4GiB = 1ull << 32;
  const std::string exe = standardExecutable();
  const std::string ico = testsupport::icoFile({entryFor(48, 0)}, {bmp(48)});
  for (const std::uint64_t length : {k4GiB, k4GiB + 100, k4GiB + (1u << 20)}) {
    if (small && length != k4GiB + 100) continue;
    out.write("size-4gib", ".exe", exe, "good executable in a sparse file of " + std::to_string(length) + " bytes", length);
  }
  if (!small) out.write("size-4gib", ".ico", ico, "good .ico in a sparse file of 4 GiB + 100 bytes", k4GiB + 100);
}

// --- Mutations of real executables ----------------------------------------------------------------

struct Field {
  std::uint64_t at;
  int width;  // 2 or 4
  std::string what;
};

std::uint32_t readU16(const std::string& b, std::uint64_t at) {
  if (at + 2 > b.size()) throw std::out_of_range("u16");
  return platform::executable::u16At(b, at);
}
std::uint32_t readU32(const std::string& b, std::uint64_t at) {
  if (at + 4 > b.size()) throw std::out_of_range("u32");
  return platform::executable::u32At(b, at);
}

// The structural fields of one executable: section table, resource directories and entries,
// data entries, icon group entries, image headers, version block. Empty when it has no resource tree.
struct Structure {
  std::vector<Field> fields;
  std::vector<std::uint64_t> cutPoints;  // offsets worth cutting the file at
  bool hasIconGroup = false;
};

std::optional<std::uint64_t> offsetOfRva(const std::string& b, std::uint64_t sections, unsigned count,
                                         std::uint32_t rva) {
  for (unsigned i = 0; i < count; ++i) {
    const std::uint64_t s = sections + 40ull * i;
    const std::uint32_t va = readU32(b, s + 12), rawSize = readU32(b, s + 16), rawAt = readU32(b, s + 20);
    const std::uint32_t virtualSize = std::max(readU32(b, s + 8), rawSize);
    if (rva >= va && rva - va < virtualSize) return std::uint64_t{rawAt} + (rva - va);
  }
  return std::nullopt;
}

Structure structureOf(const std::string& b) {
  Structure s;
  if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return s;
  const std::uint64_t pe = readU32(b, 0x3C);
  if (pe + 24 > b.size() || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return s;
  const unsigned count = readU16(b, pe + 6);
  const std::uint64_t optional = pe + 24, sections = optional + readU16(b, pe + 20);
  if (sections + 40ull * count > b.size()) return s;
  const bool plus = readU16(b, optional) == 0x20B;
  const std::uint64_t directories = optional + (plus ? 112 : 96);
  s.fields.push_back({pe + 6, 2, "section count"});
  s.fields.push_back({pe + 20, 2, "optional header size"});
  s.fields.push_back({directories + 16, 4, "resource directory RVA"});
  s.fields.push_back({directories + 20, 4, "resource directory size"});
  for (unsigned i = 0; i < count; ++i) {
    const std::uint64_t at = sections + 40ull * i;
    s.fields.push_back({at + 8, 4, "section virtual size"});
    s.fields.push_back({at + 12, 4, "section RVA"});
    s.fields.push_back({at + 16, 4, "section raw size"});
    s.fields.push_back({at + 20, 4, "section raw offset"});
  }
  s.cutPoints.push_back(sections + 20);
  const std::uint32_t resourceRva = readU32(b, directories + 16);
  const auto root = offsetOfRva(b, sections, count, resourceRva);
  if (resourceRva == 0 || !root || *root + 16 > b.size()) return s;
  // Walk the three levels (type, name, language), noting every header, entry and data entry.
  struct Pending {
    std::uint64_t at;
    int level;
    std::uint32_t type;
  };
  std::vector<Pending> queue = {{*root, 0, 0}};
  for (std::size_t q = 0; q < queue.size() && q < 4096; ++q) {
    const Pending dir = queue[q];
    if (dir.at + 16 > b.size()) continue;
    s.fields.push_back({dir.at + 12, 2, "directory named count, level " + std::to_string(dir.level)});
    s.fields.push_back({dir.at + 14, 2, "directory id count, level " + std::to_string(dir.level)});
    s.cutPoints.push_back(dir.at + 8);
    const unsigned entries = readU16(b, dir.at + 12) + readU16(b, dir.at + 14);
    for (unsigned e = 0; e < entries && e < 64; ++e) {
      const std::uint64_t entry = dir.at + 16 + 8ull * e;
      if (entry + 8 > b.size()) break;
      s.fields.push_back({entry, 4, "entry name or id, level " + std::to_string(dir.level)});
      s.fields.push_back({entry + 4, 4, "entry offset, level " + std::to_string(dir.level)});
      const std::uint32_t id = readU32(b, entry), offset = readU32(b, entry + 4);
      const std::uint32_t type = dir.level == 0 ? id : dir.type;
      if (offset & 0x80000000u) {
        if (dir.level < 2) queue.push_back({*root + (offset & 0x7FFFFFFFu), dir.level + 1, type});
        continue;
      }
      const std::uint64_t data = *root + offset;
      if (data + 16 > b.size()) continue;
      s.fields.push_back({data, 4, "data entry RVA"});
      s.fields.push_back({data + 4, 4, "data entry size"});
      const auto bytes = offsetOfRva(b, sections, count, readU32(b, data));
      const std::uint32_t size = readU32(b, data + 4);
      if (!bytes || *bytes + size > b.size()) continue;
      s.cutPoints.push_back(*bytes + size / 2);
      if (type == kGroupIcon && size >= 6) {
        s.hasIconGroup = true;
        s.fields.push_back({*bytes + 4, 2, "icon group count"});
        const unsigned images = readU16(b, *bytes + 4);
        for (unsigned i = 0; i < images && 6 + 14ull * (i + 1) <= size; ++i) {
          const std::uint64_t g = *bytes + 6 + 14ull * i;
          s.fields.push_back({g, 2, "group entry width and height"});
          s.fields.push_back({g + 6, 2, "group entry bit count"});
          s.fields.push_back({g + 8, 4, "group entry bytes"});
          s.fields.push_back({g + 12, 2, "group entry icon id"});
        }
      } else if (type == kIcon && size >= 40) {
        if (readU32(b, *bytes) == 40) {
          s.fields.push_back({*bytes, 4, "bitmap header size"});
          s.fields.push_back({*bytes + 4, 4, "bitmap width"});
          s.fields.push_back({*bytes + 8, 4, "bitmap height"});
          s.fields.push_back({*bytes + 14, 2, "bitmap bit count"});
          s.fields.push_back({*bytes + 16, 4, "bitmap compression"});
          s.fields.push_back({*bytes + 32, 4, "bitmap colours used"});
        } else if (b.compare(*bytes, 4, "\x89PNG") == 0) {
          s.fields.push_back({*bytes + 16, 4, "PNG width"});
          s.fields.push_back({*bytes + 20, 4, "PNG height"});
          s.fields.push_back({*bytes + 8, 4, "PNG IHDR length"});
        }
      } else if (type == kVersion && size >= 6) {
        s.fields.push_back({*bytes, 2, "version block length"});
        s.fields.push_back({*bytes + 2, 2, "version value length"});
        if (size >= 44) s.fields.push_back({*bytes + 40, 4, "version fixed record signature"});
      }
    }
  }
  return s;
}

struct Source {
  std::string name;   // file name, for the listing
  std::string group;  // "sample" or "wine"
  std::string bytes;
  Structure structure;
};

const std::uint32_t kInteresting[] = {0,          1,          2,          0x7F,       0x80,      0xFF,
                                      0x100,      0x7FFF,     0x8000,     0xFFFF,     0x10000,   0x7FFFFFFF,
                                      0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0x01000000, 0x00100000};

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

void mutate(Output& out, const std::vector<Source>& sources, Random& random) {
  if (sources.empty()) return;
  for (std::size_t n = 0; !out.full(); ++n) {
    const Source& source = sources[n % sources.size()];
    std::string bytes = source.bytes;
    const auto& fields = source.structure.fields;
    const Field& field = fields[random.below(fields.size())];
    const std::string from = source.name + ": ";
    switch (random.below(3)) {
      case 0: {  // bit flips: inside one structural field, or anywhere
        const int flips = 1 + static_cast<int>(random.below(4));
        std::string where;
        for (int f = 0; f < flips; ++f) {
          const std::uint64_t at =
              random.below(2) == 0 ? field.at + random.below(field.width) : random.below(bytes.size());
          if (at >= bytes.size()) continue;
          bytes[at] = static_cast<char>(bytes[at] ^ (1 << random.below(8)));
          where += (where.empty() ? "" : ",") + hex(at);
        }
        out.write("flip-" + source.group, ".exe", bytes, from + "bits flipped at " + where + " (" + field.what + ")");
        break;
      }
      case 1: {  // truncation at a structural point or anywhere
        const auto& cuts = source.structure.cutPoints;
        std::uint64_t at = random.below(2) == 0 && !cuts.empty() ? cuts[random.below(cuts.size())]
                                                                 : random.below(bytes.size());
        at = std::min<std::uint64_t>(at, bytes.size() - 1);
        out.write("truncate-" + source.group, ".exe", bytes.substr(0, at),
                  from + "cut at " + hex(at) + " of " + hex(bytes.size()));
        break;
      }
      default: {  // field overwrite with a value that breaks arithmetic
        std::uint32_t value = kInteresting[random.below(std::size(kInteresting))];
        if (random.below(4) == 0) value = static_cast<std::uint32_t>(bytes.size() - random.below(64));
        if (field.at + field.width > bytes.size()) continue;
        if (field.width == 2) putU16(bytes, field.at, static_cast<std::uint16_t>(value));
        else putU32(bytes, field.at, value);
        out.write("overwrite-" + source.group, ".exe", bytes,
                  from + field.what + " at " + hex(field.at) + " = " + hex(value & (field.width == 2 ? 0xFFFF : ~0u)));
      }
    }
  }
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int usage() {
  std::fprintf(stderr, "usage: make_hostile_executables [--small] FOLDER SEED COUNT [SOURCE.exe...] [--wine SOURCE.exe...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const bool small = argc > 1 && std::string(argv[1]) == "--small";
  if (small) ++first;
  if (argc - first < 3) return usage();
  const fs::path folder = argv[first];
  char* end = nullptr;
  const std::uint64_t seed = std::strtoull(argv[first + 1], &end, 10);
  if (*end != '\0') return usage();
  const long count = std::strtol(argv[first + 2], &end, 10);
  if (*end != '\0' || count <= 0) return usage();
  try {
    fs::create_directories(folder);
    std::vector<Source> sources;
    std::string group = "sample";
    for (int i = first + 3; i < argc; ++i) {
      if (std::string(argv[i]) == "--wine") {
        group = "wine";
        continue;
      }
      Source source;
      source.name = fs::path(argv[i]).filename().string();
      source.bytes = readFile(argv[i]);
      source.group = group;
      try {
        source.structure = structureOf(source.bytes);
      } catch (const std::out_of_range&) {
        continue;
      }
      if (source.structure.hasIconGroup) sources.push_back(std::move(source));
    }
    Random random(seed);
    Output out(folder, static_cast<std::size_t>(count));
    iconCutByEndOfFile(out, small);
    hugeCounts(out, small);
    icoHugeCount(out, small, random);
    neExecutables(out, small);
    hugeVersions(out, small);
    hugePngs(out, small);
    mismatches(out, small);
    agreementKinds(out, small);
    mutate(out, sources, random);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_hostile_executables: %s\n", error.what());
    return 1;
  }
  return 0;
}

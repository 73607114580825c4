// The hostile files of HostileExecutables.h, each made from a good one by changing a field or two.
#include "tests/support/HostileExecutables.h"

#include <cstdint>

#include "tests/support/PeWriter.h"

namespace testsupport {
namespace {

constexpr std::uint32_t kIcon = 3, kGroup = 14, kVersion = 16;
constexpr std::uint16_t kEnglish = 0x0409, kGerman = 0x0407;

std::string image48() {
  std::vector<std::uint32_t> pixels(48 * 48);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
  return bmpIconImage(48, 48, 32, {}, pixels);
}

std::string group48(std::uint16_t id = 1) { return iconGroup({{48, 48, 0, 1, 32, 0, id}}); }
std::string version1234() { return versionResource(0x00010002, 0x00030004, u"1.2.3.4"); }

// The good file's resources, in this order: icon 1, group 1, version 1 (so data[0], [1], [2]).
PeWriter goodWriter() {
  PeWriter pe;
  pe.add(kIcon, 1, image48());
  pe.add(kGroup, 1, group48());
  pe.add(kVersion, 1, version1234());
  return pe;
}

// The good file with `patch` applied to its bytes, given its layout.
template <typename Patch>
std::string damaged(Patch patch) {
  PeWriter pe = goodWriter();
  std::string bytes = pe.build();
  patch(bytes, pe.layout());
  return bytes;
}

// The good file whose only icon image holds `image` instead.
std::string withImage(const std::string& image, const std::string& group = group48()) {
  PeWriter pe;
  pe.add(kIcon, 1, image);
  pe.add(kGroup, 1, group);
  pe.add(kVersion, 1, version1234());
  return pe.build();
}

// A 16-bit NE executable: a DOS header pointing at an "NE" header whose resource table claims
// 65,535 resources of a type, far more than the file holds.
std::string neExecutable() {
  std::string bytes(0x40 + 0x40 + 0x20, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  putU32(bytes, 0x3C, 0x40);
  bytes[0x40] = 'N';
  bytes[0x41] = 'E';
  putU16(bytes, 0x40 + 0x24, 0x40);  // resource table, relative to the NE header
  putU16(bytes, 0x80, 4);            // alignment shift
  putU16(bytes, 0x82, 0x800E);       // type: group icon
  putU16(bytes, 0x84, 0xFFFF);       // resource count
  return bytes;
}

// An .ico file of 22 bytes whose directory claims 65,535 images: one entry is there.
std::string tinyIcoClaimingAll() {
  std::string bytes(22, '\0');
  putU16(bytes, 2, 1);
  putU16(bytes, 4, 0xFFFF);
  bytes[6] = 48;
  bytes[7] = 48;
  putU16(bytes, 10, 1);
  putU16(bytes, 12, 32);
  putU32(bytes, 14, 9640);
  putU32(bytes, 18, 22);
  return bytes;
}

}  // namespace

std::string goodExecutable() { return goodWriter().build(); }

std::vector<HostileFile> hostileFiles() {
  std::vector<HostileFile> files;
  auto add = [&](const char* what, const char* name, std::string bytes, bool badIcon, bool badVersion) {
    files.push_back({what, name, std::move(bytes), badIcon, badVersion});
  };

  // The icon image is the file's last bytes, and the file ends halfway through it.
  {
    PeWriter pe;
    pe.add(kGroup, 1, group48());
    pe.add(kVersion, 1, version1234());
    pe.add(kIcon, 1, image48());
    std::string bytes = pe.build();
    bytes.resize(pe.layout().data[2] + image48().size() / 2);
    // Its version resource is whole, but the system loads no image cut short, so it has none.
    add("icon image cut short by the end of the file", "cut.exe", bytes, true, true);
  }

  // Counts far beyond what the file holds.
  add("resource root claiming 65,535 entries", "root.exe",
      damaged([](std::string& b, const PeLayout& l) { putU16(b, l.resourceSection + 14, 0xFFFF); }), true, true);
  add("icon group claiming 65,535 images", "group.exe",
      damaged([](std::string& b, const PeLayout& l) { putU16(b, l.data[1] + 4, 0xFFFF); }), true, false);
  add("22-byte .ico claiming 65,535 images", "tiny.ico", tinyIcoClaimingAll(), true, true);
  add("16-bit NE executable", "old.exe", neExecutable(), true, true);

  // Version resources claiming 64 MB and 4 GB, and one of 70,000 bytes that is really there.
  add("version claiming 64 MB", "v64m.exe",
      damaged([](std::string& b, const PeLayout& l) { putU32(b, l.dataEntry[2] + 4, 64u << 20); }), false, true);
  add("version claiming 4 GB", "v4g.exe",
      damaged([](std::string& b, const PeLayout& l) { putU32(b, l.dataEntry[2] + 4, 0xFFFFFFFFu); }), false, true);
  {
    PeWriter pe;
    pe.add(kIcon, 1, image48());
    pe.add(kGroup, 1, group48());
    std::string version = version1234();
    version.resize(70000, '\0');
    pe.add(kVersion, 1, version);
    add("version of 70,000 bytes", "v70k.exe", pe.build(), false, true);
  }

  // Entries whose image says something else than the entry.
  std::string png8192 = pngHeader(8192, 8192);
  png8192.resize(258 * 1024, '\0');
  add("48x48 entry holding a PNG of 8192 x 8192", "png8192.exe", withImage(png8192), true, false);
  add("256x256 entry holding a PNG of 16384 x 16384", "png16384.exe",
      withImage(pngHeader(16384, 16384), iconGroup({{256, 256, 0, 1, 32, 0, 1}})), true, false);
  std::vector<std::uint32_t> small(16 * 16, 0xFF00FF00u);
  add("48x48 entry holding a 16x16 bitmap", "small.exe", withImage(bmpIconImage(16, 16, 32, {}, small)), true, false);
  add("bitmap height not counting its mask", "height.exe",
      damaged([](std::string& b, const PeLayout& l) { putU32(b, l.data[0] + 8, 48); }), true, false);
  add("bitmap data ending before its mask", "mask.exe",
      damaged([](std::string& b, const PeLayout& l) { putU32(b, l.dataEntry[0] + 4, 40 + 48 * 48 * 4 + 100); }), true,
      false);

  // The same damage in a second language (stored after the first: German 0x0407, then English
  // 0x0409), which the system may read instead of the first.
  {
    PeWriter pe;
    pe.add(kIcon, 1, image48());
    pe.add(kGroup, 1, group48(), kGerman);
    std::string bad = group48();
    putU16(bad, 4, 0xFFFF);
    pe.add(kGroup, 1, bad, kEnglish);
    pe.add(kVersion, 1, version1234());
    add("group's second language claiming 65,535 images", "lang-group.exe", pe.build(), true, false);
  }
  {
    PeWriter pe;
    pe.add(kIcon, 1, image48(), kGerman);
    pe.add(kIcon, 1, bmpIconImage(16, 16, 32, {}, small), kEnglish);
    pe.add(kGroup, 1, group48());
    pe.add(kVersion, 1, version1234());
    add("image's second language disagreeing with its entry", "lang-image.exe", pe.build(), true, false);
  }
  {
    PeWriter pe;
    pe.add(kIcon, 1, image48());
    pe.add(kGroup, 1, group48());
    pe.add(kVersion, 1, version1234(), kGerman);
    pe.add(kVersion, 1, version1234(), kEnglish);
    std::string bytes = pe.build();
    putU32(bytes, pe.layout().dataEntry[3] + 4, 64u << 20);
    add("version's second language claiming 64 MB", "lang-version.exe", bytes, false, true);
  }
  return files;
}

}  // namespace testsupport

// Icon and version resources of PE images (PE32 and PE32+) and icons of plain .ico files.
//
// The resource tree (PE/COFF format, ".rsrc section") has three fixed levels: type, name, language.
// Directory offsets are relative to the tree's root; data entries hold image-relative addresses
// that are mapped to file offsets through the section table. The tree is walked at exactly those
// three levels, so a directory that points back at itself cannot make us loop. Every read is a
// positioned read of just the bytes needed, checked against the file and, for the tree itself,
// against the raw data of the section holding the root.
#include "platform/posix/PeResourceReader.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/NativeFile.h"
#include "platform/posix/ByteSource.h"
#include "platform/posix/IconImageDecoder.h"
#include "platform/posix/IconScaler.h"

namespace platform::posix {
namespace {

constexpr std::uint32_t kTypeIcon = 3;         // RT_ICON
constexpr std::uint32_t kTypeGroupIcon = 14;   // RT_GROUP_ICON
constexpr std::uint32_t kTypeVersion = 16;     // RT_VERSION
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
// An icon image of the largest side we decode takes a little over 4 MB as a 32-bit bitmap; no
// honest image is larger than this, and nothing larger is ever read into memory.
constexpr std::uint64_t kMaxImageBytes = 8u << 20;

std::uint16_t u16At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// One image as its directory (icon group or .ico file) describes it; only these fields choose.
struct ImageEntry {
  int width = 0;   // 0 stored means 256
  int height = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t id = 0;  // the icon resource id (groups) or the file offset (.ico files)
  std::uint32_t bytes = 0;
};

// The entry nearest 48x48 (|w - 48| + |h - 48|), then the deepest (a stored 0 ranks lowest),
// then the first listed. Size always beats depth.
int distanceFrom48(const ImageEntry& e) { return std::abs(e.width - 48) + std::abs(e.height - 48); }

std::size_t chooseImage(const std::vector<ImageEntry>& entries) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const int d = distanceFrom48(entries[i]);
    const int bestD = distanceFrom48(entries[best]);
    if (d < bestD || (d == bestD && entries[i].bitCount > entries[best].bitCount)) best = i;
  }
  return best;
}

int sideFromByte(std::uint8_t stored) { return stored == 0 ? 256 : stored; }

// The 14-byte entries of a group directory, or the 16-byte entries of an .ico file; both begin
// with reserved 0, type 1 (icon), count.
std::optional<std::vector<ImageEntry>> parseIconDirectory(const ByteSource& source, std::uint64_t offset,
                                                          std::uint64_t available, std::uint64_t entrySize) {
  const auto header = source.bytesAt(offset, 6);
  if (!header || available < 6) return std::nullopt;
  const std::uint16_t count = u16At(*header, 4);
  if (u16At(*header, 0) != 0 || u16At(*header, 2) != 1 || count == 0) return std::nullopt;
  if (count > (available - 6) / entrySize) return std::nullopt;
  const auto raw = source.bytesAt(offset + 6, count * entrySize);
  if (!raw) return std::nullopt;
  std::vector<ImageEntry> entries(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = i * entrySize;
    ImageEntry& e = entries[i];
    e.width = sideFromByte((*raw)[at]);
    e.height = sideFromByte((*raw)[at + 1]);
    e.bitCount = u16At(*raw, at + 6);
    e.bytes = u32At(*raw, at + 8);
    e.id = entrySize == 14 ? u16At(*raw, at + 12) : u32At(*raw, at + 12);
  }
  return entries;
}

std::optional<DecodedIcon> decodeAt(const ByteSource& source, std::uint64_t offset, std::uint64_t size) {
  if (size == 0 || size > kMaxImageBytes) return std::nullopt;
  const auto bytes = source.bytesAt(offset, size);
  if (!bytes) return std::nullopt;
  auto pixels = decodeIconImage(*bytes);
  if (!pixels) return std::nullopt;
  return scaleIconTo48(std::move(*pixels));
}

struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t rawOffset = 0;
};

struct DirectoryEntry {
  std::uint32_t name = 0;    // high bit: offset of a name string; else a numeric id
  std::uint32_t target = 0;  // high bit: offset of a subdirectory; else of a data entry
  bool named() const { return (name & kHighBit) != 0; }
  bool leadsToDirectory() const { return (target & kHighBit) != 0; }
  std::uint32_t targetOffset() const { return target & ~kHighBit; }
};

// A PE image's section table and the place of its resource tree.
class PeImage {
 public:
  static std::optional<PeImage> open(const ByteSource& source);

  // File offset of the `size` bytes at image address `rva`, when they lie in one section's raw
  // data and inside the file.
  std::optional<std::uint64_t> fileOffset(std::uint32_t rva, std::uint64_t size) const;

  // The entries of the resource directory at `offset` from the root.
  std::optional<std::vector<DirectoryEntry>> directory(std::uint32_t offset) const;
  // The subdirectory of the root for numeric type `type`.
  std::optional<std::vector<DirectoryEntry>> typeDirectory(std::uint32_t type) const;
  // The data (file offset, size) behind `nameEntry`'s language directory: the entry of language
  // `language` when there is one and `language` is given, else the first one.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> languageData(
      const DirectoryEntry& nameEntry, std::optional<std::uint32_t> language = std::nullopt,
      std::uint32_t* chosenLanguage = nullptr) const;

  const ByteSource& source() const { return *source_; }

 private:
  // The tree's bytes at `offset` from the root, when inside the section holding the root.
  std::optional<std::vector<std::uint8_t>> treeBytes(std::uint64_t offset, std::uint64_t count) const;

  const ByteSource* source_ = nullptr;
  std::vector<Section> sections_;
  std::uint64_t rootOffset_ = 0;  // file offset of the root directory
  std::uint64_t treeEnd_ = 0;     // end of the raw data of the section holding the root
};

std::optional<PeImage> PeImage::open(const ByteSource& source) {
  const auto dos = source.bytesAt(0, 64);
  if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') return std::nullopt;
  const std::uint64_t peOffset = u32At(*dos, 0x3C);
  const auto coff = source.bytesAt(peOffset, 24);
  if (!coff || u32At(*coff, 0) != 0x00004550) return std::nullopt;  // "PE\0\0"
  const std::uint16_t sectionCount = u16At(*coff, 6);
  const std::uint16_t optionalSize = u16At(*coff, 20);
  const std::uint64_t optionalOffset = peOffset + 24;

  const auto magicBytes = source.bytesAt(optionalOffset, 2);
  if (!magicBytes || optionalSize < 2) return std::nullopt;
  const std::uint16_t magic = u16At(*magicBytes, 0);
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) return std::nullopt;
  const std::uint64_t countField = magic == kMagicPe32 ? 92 : 108;
  const std::uint64_t directoriesField = countField + 4;
  const std::uint64_t resourceField = directoriesField + 8 * kResourceDirectoryIndex;
  if (optionalSize < resourceField + 8) return std::nullopt;
  const auto optional = source.bytesAt(optionalOffset, resourceField + 8);
  if (!optional || u32At(*optional, countField) <= kResourceDirectoryIndex) return std::nullopt;
  const std::uint32_t resourceRva = u32At(*optional, resourceField);
  if (resourceRva == 0) return std::nullopt;

  const std::uint64_t sectionTable = optionalOffset + optionalSize;
  if (sectionCount == 0) return std::nullopt;
  const auto table = source.bytesAt(sectionTable, std::uint64_t{sectionCount} * 40);
  if (!table) return std::nullopt;
  PeImage image;
  image.source_ = &source;
  image.sections_.resize(sectionCount);
  for (std::size_t i = 0; i < sectionCount; ++i) {
    image.sections_[i] = {u32At(*table, i * 40 + 12), u32At(*table, i * 40 + 16), u32At(*table, i * 40 + 20)};
  }
  for (const Section& s : image.sections_) {
    if (resourceRva < s.virtualAddress || resourceRva - s.virtualAddress >= s.rawSize) continue;
    image.rootOffset_ = std::uint64_t{s.rawOffset} + (resourceRva - s.virtualAddress);
    image.treeEnd_ = std::min<std::uint64_t>(std::uint64_t{s.rawOffset} + s.rawSize, source.size());
    if (image.rootOffset_ >= image.treeEnd_) return std::nullopt;
    return image;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> PeImage::fileOffset(std::uint32_t rva, std::uint64_t size) const {
  for (const Section& s : sections_) {
    if (rva < s.virtualAddress) continue;
    const std::uint64_t into = rva - s.virtualAddress;
    if (into > s.rawSize || size > s.rawSize - into) continue;
    const std::uint64_t offset = std::uint64_t{s.rawOffset} + into;
    if (offset > source_->size() || size > source_->size() - offset) continue;
    return offset;
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> PeImage::treeBytes(std::uint64_t offset, std::uint64_t count) const {
  const std::uint64_t room = treeEnd_ - rootOffset_;
  if (offset > room || count > room - offset) return std::nullopt;
  return source_->bytesAt(rootOffset_ + offset, count);
}

std::optional<std::vector<DirectoryEntry>> PeImage::directory(std::uint32_t offset) const {
  const auto header = treeBytes(offset, 16);
  if (!header) return std::nullopt;
  // Named entries come first, then numbered ones; both lists are taken in the stored order.
  const std::uint64_t count = std::uint64_t{u16At(*header, 12)} + u16At(*header, 14);
  const auto raw = treeBytes(std::uint64_t{offset} + 16, count * 8);  // bounded by the section
  if (!raw) return std::nullopt;
  std::vector<DirectoryEntry> entries(count);
  for (std::size_t i = 0; i < count; ++i) entries[i] = {u32At(*raw, i * 8), u32At(*raw, i * 8 + 4)};
  return entries;
}

std::optional<std::vector<DirectoryEntry>> PeImage::typeDirectory(std::uint32_t type) const {
  const auto root = directory(0);
  if (!root) return std::nullopt;
  for (const DirectoryEntry& e : *root) {
    if (e.named() || e.name != type) continue;
    if (!e.leadsToDirectory()) return std::nullopt;
    return directory(e.targetOffset());
  }
  return std::nullopt;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> PeImage::languageData(
    const DirectoryEntry& nameEntry, std::optional<std::uint32_t> language, std::uint32_t* chosenLanguage) const {
  if (!nameEntry.leadsToDirectory()) return std::nullopt;
  const auto languages = directory(nameEntry.targetOffset());
  if (!languages || languages->empty()) return std::nullopt;
  const DirectoryEntry* chosen = &languages->front();
  if (language) {
    const auto same = std::find_if(languages->begin(), languages->end(),
                                   [&](const DirectoryEntry& e) { return !e.named() && e.name == *language; });
    if (same != languages->end()) chosen = &*same;
  }
  // The third level must end in a data entry: its address, size, code page and a reserved word.
  if (chosen->leadsToDirectory()) return std::nullopt;
  const auto data = treeBytes(chosen->targetOffset(), 16);
  if (!data) return std::nullopt;
  const std::uint32_t size = u32At(*data, 4);
  const auto offset = fileOffset(u32At(*data, 0), size);
  if (!offset) return std::nullopt;
  if (chosenLanguage) *chosenLanguage = chosen->name;
  return std::make_pair(*offset, std::uint64_t{size});
}

std::optional<DecodedIcon> iconFromPe(const PeImage& pe) {
  // Index 0: the first group entry as stored, its first language.
  const auto groups = pe.typeDirectory(kTypeGroupIcon);
  if (!groups || groups->empty()) return std::nullopt;
  std::uint32_t groupLanguage = 0;
  const auto group = pe.languageData(groups->front(), std::nullopt, &groupLanguage);
  if (!group) return std::nullopt;
  const auto entries = parseIconDirectory(pe.source(), group->first, group->second, 14);
  if (!entries) return std::nullopt;
  const ImageEntry& chosen = (*entries)[chooseImage(*entries)];

  // The image is the icon resource with the entry's id, in the group's language when present.
  const auto icons = pe.typeDirectory(kTypeIcon);
  if (!icons) return std::nullopt;
  const auto image = std::find_if(icons->begin(), icons->end(),
                                  [&](const DirectoryEntry& e) { return !e.named() && e.name == chosen.id; });
  if (image == icons->end()) return std::nullopt;
  const auto data = pe.languageData(*image, groupLanguage);
  if (!data) return std::nullopt;
  return decodeAt(pe.source(), data->first, data->second);
}

std::optional<DecodedIcon> iconFromIcoFile(const ByteSource& source) {
  const auto entries = parseIconDirectory(source, 0, source.size(), 16);
  if (!entries) return std::nullopt;
  const ImageEntry& chosen = (*entries)[chooseImage(*entries)];
  return decodeAt(source, chosen.id, chosen.bytes);
}

// The fixed file information of a VS_VERSIONINFO block: length, value length, type, the key
// "VS_VERSION_INFO" in UTF-16 with its terminator, padding to 32 bits, then the 52-byte record.
std::optional<std::array<std::uint16_t, 4>> fixedFileVersion(const ByteSource& source, std::uint64_t offset,
                                                             std::uint64_t size) {
  static constexpr char kKey[] = "VS_VERSION_INFO";
  constexpr std::uint64_t kKeyBytes = sizeof kKey * 2;                    // with the terminator
  constexpr std::uint64_t kValueOffset = (6 + kKeyBytes + 3) / 4 * 4;    // 40
  constexpr std::uint64_t kFixedInfoSize = 52;
  if (size < kValueOffset + kFixedInfoSize) return std::nullopt;
  const auto block = source.bytesAt(offset, kValueOffset + kFixedInfoSize);
  if (!block) return std::nullopt;
  const std::uint16_t length = u16At(*block, 0);
  const std::uint16_t valueLength = u16At(*block, 2);
  if (length < kValueOffset + kFixedInfoSize || length > size || valueLength < kFixedInfoSize) return std::nullopt;
  for (std::size_t i = 0; i < sizeof kKey; ++i) {
    if (u16At(*block, 6 + i * 2) != static_cast<unsigned char>(kKey[i])) return std::nullopt;
  }
  if (u32At(*block, kValueOffset) != kFixedInfoSignature) return std::nullopt;
  const std::uint32_t high = u32At(*block, kValueOffset + 8);  // dwFileVersionMS
  const std::uint32_t low = u32At(*block, kValueOffset + 12);  // dwFileVersionLS
  return std::array<std::uint16_t, 4>{static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                                      static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

std::unique_ptr<FileByteSource> openSource(const std::u16string& path) {
  FileError error;
  NativeFile file = NativeFile::openReadDenyWrite(path, error);
  if (!file.isOpen()) return nullptr;
  return std::make_unique<FileByteSource>(std::move(file));
}

// The pass reads an executable's icon and then, right after, its version: the source the icon
// came from is kept open for that one version read (with the pieces its windows hold), so the
// file is opened and its headers read once per row. Only the latest icon's source is kept, and
// the version read takes it away, so nothing stays open from one row to the next. The kept
// source serves only the same path, and only while that path still names the file that was
// opened, unchanged since its open; anything else opens the file afresh.
class HeldSource {
 public:
  void hold(const std::u16string& path, std::unique_ptr<FileByteSource> source) {
    const std::lock_guard lock(mutex_);
    source_ = std::move(source);
    path_ = path;
  }

  std::unique_ptr<FileByteSource> take(const std::u16string& path) {
    const std::lock_guard lock(mutex_);
    std::unique_ptr<FileByteSource> source = std::move(source_);
    if (!source || path != path_ || !source->stamp() || fileStampAt(path) != source->stamp()) return nullptr;
    return source;
  }

 private:
  std::mutex mutex_;
  std::u16string path_;
  std::unique_ptr<FileByteSource> source_;
};

HeldSource& heldSource() {
  static HeldSource held;
  return held;
}

}  // namespace

std::optional<DecodedIcon> extractIcon48(const ByteSource& source) {
  if (const auto pe = PeImage::open(source)) return iconFromPe(*pe);
  return iconFromIcoFile(source);
}

std::optional<std::array<std::uint16_t, 4>> readFileVersion(const ByteSource& source) {
  const auto pe = PeImage::open(source);
  if (!pe) return std::nullopt;
  const auto versions = pe->typeDirectory(kTypeVersion);
  if (!versions || versions->empty()) return std::nullopt;
  const auto data = pe->languageData(versions->front());
  if (!data) return std::nullopt;
  return fixedFileVersion(source, data->first, data->second);
}

std::optional<DecodedIcon> extractIcon48(const std::u16string& path) {
  auto source = openSource(path);
  if (!source) return std::nullopt;
  auto icon = extractIcon48(*source);
  // Without an icon the pass reads no version, so nothing is kept then.
  heldSource().hold(path, icon ? std::move(source) : nullptr);
  return icon;
}

std::optional<std::array<std::uint16_t, 4>> readFileVersion(const std::u16string& path) {
  auto source = heldSource().take(path);
  if (!source) source = openSource(path);
  if (!source) return std::nullopt;
  return readFileVersion(*source);
}

}  // namespace platform::posix

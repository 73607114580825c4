// Checks of the icon and version resources of PE images (PE32 and PE32+) and of plain .ico files.
//
// The resource tree (PE/COFF format, ".rsrc section") has three fixed levels: type, name, language.
// Directory offsets are relative to the tree's root; data entries hold image-relative addresses
// that are mapped to file offsets through the section table. The tree is walked at exactly those
// three levels, so a directory that points back at itself cannot make us loop, and an entry is
// found by its number as the system's loader finds it (Directory::find). Every read is a
// positioned read of just the bytes needed, checked against the file and, for the tree itself,
// against the raw data of the section holding the root. The work is bounded too: counts are
// capped (kMaxImagesPerIcon, kMaxLanguages, kMaxImageChecks, kMaxVersionEntries), so a tree of a
// hundred thousand entries costs no more than a few reads of each.
#include "platform/executable/ExecutableResources.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/executable/BitmapRows.h"
#include "platform/executable/ByteSource.h"
#include "platform/executable/Crc32.h"
#include "platform/executable/LittleEndian.h"
#include "platform/executable/PeRecords.h"

namespace platform::executable {
namespace {

constexpr std::uint32_t kTypeIcon = 3;         // RT_ICON
constexpr std::uint32_t kTypeGroupIcon = 14;   // RT_GROUP_ICON
constexpr std::uint32_t kTypeVersion = 16;     // RT_VERSION
constexpr std::uint32_t kVersionInfoId = 1;    // VS_VERSION_INFO, the version entry the system reads
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
// An icon image of the largest side takes a little over 256 KB as a 32-bit bitmap, and a PNG of
// that side rarely more; nothing larger is accepted, so nothing larger is ever read into memory.
constexpr std::uint64_t kMaxImageBytes = 8u << 20;
// PNG images are read whole to check their chunks: at most this many bytes of them per icon. An
// honest icon holds one PNG image (its 256x256 one) of a few hundred kilobytes at most.
constexpr std::uint64_t kMaxPngBytesPerIcon = 32u << 20;
// Languages one resource may be stored in. Honest files carry a handful; the cap bounds the work
// over a tree that repeats one name in thousands of languages.
constexpr std::size_t kMaxLanguages = 256;
// Image headers checked for one icon, and version entries checked for one file: far above what
// honest files need (a few dozen images, one version entry), and a bound on a hostile tree's cost.
constexpr std::size_t kMaxImageChecks = 4096;
constexpr std::size_t kMaxVersionEntries = 1024;
// How much larger than its file a mapped image may be (uninitialised data, alignment). Honest
// images exceed their files by a few megabytes at most.
constexpr std::uint64_t kMaxImageGrowth = 64u << 20;

// PNG stores its integers most significant byte first (network byte order).
std::uint32_t bigEndianU32At(std::span<const std::uint8_t> b, std::size_t at) {
  return (static_cast<std::uint32_t>(b[at]) << 24) | (static_cast<std::uint32_t>(b[at + 1]) << 16) |
         (static_cast<std::uint32_t>(b[at + 2]) << 8) | static_cast<std::uint32_t>(b[at + 3]);
}

// The largest file read. The PE format addresses its file with 32-bit offsets and sizes (a
// section's PointerToRawData and SizeOfRawData, the image's SizeOfImage) and an .ico file its
// images with 32-bit offsets, so nothing of either lies past 4 GiB, and no compiler writes an
// executable that large. The system under Wine takes such a file's size modulo 2^32 and so finds
// no icon where the resources lie past that remainder; refusing every file of 4 GiB or more takes
// no icon from a real executable and leaves the builds nothing to differ on.
constexpr std::uint64_t kLargestFile = 0xFFFFFFFFu;

// --- Icon directories and images ------------------------------------------------------------------

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
// with reserved 0, type 1 (icon), count. The entries must lie inside the `available` bytes.
std::optional<std::vector<ImageEntry>> parseIconDirectory(const ByteSource& source, std::uint64_t offset,
                                                          std::uint64_t available, std::uint64_t entrySize) {
  if (available < 6) return std::nullopt;
  const auto header = source.bytesAt(offset, 6);
  if (!header) return std::nullopt;
  const std::uint16_t count = u16At(*header, 4);
  if (u16At(*header, 0) != 0 || u16At(*header, 2) != 1 || count == 0 || count > kMaxImagesPerIcon) return std::nullopt;
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

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::size_t kPngHeaderEnd = 8 + 8 + 13 + 4;  // signature, IHDR's length and type, data, CRC
constexpr std::size_t kPngChunkFrame = 12;             // a chunk's length, type and CRC around its data
constexpr std::uint32_t kPngLongestChunk = 0x7FFFFFFFu;  // "Chunk layout": lengths fit in 31 bits
constexpr std::uint32_t kBitmapInfoHeaderSize = 40;

bool isPng(std::span<const std::uint8_t> head) {
  return head.size() >= kPngSignature.size() && std::equal(kPngSignature.begin(), kPngSignature.end(), head.begin());
}

bool chunkTypeIs(std::span<const std::uint8_t> type, const char (&name)[5]) {
  return std::equal(type.begin(), type.end(), name);
}

// A PNG image whose first chunk is its IHDR header (every valid PNG file starts with it),
// giving the entry's width and height.
bool pngHeaderMatches(std::span<const std::uint8_t> head, const ImageEntry& entry) {
  if (head.size() < kPngHeaderEnd) return false;
  if (bigEndianU32At(head, 8) != 13 || !chunkTypeIs(head.subspan(12, 4), "IHDR")) return false;
  return bigEndianU32At(head, 16) == static_cast<std::uint32_t>(entry.width) &&
         bigEndianU32At(head, 20) == static_cast<std::uint32_t>(entry.height);
}

// The IHDR fields past the size ("IHDR Image header"): a bit depth allowed for the colour type,
// deflate, adaptive filtering, no interlacing or Adam7. Images of 16 bits per sample are refused:
// icon tools write PNG icons at 8 bits per sample (32-bit RGBA) or less, and the system under
// Wine gives such an image no icon while libpng would reduce it to 8 bits, so no honest icon is
// lost and neither build shows what the other does not.
bool pngFormatAccepted(std::span<const std::uint8_t> ihdr) {
  const std::uint8_t depth = ihdr[8], colourType = ihdr[9];
  if (ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] > 1) return false;
  switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8;  // greyscale
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;  // palette
    case 2:                                                               // RGB
    case 4:                                                               // greyscale and alpha
    case 6: return depth == 8;                                            // RGBA
    default: return false;
  }
}

// A whole PNG image as its format lays it out ("Datastream structure", "Chunk layout"): the
// signature, then chunks that each lie inside the image and carry the CRC of their type and data,
// the first an accepted IHDR, a PLTE before the image data of a palette image, at least one IDAT,
// and IEND. A chunk whose CRC is wrong is damaged: libpng refuses the image (or drops the chunk,
// when it is ancillary, so tRNS or gAMA would change the picture on one build only) while the
// system under Wine shows it, so such an image is refused before either sees it; no encoder
// writes one, so no honest icon is lost.
bool pngWellFormed(std::span<const std::uint8_t> png) {
  std::size_t at = kPngSignature.size();
  bool first = true, palette = false, imageData = false, paletteImage = false;
  while (png.size() - at >= kPngChunkFrame) {
    const std::uint32_t length = bigEndianU32At(png, at);
    if (length > kPngLongestChunk || length > png.size() - at - kPngChunkFrame) return false;
    const auto typeAndData = png.subspan(at + 4, 4 + std::size_t{length});
    if (crc32(typeAndData) != bigEndianU32At(png, at + 8 + length)) return false;
    const auto type = typeAndData.first(4);
    const auto data = typeAndData.subspan(4);
    if (first != chunkTypeIs(type, "IHDR")) return false;  // IHDR first, and only there
    if (first && (length != 13 || !pngFormatAccepted(data))) return false;
    if (first) paletteImage = data[9] == 3;
    first = false;
    if (chunkTypeIs(type, "PLTE")) palette = true;
    if (chunkTypeIs(type, "IDAT")) {
      if (paletteImage && !palette) return false;
      imageData = true;
    }
    if (chunkTypeIs(type, "IEND")) return imageData;
    at += kPngChunkFrame + length;
  }
  return false;  // no IEND inside the image
}

// A BMP-style image (BITMAPINFOHEADER, colour table, XOR bitmap, AND mask) that the Linux
// decoder reads (see platform/posix/IconImageDecoder.cpp: the same depths, no compression, the
// same table size) with the entry's width and twice its height (both bitmaps), one plane, and
// all of its rows inside the image's `size` bytes. The header must be the 40-byte
// BITMAPINFOHEADER that the icon format's image record holds and that every icon tool writes:
// the system under Wine gives an image with a BITMAPV4HEADER or BITMAPV5HEADER (108 or 124 bytes)
// no icon, so both builds refuse them.
bool bitmapMatches(std::span<const std::uint8_t> head, std::uint64_t size, const ImageEntry& entry) {
  if (head.size() < kBitmapInfoHeaderSize) return false;
  const int bits = u16At(head, 14);
  const std::uint32_t coloursUsed = u32At(head, 32);
  if (u32At(head, 0) != kBitmapInfoHeaderSize) return false;
  if (i32At(head, 4) != entry.width || i32At(head, 8) != 2 * entry.height || u16At(head, 12) != 1) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  if (u32At(head, 16) != 0 || coloursUsed > 256) return false;  // BI_RGB only
  const std::uint64_t tableEntries = (bits <= 8 && coloursUsed == 0) ? (1u << bits) : coloursUsed;
  const std::uint64_t width = static_cast<std::uint64_t>(entry.width);
  const std::uint64_t height = static_cast<std::uint64_t>(entry.height);
  const std::uint64_t end = kBitmapInfoHeaderSize + tableEntries * 4 +
                            rowBytes(width, static_cast<std::uint64_t>(bits)) * height + rowBytes(width, 1) * height;
  return end <= size;
}

// Checks images against their entries. A PNG image is read whole for its chunks' CRCs; the bytes
// read so for one icon are bounded, so a group naming thousands of large PNG images costs no more
// than kMaxPngBytesPerIcon.
class ImageInspector {
 public:
  explicit ImageInspector(const ByteSource& source) : source_(source) {}

  // Whether the image at `span` is one whose header matches `entry` and, for a PNG image, whose
  // chunks are well-formed.
  bool matches(ImageSpan span, const ImageEntry& entry) {
    if (span.size == 0 || span.size > kMaxImageBytes) return false;
    const auto head = source_.bytesAt(span.offset, std::min<std::uint64_t>(span.size, kBitmapInfoHeaderSize));
    if (!head) return false;
    if (!isPng(*head)) return bitmapMatches(*head, span.size, entry);
    if (!pngHeaderMatches(*head, entry) || span.size > pngBytesLeft_) return false;
    pngBytesLeft_ -= span.size;
    const auto png = source_.bytesAt(span.offset, span.size);
    return png && pngWellFormed(*png);
  }

 private:
  const ByteSource& source_;
  std::uint64_t pngBytesLeft_ = kMaxPngBytesPerIcon;
};

// --- The PE image and its resource tree -----------------------------------------------------------

struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t rawOffset = 0;
  // The addresses the section claims: its virtual size, or its raw size when that is larger.
  bool claims(std::uint32_t rva) const {
    return rva >= virtualAddress && rva - virtualAddress < std::max(virtualSize, rawSize);
  }
};

struct DirectoryEntry {
  std::uint32_t name = 0;    // high bit: offset of a name string; else a numeric id
  std::uint32_t target = 0;  // high bit: offset of a subdirectory; else of a data entry
  bool named() const { return (name & kHighBit) != 0; }
  bool leadsToDirectory() const { return (target & kHighBit) != 0; }
  std::uint32_t targetOffset() const { return target & ~kHighBit; }
};

// One resource directory as stored: its named entries first, then its numbered ones, the numbers
// strictly ascending (PeImage::directory refuses any other order).
struct Directory {
  std::vector<DirectoryEntry> entries;
  std::size_t namedCount = 0;

  // The entry numbered `id`, found by binary search over the numbered entries, as the system's
  // loader finds a type, a name or a language; null when there is none.
  const DirectoryEntry* find(std::uint32_t id) const {
    const auto ids = std::span(entries).subspan(namedCount);
    const auto at = std::lower_bound(ids.begin(), ids.end(), id,
                                     [](const DirectoryEntry& e, std::uint32_t wanted) { return e.name < wanted; });
    return at != ids.end() && at->name == id ? &*at : nullptr;
  }
};

// A PE image's section table and the place of its resource tree.
class PeImage {
 public:
  static std::optional<PeImage> open(const ByteSource& source);

  // File offset of the `size` bytes at image address `rva`: they must lie in the raw data of the
  // one section that claims the address (sections claiming it twice are refused, so the system's
  // reading of the table and ours cannot differ) and inside the file.
  std::optional<std::uint64_t> fileOffset(std::uint32_t rva, std::uint64_t size) const;

  // The resource directory at `offset` from the root, when its entries are stored in the order
  // the system searches them (see Directory).
  std::optional<Directory> directory(std::uint32_t offset) const;
  // The subdirectory of the root for numeric type `type`.
  std::optional<Directory> typeDirectory(std::uint32_t type) const;
  // The language entries under a name entry: a directory of at most kMaxLanguages entries.
  std::optional<Directory> languages(const DirectoryEntry& nameEntry) const;
  // The data behind a language entry, which must be a data entry whose bytes lie inside the file.
  std::optional<ImageSpan> dataOf(const DirectoryEntry& languageEntry) const;

  // Whether the raw data of every section lies inside the file, as it does in any file that is
  // not cut short.
  bool holdsEverySection() const;

  const ByteSource& source() const { return *source_; }

 private:
  // The tree's bytes at `offset` from the root, when inside the section holding the root.
  std::optional<std::vector<std::uint8_t>> treeBytes(std::uint64_t offset, std::uint64_t count) const;
  // The one section claiming `rva`, or none when no section or more than one does.
  const Section* sectionClaiming(std::uint32_t rva) const;

  const ByteSource* source_ = nullptr;
  std::vector<Section> sections_;
  std::uint64_t rootOffset_ = 0;  // file offset of the root directory
  std::uint64_t treeEnd_ = 0;     // end of the raw data of the section holding the root
};

// What the reader takes from either flavour of optional header.
struct ImageHeaderFields {
  std::uint32_t sizeOfImage = 0;
  std::uint32_t sizeOfHeaders = 0;
  std::uint32_t resourceRva = 0;
};

// The fields of the optional header `Header` at `offset`, of `available` bytes, and of the
// resource tree's data directory after it; nothing when the header is too short to hold that
// directory, or the image has none.
template <typename Header>
std::optional<ImageHeaderFields> imageHeaderFields(const ByteSource& source, std::uint64_t offset,
                                                   std::uint64_t available) {
  constexpr std::uint64_t kThrough = sizeof(Header) + sizeof(DataDirectory) * (kResourceDirectoryIndex + 1);
  if (available < kThrough) return std::nullopt;
  const auto header = recordAt<Header>(source, offset);
  if (!header || header->numberOfRvaAndSizes <= kResourceDirectoryIndex) return std::nullopt;
  const auto resources =
      recordAt<DataDirectory>(source, offset + sizeof(Header) + sizeof(DataDirectory) * kResourceDirectoryIndex);
  if (!resources) return std::nullopt;
  return ImageHeaderFields{header->sizeOfImage, header->sizeOfHeaders, resources->virtualAddress};
}

std::optional<PeImage> PeImage::open(const ByteSource& source) {
  const auto dos = recordAt<DosHeader>(source, 0);
  if (!dos || dos->magic[0] != 'M' || dos->magic[1] != 'Z') return std::nullopt;
  const auto file = recordAt<FileHeader>(source, dos->peOffset);
  if (!file || file->signature != kPeSignature) return std::nullopt;  // "NE", "LE" are not read
  const std::uint64_t optionalOffset = std::uint64_t{dos->peOffset} + sizeof(FileHeader);
  const std::uint16_t optionalSize = file->sizeOfOptionalHeader;

  const auto magic = recordAt<std::uint16_t>(source, optionalOffset);
  if (!magic || optionalSize < 2) return std::nullopt;
  std::optional<ImageHeaderFields> fields;
  if (*magic == kMagicPe32) fields = imageHeaderFields<OptionalHeader32>(source, optionalOffset, optionalSize);
  if (*magic == kMagicPe32Plus) fields = imageHeaderFields<OptionalHeader64>(source, optionalOffset, optionalSize);
  if (!fields || fields->resourceRva == 0) return std::nullopt;

  if (file->numberOfSections == 0) return std::nullopt;
  const auto table = recordsAt<SectionHeader>(source, optionalOffset + optionalSize, file->numberOfSections);
  if (!table) return std::nullopt;
  PeImage image;
  image.source_ = &source;
  // The headers come first, as if a section: the system maps an address below SizeOfHeaders
  // to the same file offset, whatever the section table says. An address that both the headers
  // and a section claim is refused below, so a SizeOfHeaders reaching over the sections cannot
  // send the system elsewhere than us.
  // The image as the system maps it (SizeOfImage, and every section's extent) may exceed the
  // file only by kMaxImageGrowth of zero-filled space: the system's readers map the whole image,
  // and a hostile virtual size would make them fill gigabytes.
  if (fields->sizeOfImage > source.size() + kMaxImageGrowth) return std::nullopt;
  image.sections_.push_back({0, fields->sizeOfHeaders, fields->sizeOfHeaders, 0});
  for (const SectionHeader& s : *table)
    image.sections_.push_back({s.virtualAddress, s.virtualSize, s.sizeOfRawData, s.pointerToRawData});
  for (const Section& s : image.sections_) {
    if (std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize) > source.size() + kMaxImageGrowth)
      return std::nullopt;
  }
  const std::uint32_t resourceRva = fields->resourceRva;
  const Section* holder = image.sectionClaiming(resourceRva);
  if (holder == nullptr || resourceRva - holder->virtualAddress >= holder->rawSize) return std::nullopt;
  image.rootOffset_ = std::uint64_t{holder->rawOffset} + (resourceRva - holder->virtualAddress);
  image.treeEnd_ = std::min<std::uint64_t>(std::uint64_t{holder->rawOffset} + holder->rawSize, source.size());
  if (image.rootOffset_ >= image.treeEnd_) return std::nullopt;
  return image;
}

const Section* PeImage::sectionClaiming(std::uint32_t rva) const {
  const Section* found = nullptr;
  for (const Section& s : sections_) {
    if (!s.claims(rva)) continue;
    if (found != nullptr) return nullptr;
    found = &s;
  }
  return found;
}

bool PeImage::holdsEverySection() const {
  // sections_[0] stands for the headers, which were read from the file.
  return std::all_of(sections_.begin() + 1, sections_.end(), [&](const Section& s) {
    return s.rawSize == 0 || std::uint64_t{s.rawOffset} + s.rawSize <= source_->size();
  });
}

std::optional<std::uint64_t> PeImage::fileOffset(std::uint32_t rva, std::uint64_t size) const {
  const Section* s = sectionClaiming(rva);
  if (s == nullptr) return std::nullopt;
  const std::uint64_t into = rva - s->virtualAddress;
  if (into > s->rawSize || size > s->rawSize - into) return std::nullopt;
  const std::uint64_t offset = std::uint64_t{s->rawOffset} + into;
  if (offset > source_->size() || size > source_->size() - offset) return std::nullopt;
  return offset;
}

std::optional<std::vector<std::uint8_t>> PeImage::treeBytes(std::uint64_t offset, std::uint64_t count) const {
  const std::uint64_t room = treeEnd_ - rootOffset_;
  if (offset > room || count > room - offset) return std::nullopt;
  return source_->bytesAt(rootOffset_ + offset, count);
}

std::optional<Directory> PeImage::directory(std::uint32_t offset) const {
  const auto header = treeBytes(offset, 16);
  if (!header) return std::nullopt;
  Directory directory;
  directory.namedCount = u16At(*header, 12);
  const std::uint64_t count = std::uint64_t{directory.namedCount} + u16At(*header, 14);
  const auto raw = treeBytes(std::uint64_t{offset} + 16, count * 8);  // bounded by the section
  if (!raw) return std::nullopt;
  directory.entries.resize(count);
  for (std::size_t i = 0; i < count; ++i) directory.entries[i] = {u32At(*raw, i * 8), u32At(*raw, i * 8 + 4)};
  // The system finds a type, name or language by binary search over the numbered entries, which
  // resource compilers store after the named ones in ascending order; it compares only the
  // number's 16 bits. In a directory stored otherwise (an entry out of order, a number stored
  // twice or wider than 16 bits, a name among the numbers, or a count claiming junk past the real
  // entries) its search and a walk could reach different entries, so such a directory is refused.
  for (std::size_t i = 0; i < count; ++i) {
    const DirectoryEntry& e = directory.entries[i];
    if (i < directory.namedCount) {
      if (!e.named()) return std::nullopt;
      continue;
    }
    if (e.name > 0xFFFF) return std::nullopt;
    if (i > directory.namedCount && e.name <= directory.entries[i - 1].name) return std::nullopt;
  }
  return directory;
}

std::optional<Directory> PeImage::typeDirectory(std::uint32_t type) const {
  const auto root = directory(0);
  if (!root) return std::nullopt;
  const DirectoryEntry* entry = root->find(type);
  if (entry == nullptr || !entry->leadsToDirectory()) return std::nullopt;
  return directory(entry->targetOffset());
}

std::optional<Directory> PeImage::languages(const DirectoryEntry& nameEntry) const {
  if (!nameEntry.leadsToDirectory()) return std::nullopt;
  auto languages = directory(nameEntry.targetOffset());
  if (!languages || languages->entries.size() > kMaxLanguages) return std::nullopt;
  return languages;
}

std::optional<ImageSpan> PeImage::dataOf(const DirectoryEntry& languageEntry) const {
  // The third level must end in a data entry: its address, size, code page and a reserved word.
  if (languageEntry.leadsToDirectory()) return std::nullopt;
  const auto data = treeBytes(languageEntry.targetOffset(), 16);
  if (!data) return std::nullopt;
  const std::uint32_t size = u32At(*data, 4);
  const auto offset = fileOffset(u32At(*data, 0), size);
  if (!offset) return std::nullopt;
  return ImageSpan{*offset, size};
}

// --- The icon of a PE image -----------------------------------------------------------------------

// Checks every image that group entries name, in every language it is stored in; one check per
// image and entry size, however many groups repeat it.
class ImageChecker {
 public:
  ImageChecker(const PeImage& pe, const Directory& icons) : pe_(pe), icons_(icons), inspector_(pe.source()) {}

  bool allWellFormed(const std::vector<ImageEntry>& entries) {
    for (const ImageEntry& entry : entries) {
      if (!wellFormed(entry)) return false;
    }
    return true;
  }

 private:
  bool wellFormed(const ImageEntry& entry) {
    const auto key = std::make_tuple(entry.id, entry.width, entry.height);
    if (const auto known = checked_.find(key); known != checked_.end()) return known->second;
    const bool result = check(entry);
    checked_.emplace(key, result);
    return result;
  }

  bool check(const ImageEntry& entry) {
    const DirectoryEntry* icon = icons_.find(entry.id);
    if (icon == nullptr) return false;  // the group names an image the file does not hold
    const auto languages = pe_.languages(*icon);
    if (!languages || languages->entries.empty()) return false;
    for (const DirectoryEntry& language : languages->entries) {
      if (++checks_ > kMaxImageChecks) return false;
      const auto data = pe_.dataOf(language);
      if (!data || !inspector_.matches(*data, entry)) return false;
    }
    return true;
  }

  const PeImage& pe_;
  const Directory& icons_;
  ImageInspector inspector_;
  std::map<std::tuple<std::uint32_t, int, int>, bool> checked_;
  std::size_t checks_ = 0;
};

std::optional<ImageSpan> iconFromPe(const PeImage& pe) {
  // Index 0: the first group entry as stored. The system may read it in another language than
  // its first, so every language of it is checked, with every image each names.
  const auto groups = pe.typeDirectory(kTypeGroupIcon);
  if (!groups || groups->entries.empty()) return std::nullopt;
  const auto groupLanguages = pe.languages(groups->entries.front());
  if (!groupLanguages || groupLanguages->entries.empty()) return std::nullopt;
  const auto icons = pe.typeDirectory(kTypeIcon);
  if (!icons) return std::nullopt;
  ImageChecker checker(pe, *icons);
  std::optional<std::vector<ImageEntry>> firstLanguage;
  for (const DirectoryEntry& language : groupLanguages->entries) {
    const auto group = pe.dataOf(language);
    if (!group) return std::nullopt;
    auto entries = parseIconDirectory(pe.source(), group->offset, group->size, 14);
    if (!entries || !checker.allWellFormed(*entries)) return std::nullopt;
    if (!firstLanguage) firstLanguage = std::move(entries);
  }

  // The image: the icon resource with the chosen entry's id, in the group's first language when
  // it is stored in that language, else in its first one.
  const ImageEntry& chosen = (*firstLanguage)[chooseImage(*firstLanguage)];
  const DirectoryEntry* image = icons->find(chosen.id);
  if (image == nullptr) return std::nullopt;
  const auto languages = pe.languages(*image);
  if (!languages || languages->entries.empty()) return std::nullopt;
  const DirectoryEntry* same = languages->find(groupLanguages->entries.front().name);
  return pe.dataOf(same != nullptr ? *same : languages->entries.front());
}

std::optional<ImageSpan> iconFromIcoFile(const ByteSource& source) {
  const auto entries = parseIconDirectory(source, 0, source.size(), 16);
  if (!entries) return std::nullopt;
  ImageInspector inspector(source);
  for (const ImageEntry& entry : *entries) {
    const ImageSpan span{entry.id, entry.bytes};
    if (span.offset > source.size() || span.size > source.size() - span.offset) return std::nullopt;
    if (!inspector.matches(span, entry)) return std::nullopt;
  }
  const ImageEntry& chosen = (*entries)[chooseImage(*entries)];
  return ImageSpan{chosen.id, chosen.bytes};
}

// --- The version ----------------------------------------------------------------------------------

// The fixed file information of a VS_VERSIONINFO block: length, value length, type, the key
// "VS_VERSION_INFO" in UTF-16 with its terminator, padding to 32 bits, then the 52-byte record.
std::optional<std::array<std::uint16_t, 4>> fixedFileVersion(const ByteSource& source, ImageSpan block) {
  static constexpr char kKey[] = "VS_VERSION_INFO";
  constexpr std::uint64_t kKeyBytes = sizeof kKey * 2;                  // with the terminator
  constexpr std::uint64_t kValueOffset = (6 + kKeyBytes + 3) / 4 * 4;  // 40
  constexpr std::uint64_t kFixedInfoSize = 52;
  if (block.size < kValueOffset + kFixedInfoSize || block.size > kMaxVersionBytes) return std::nullopt;
  const auto bytes = source.bytesAt(block.offset, kValueOffset + kFixedInfoSize);
  if (!bytes) return std::nullopt;
  const std::uint16_t length = u16At(*bytes, 0);
  const std::uint16_t valueLength = u16At(*bytes, 2);
  if (length < kValueOffset + kFixedInfoSize || length > block.size || valueLength < kFixedInfoSize) return std::nullopt;
  for (std::size_t i = 0; i < sizeof kKey; ++i) {
    if (u16At(*bytes, 6 + i * 2) != static_cast<unsigned char>(kKey[i])) return std::nullopt;
  }
  if (u32At(*bytes, kValueOffset) != kFixedInfoSignature) return std::nullopt;
  const std::uint32_t high = u32At(*bytes, kValueOffset + 8);  // dwFileVersionMS
  const std::uint32_t low = u32At(*bytes, kValueOffset + 12);  // dwFileVersionLS
  return std::array<std::uint16_t, 4>{static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                                      static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

}  // namespace

std::optional<ImageSpan> checkedIconImage(const ByteSource& source) {
  if (source.size() > kLargestFile) return std::nullopt;
  if (const auto pe = PeImage::open(source)) return iconFromPe(*pe);
  return iconFromIcoFile(source);
}

std::optional<std::array<std::uint16_t, 4>> checkedFileVersion(const ByteSource& source) {
  // The system reads the version through its loader, which maps the file as an image and fails
  // when a section's raw data runs past the end of the file, however much of the file the
  // resources themselves need.
  if (source.size() > kLargestFile) return std::nullopt;
  const auto pe = PeImage::open(source);
  if (!pe || !pe->holdsEverySection()) return std::nullopt;
  const auto versions = pe->typeDirectory(kTypeVersion);
  // The system reads the entry numbered 1 (VS_VERSION_INFO), in a language of its choosing, so
  // that entry must be there and every language of it well-formed. Every other entry is held to
  // the same checks, which honest files pass. The words are those of entry 1's first language.
  if (!versions || versions->find(kVersionInfoId) == nullptr) return std::nullopt;
  std::optional<std::array<std::uint16_t, 4>> words;
  std::size_t checked = 0;
  for (const DirectoryEntry& name : versions->entries) {
    const auto languages = pe->languages(name);
    if (!languages || languages->entries.empty()) return std::nullopt;
    for (const DirectoryEntry& language : languages->entries) {
      if (++checked > kMaxVersionEntries) return std::nullopt;
      const auto data = pe->dataOf(language);
      if (!data) return std::nullopt;
      const auto fixed = fixedFileVersion(pe->source(), *data);
      if (!fixed) return std::nullopt;
      if (!words && !name.named() && name.name == kVersionInfoId) words = fixed;
    }
  }
  return words;
}

}  // namespace platform::executable

// The one place that decides whether an executable's icon and version resources are well-formed,
// for both platform layers: the Linux layer decodes only what passes here, and the Windows layer
// hands a file to the system's icon and version parsers only when it passes here, so both builds
// agree on which files have an icon and a version.
//
// Icons: a PE image (PE32 or PE32+) or a plain .ico file. In a PE image the first icon group (the
// first entry of the group type as stored), in every language it is stored in, must lie inside
// the file with a sane count, and every image it names, in every language the image is stored in,
// must lie inside the file with a header that matches its entry (a bitmap with a 40-byte
// BITMAPINFOHEADER of the entry's width and twice its height, or a PNG whose IHDR gives the
// entry's size; an entry stores at most 256, so no image larger than 256x256 passes). A PNG image
// must also be whole: every chunk inside the image with its CRC right, at most 8 bits per sample,
// IEND at the end. In an .ico file its directory's entries must pass the same. Anything else
// (16-bit NE and LE executables, cursors, other formats, any file of 4 GiB or more) has no icon.
//
// Every resource directory on the way (the root, the type, the name's languages) must be stored as
// resource compilers store it and as the system's loader searches it: named entries first, then
// numbered ones in strictly ascending order. The system finds an entry by binary search over the
// numbers, these checks by the same search, so both reach the same entries.
//
// Version: the file must be smaller than 4 GiB, the PE image must hold the raw data of every section (a file cut short has no
// version), the entry numbered 1 (VS_VERSION_INFO) must be there, and every entry of the version
// type, in every language, must lie inside the file, be at most kMaxVersionBytes long and hold a
// well-formed fixed file information record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace platform::executable {

class ByteSource;

// Largest version resource accepted. Honest ones are a few kilobytes (the fixed record and a
// string table or two); a larger one would only make the system's reader allocate for it.
inline constexpr std::uint32_t kMaxVersionBytes = 64u * 1024;

// Largest number of images one icon group or .ico file may list. Honest icons list a few dozen
// sizes and depths at most.
inline constexpr std::uint16_t kMaxImagesPerIcon = 256;

// Where one icon image lies in its source.
struct ImageSpan {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  bool operator==(const ImageSpan&) const = default;
};

// The image that icon index 0 at 48x48 is made from, when the file's icon is well-formed as
// described above; nothing otherwise. Among the first group's entries (first language) the one
// nearest 48x48 is chosen (|w - 48| + |h - 48|, a stored 0 meaning 256), then the deepest (a stored
// bit count of 0 ranking lowest), then the first listed; the image is the icon resource of that
// entry's id in the group's language, else its first language. For an .ico file the same choice
// is made among its directory's entries. A bitmap's pixels are not read here; a PNG image is read
// whole (at most 8 MiB, and a bounded total per icon) to check its chunks.
std::optional<ImageSpan> checkedIconImage(const ByteSource& source);

// The four file-version words (major, minor, release, build) of the version entry numbered 1
// (the one the system reads), its first language, when that entry is there and every version
// entry is well-formed as described above; nothing otherwise.
std::optional<std::array<std::uint16_t, 4>> checkedFileVersion(const ByteSource& source);

}  // namespace platform::executable

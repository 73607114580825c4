// Reads icons and the file version straight from a Windows executable's resources, so the Linux
// build can answer what the Windows icon and version calls answer there. Whether a file's icon and
// version are well-formed is decided by the shared checks of platform/executable (the Windows build
// asks them too); only what passes is decoded. A malformed file gives nothing, never a crash or a
// hang.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::executable {
class ByteSource;
}

namespace platform::posix {

struct DecodedIcon {
  // true: no colour bitmap; the mask is 48 wide x 96 high (AND half rows 0..47, XOR half 48..95).
  bool monochrome = false;
  // 48*48*4 bytes, top-down rows, B,G,R,A (empty when monochrome).
  std::vector<std::uint8_t> bgra;
  // One byte per pixel, 1 = bit set (transparent for the AND half), top-down, 48 wide, 48 or 96 rows.
  std::vector<std::uint8_t> mask;
};

// The 48x48 icon of index 0 of an executable (or .ico file), or nothing. When there is one, the
// open file is kept for the version read of the same path that follows (see
// platform/executable/HeldExecutable.h), so both come from the one file.
std::optional<DecodedIcon> extractIcon48(const std::u16string& path);

// The four file-version words (major, minor, release, build) of the fixed version record, or
// nothing; read from the file kept by the icon read of this path, else from the path opened afresh.
std::optional<std::array<std::uint16_t, 4>> readFileVersion(const std::u16string& path);

// The same two readings over any byte source (the fuzz target and tests feed memory).
std::optional<DecodedIcon> extractIcon48(const executable::ByteSource& source);
std::optional<std::array<std::uint16_t, 4>> readFileVersion(const executable::ByteSource& source);

}  // namespace platform::posix

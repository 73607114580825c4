// Reads the 48x48 icon straight from a Windows executable's resources (or an .ico file), so the
// Linux build hands the pass the bitmaps Windows would read back for it. Whether a file's icon is
// well-formed is decided by the shared checks of platform/executable (the Windows build asks them
// too); only what passes is decoded. A malformed file gives nothing, never a crash or a hang.
#pragma once

#include <optional>

#include "platform/IconBitmaps.h"

namespace platform::executable {
class ByteSource;
}

namespace platform::posix {

// The bitmaps Windows hands back for a 48x48 icon, made from the decoded and scaled image: a
// 32-bit colour bitmap (header 40, 48 x 48, 1 plane, 32 bits, image size 9216; no table) and a
// 1-bit 48x48 mask, or for a monochrome icon no colour bitmap and a 48x96 mask; rows bottom-up.
// Nothing when the file has no well-formed icon.
std::optional<IconBitmaps> iconBitmaps48(const executable::ByteSource& source);

}  // namespace platform::posix

// One file per row: the executable a row's icon is read from is kept open until that row's
// version read, so the icon and the version come from the same file even when another file is
// renamed over its path in between. Shared by both platform layers.
//
// Lifetime: at most one executable is kept. It is kept from the icon read that found an icon
// (keepForVersionRead) until the next version read of any path, or the next icon read
// (openForIconRead), whichever comes first; nothing is kept from one row to the next. While kept,
// others may read the file but not write, delete or rename it (NativeFile::openReadDenyWrite; on
// Windows the system enforces that, so its own icon and version calls, which open the path again
// for reading, reach the same file; on Linux the kept descriptor itself is read).
#pragma once

#include <memory>
#include <string>

#include "platform/executable/ByteSource.h"

namespace platform::executable {

// A quick test of a path before it is opened (the Windows layer refuses device and pipe paths by
// their form); none lets every path be opened.
using PathGate = bool (*)(const std::u16string& path);

// Opens `path` for a row's icon read, first releasing whatever an earlier row kept. Nothing when
// `gate` refuses the path or the file cannot be opened so (missing, not a regular file, being
// written): the row has no icon.
std::unique_ptr<FileByteSource> openForIconRead(const std::u16string& path, PathGate gate = nullptr);

// Keeps `file`, opened by openForIconRead for `path`, open for the version read of the same path
// that follows the icon read.
void keepForVersionRead(const std::u16string& path, std::unique_ptr<FileByteSource> file);

// The file for the version read of `path`: the one kept for the icon read of this same path
// (handed over: it is released when the caller drops it), else `path` opened afresh (a version
// read on its own, as tests make; `gate` is asked first). Either way nothing stays kept
// afterwards. Nothing when the file cannot be opened.
std::unique_ptr<FileByteSource> openForVersionRead(const std::u16string& path, PathGate gate = nullptr);

}  // namespace platform::executable

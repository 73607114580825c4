// Reading an icon handle's bitmaps back as plain values, for platform/win32 and its tests:
// GetIconInfo, GetObjectW, GetDIBits, DeleteObject.
#pragma once

#include "platform/IconBitmaps.h"
#include "platform/win32/Win32Text.h"

namespace platform::win32 {

// The bitmaps of `icon` as the system reads them back: the mask at 1 bit per pixel, the colour
// bitmap at its own depth (planes x bits per pixel), each described by a 40-byte header that
// starts from a section's own header or from the bitmap's width and height, with planes 1, rows
// bottom-up, colours important capped at colours used and a zero image size made the rows' size;
// its colour table (at 8 bits or less: colours used, or 2 to the power of the bit count, entries)
// or three masks (bit-fields) follow. Rows GetDIBits does not fill stay zero. When the system
// will not hand out or describe the bitmaps, an IconBitmaps with maskWidth 0. `icon` stays the
// caller's; the bitmaps GetIconInfo made are deleted here.
IconBitmaps readIconBitmaps(HICON icon);

}  // namespace platform::win32

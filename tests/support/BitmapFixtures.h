// Making bitmaps and icons for the Windows imaging tests through GDI and USER themselves
// (CreateBitmap, CreateDIBSection, CreateIconIndirect in BitmapFixtures_win32.cpp), so that the
// Windows layer's read-back of icon handles is driven with what the system makes. Handles are
// released with DeleteObject and DestroyIcon. Windows only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/IconBitmaps.h"

namespace testsupport {

// The screen's colour table at 1, 4 or 8 bits per pixel, entries 0x00RRGGBB, which
// device-dependent bitmaps of those depths index.
std::vector<std::uint32_t> devicePalette(int bitsPerPixel);

// A device-dependent bitmap of `width` x `height` at `bitsPerPixel` (1, 4, 8, 16, 24, 32). `rows`
// holds the pixels top-down in the screen's format, each row padded to a multiple of 4 bytes:
// indices into devicePalette at 8 bits or less, 5-6-5 at 16, blue, green, red at 24 and blue,
// green, red, alpha at 32. None when it cannot be made.
HBITMAP createDeviceBitmap(int width, int height, int bitsPerPixel, std::span<const std::uint8_t> rows);

// A device-independent section described by `header`, with its colour table (0x00RRGGBB entries;
// clrUsed of them, or 2 to the power of the bit count when clrUsed is 0, at 8 bits or less),
// its three bit-field masks (red, green, blue) with bit-fields, and `bits` in the header's row
// order, each row padded to a multiple of 4 bytes. None when it cannot be made.
HBITMAP createDibSection(const platform::BitmapInfoHeader& header, std::span<const std::uint32_t> colourTable,
                         std::span<const std::uint32_t> masks, std::span<const std::uint8_t> bits);

// An icon made from `colour` (none: a monochrome icon whose mask is twice its height) and
// `mask`; the two handles stay the caller's.
HICON createIcon(HBITMAP colour, HBITMAP mask);

// How many GDI objects and icons this process holds, so tests can check that every handle handed
// out was released. Only differences count.
std::size_t liveBitmapCount();
std::size_t liveIconCount();

}  // namespace testsupport

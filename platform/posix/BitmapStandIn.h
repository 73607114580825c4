// Making icons and bitmaps in the Linux stand-in for the Windows bitmap calls. Only platform/posix
// code and tests use this header; everyone else sees platform/Bitmaps.h alone.
//
// The stand-in keeps every object in memory behind a handle that is never reused (HandleRegistry.h),
// so a stale or foreign handle is refused instead of touching freed memory. Objects are immutable
// once made; getIconInfo hands out new bitmap handles over the icon's pixels. The screen's palette
// (devicePalette) is in PixelCodec.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/Bitmaps.h"
#include "platform/posix/PixelCodec.h"

namespace platform::posix {

// A device-dependent bitmap of `width` x `height` (1 .. 4096 each) at `bitsPerPixel` (1, 4, 8, 16,
// 24, 32). `rows` holds the pixels top-down in the screen's format, each row padded to a multiple
// of 4 bytes: indices into devicePalette at 8 bits or less, 5-6-5 at 16, blue, green, red at 24
// and blue, green, red, alpha at 32. None when an argument is out of range or `rows` is short.
BitmapHandle createDeviceBitmap(int width, int height, int bitsPerPixel, std::span<const std::uint8_t> rows);

// A device-independent section described by `header`: size at least 40, width and |height| 1 ..
// 4096 (a negative height stores rows top-down), planes 1, bit count 1, 4, 8, 16, 24 or 32,
// compression RGB, or bit-fields at 16 and 32 bits, clrUsed at most 2 to the power of the bit
// count. `colourTable` (0x00RRGGBB entries) has clrUsed entries, or the full power of two when
// clrUsed is 0, at 8 bits or less and is empty otherwise; `masks` has the three masks (red,
// green, blue) with bit-fields and is empty otherwise; `bits` holds the rows in the header's
// order, each padded to a multiple of 4 bytes. The section's image size is always the computed
// one. None when anything does not fit.
BitmapHandle createDibSection(const BitmapInfoHeader& header, std::span<const std::uint32_t> colourTable,
                              std::span<const std::uint32_t> masks, std::span<const std::uint8_t> bits);

// An icon made of copies of `colour` (none: a monochrome icon) and `mask`; the two handles stay
// the caller's. None when `mask` is not a live bitmap or `colour` is neither none nor live.
IconHandle createIcon(BitmapHandle colour, BitmapHandle mask);

// How many objects are alive, so tests can check that every handle handed out was released.
std::size_t liveBitmapCount();
std::size_t liveIconCount();
std::size_t liveDeviceContextCount();

}  // namespace platform::posix

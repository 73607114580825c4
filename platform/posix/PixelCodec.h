// Pixels of the Linux bitmap stand-in: row sizes, the screen's palette and masks, and the
// conversion of a bitmap's rows into another format for getDIBits.
//
// Reading back in the bitmap's own format copies the rows unchanged (so 32-bit alpha survives);
// any other format goes through colours: a colour table entry, masked channels scaled to 8 bits,
// or the nearest entry of the target's table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/posix/StandInObjects.h"

namespace platform::posix {

// 1, 4, 8, 16, 24 or 32 bits per pixel.
bool validDepth(int bits);

// Bytes in one row of `width` pixels at `bits` per pixel, padded to a multiple of 4.
std::size_t rowBytes(int width, int bits);

// The masks (red, green, blue) a 16- or 32-bit pixel has without bit-fields: 5-5-5 and 8-8-8.
std::array<std::uint32_t, 3> plainMasks(int bits);

// The masks of the screen's own format: 5-6-5 at 16 bits, 8-8-8 at 32. Also used when bit-fields
// are asked of a bitmap that has none of its own.
std::array<std::uint32_t, 3> screenMasks(int bits);

// The colour table of the stand-in's screen at 1, 4 or 8 bits per pixel, entries 0x00RRGGBB
// (stored little-endian that is blue, green, red, 0): black and white; the 16 standard colours;
// those 16, a 6x6x6 colour cube and 24 greys. Device-dependent bitmaps of those depths index it,
// and colours read back at those depths from a bitmap of another depth map to its nearest entry.
std::vector<std::uint32_t> devicePalette(int bitsPerPixel);

// The format getDIBits was asked for.
struct PixelFormat {
  int bits = 0;
  bool bitFields = false;
};

// The colour table or masks that go with rows of `bitmap` read back in a format, and whether the
// rows can be copied as they are.
struct RowLayout {
  std::vector<std::uint32_t> table;
  std::array<std::uint32_t, 3> masks{};
  bool copy = false;
};
RowLayout layoutFor(const Bitmap& bitmap, PixelFormat format);

// Writes one row of `bitmap` (`source`, in its own format) into `target` in `format`. `target`
// holds a whole row of that format and is zero-filled by the caller.
void convertRow(const Bitmap& bitmap, const std::uint8_t* source, std::uint8_t* target, PixelFormat format,
                const RowLayout& layout);

}  // namespace platform::posix

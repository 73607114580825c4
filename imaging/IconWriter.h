// The ICO writer: turns a platform icon handle into the bytes of a single-image ICO file.
//
// File layout (little-endian, one image, no gaps): a 6-byte header (reserved 0, type 1, count 1),
// a 16-byte directory entry (width and height bytes, a 16-bit "colours" word holding the colour
// image's bit count, two zero words, bytes in image, image offset 22), the colour image's 40-byte
// header with its height doubled followed by its colour table or three masks, the colour rows,
// then the 1-bit AND mask rows; rows bottom-up, each padded to a multiple of 4 bytes. The colour
// image keeps the depth the platform hands back; nothing converts it.
#pragma once

#include <cstdint>
#include <span>

#include "platform/Bitmaps.h"
#include "runtime/TStream.h"

namespace imaging {

// Bytes of one row of `width` pixels at `bitsPerPixel`, padded to 32 bits.
std::int64_t RowBytes(std::int64_t width, std::int64_t bitsPerPixel);

// The 40-byte header describing `bitmap` in the format chosen by `colours`:
//   2 -> 1 bit per pixel (colours used unchanged); 3..16 -> 4 bits, colours used = `colours`;
//   17..256 -> 8 bits, colours used = `colours`; anything else (-1 for a colour image) -> the
//   bitmap's own depth (planes x bits per pixel).
// A device-independent section starts from its own header, any other bitmap from its width and
// height. Planes become 1, colours important is capped at colours used, a zero image size becomes
// RowBytes x |height|, and rows are always described bottom-up (positive height).
// Raises EInvalidGraphic "Bitmap image is not valid" when the platform cannot describe `bitmap`.
platform::BitmapInfoHeader DescribeBitmap(platform::BitmapHandle bitmap, int colours);

struct BitmapSizes {
  std::int64_t infoSize = 0;  // header plus colour table or masks
  std::int64_t bitsSize = 0;  // the rows (the header's image size)
};

// What DescribeBitmap(`bitmap`, `colours`) takes in memory: at 8 bits or less 40 + 4 x (colours
// used, or 2 to the power of the bit count when 0); above 8 bits 40, plus 12 for the three masks
// when the compression has either of its two low bits set. Raises like DescribeBitmap.
BitmapSizes BitmapInfoSizes(platform::BitmapHandle bitmap, int colours);

// Puts DescribeBitmap(`bitmap`, `colours`) at the start of `info` and reads the rows into `bits`,
// with the colour table or masks after the header. False when the platform fails or a buffer is
// smaller than BitmapInfoSizes says (nothing is then written past it). Raises like DescribeBitmap.
bool ReadBitmapBits(platform::BitmapHandle bitmap, std::span<std::uint8_t> info, std::span<std::uint8_t> bits,
                    int colours);

// Writes the ICO file bytes of `icon` to `stream`. A monochrome icon (no colour bitmap, a 1-bit
// mask of twice the height: AND half above, XOR half below) becomes a 1-bit image with the table
// black, white and the colours word 1. The icon's bitmaps are deleted on every path.
// Raises EInvalidGraphic "Bitmap image is not valid" when the icon's bitmaps cannot be obtained or
// described; the stream may then hold a partial image.
void BuildIconImage(rt::TStream& stream, platform::IconHandle icon);

}  // namespace imaging

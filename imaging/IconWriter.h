// The ICO writer: lays an icon's bitmaps out as the bytes of a single-image ICO file.
//
// File layout (little-endian, one image, no gaps): a 6-byte header (reserved 0, type 1, count 1),
// a 16-byte directory entry (width and height bytes, a 16-bit "colours" word holding the colour
// image's bit count, two zero words, bytes in image, image offset 22), the colour image's 40-byte
// header with its height doubled followed by its colour table or three masks, the colour rows,
// then the 1-bit AND mask rows; rows bottom-up, each padded to a multiple of 4 bytes. The colour
// image keeps the depth the platform hands back; nothing converts it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/IconBitmaps.h"

namespace imaging {

// The ICO file bytes of `image`. The entry's width and height bytes are the low 8 bits of the
// colour header's width and height (256 gives 0), its colours word planes x bit count; bytes in
// image counts the colour info, the colour rows and the mask rows as handed over. A monochrome
// icon (no colour bitmap, a 1-bit mask of twice the height) becomes a 1-bit image with the table
// black, white and the colours word 1. Raises EInvalidGraphic "Bitmap image is not valid" when the
// platform could not hand the bitmaps out (maskWidth 0), a colour header is shorter than 40
// bytes, or a monochrome mask has no two whole halves.
std::vector<std::uint8_t> BuildIconImage(const platform::IconBitmaps& image);

}  // namespace imaging

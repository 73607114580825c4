// Brings a decoded icon image to the 48x48 colour bitmap and mask that the icon calls hand back.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/posix/IconImageDecoder.h"

namespace platform::posix {

// Side of the icon the program asks for.
constexpr int kIconSide = 48;

// A 48x48 icon, decoded and scaled.
struct DecodedIcon {
  // true: no colour bitmap; the mask is 48 wide x 96 high (AND half rows 0..47, XOR half 48..95).
  bool monochrome = false;
  // 48*48*4 bytes, top-down rows, B,G,R,A (empty when monochrome).
  std::vector<std::uint8_t> bgra;
  // One byte per pixel, 1 = bit set (transparent for the AND half), top-down, 48 wide, 48 or 96 rows.
  std::vector<std::uint8_t> mask;
};

// `image` scaled to 48 on each axis separately. Enlarging shows, for output pixel i, source pixel
// floor(((2i + 1)S - 1) / 96) (the one under its centre, a tie going to the lower). Shrinking makes
// each output pixel the area average of the source pixels whose centres fall in it: colour
// weighted by alpha, alpha the plain average (both rounded to nearest), the mask transparent only
// when every pixel of the block is. Images without their own alpha come back with alpha 255 where
// the mask is opaque and 0 where it is transparent.
DecodedIcon scaleIconTo48(const IconPixels& image);
// The same, taking the image's pixels over where a 48x48 image needs no scaling (no copy).
DecodedIcon scaleIconTo48(IconPixels&& image);

}  // namespace platform::posix

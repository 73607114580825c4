// Decodes one icon image as stored in an icon resource or an .ico file: a BMP-style image (header,
// palette, XOR bitmap, AND mask) at 1, 4, 8, 24 or 32 bits per pixel, or a PNG image. The result
// is the image at its own size, ready for scaling to 48x48.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform::posix {

// Largest width or height we decode. Icons are at most 256 pixels; the margin keeps unusual but
// honest images readable while bounding what a hostile header can make us allocate.
constexpr int kMaxIconSide = 1024;

struct IconPixels {
  int width = 0;
  int height = 0;
  // A 1-bit image whose palette is exactly black then white: `bgra` is empty and `xorBits` holds
  // the colour bitmap's bits (one byte per pixel, 0 or 1).
  bool monochrome = false;
  // True when the colours carry their own alpha (32-bit with some non-zero alpha, or PNG). When
  // false, `bgra`'s alpha is 255 where the mask is opaque and 0 where it is transparent.
  bool hasAlpha = false;
  std::vector<std::uint8_t> bgra;     // width*height*4, top-down, B,G,R,A
  std::vector<std::uint8_t> mask;     // width*height, 1 = transparent
  std::vector<std::uint8_t> xorBits;  // monochrome only
};

// The image in `bytes`, or nothing when it is not a well-formed BMP-style or PNG icon image.
std::optional<IconPixels> decodeIconImage(std::span<const std::uint8_t> bytes);

}  // namespace platform::posix

// PNG images of any colour type and bit depth, written without libpng (the image data in stored,
// uncompressed deflate blocks), so that the tests of both platforms and the hostile-file generator
// can make every kind of PNG icon image the builds must agree on, damaged ones included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// PNG colour types (PNG format, "IHDR Image header").
enum class PngColour : std::uint8_t { Grey = 0, Rgb = 2, Palette = 3, GreyAlpha = 4, Rgba = 6 };

struct PngPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bitDepth = 8;
  PngColour colour = PngColour::Rgba;
  // The samples of each row, top row first, packed as the format stores them (most significant
  // bits first below 8 bits, big-endian at 16), without the filter byte; rows end on a byte.
  std::vector<std::uint8_t> rows;
  std::string palette;       // PLTE data, 3 bytes per entry; empty: no PLTE chunk
  std::string transparency;  // tRNS data; empty: no tRNS chunk
};

// One chunk: its length, type, data and the CRC of type and data.
std::string pngChunk(const std::string& type, const std::string& data);

// The whole image: signature, IHDR, PLTE and tRNS when given, one IDAT, IEND.
std::string encodePng(const PngPicture& picture);

// A whole 8-bit RGBA image of `width` x `height` transparent black pixels.
std::string transparentPng(std::uint32_t width, std::uint32_t height);

// Bytes of one row of `picture`'s samples.
std::size_t pngRowBytes(const PngPicture& picture);

}  // namespace testsupport

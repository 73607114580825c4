// ICO file reader of the comparison: the directory (one entry), the 40-byte bitmap header, the
// colour table, the XOR rows and the AND rows, both stored bottom row first, rows padded to 4 bytes.
#include "tests/e2e/windows/IcoImage.h"

namespace wintest {
namespace {

std::uint32_t u16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 1])) << 8;
}
std::uint32_t u32(const std::string& b, std::size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

IcoImage invalid(const std::string& why) {
  IcoImage image;
  image.problem = why;
  return image;
}

std::size_t strideOf(int width, int bits) { return (static_cast<std::size_t>(width) * bits + 31) / 32 * 4; }

std::uint32_t pixelAt(const std::string& b, std::size_t row, int x, int bits, const std::vector<std::uint32_t>& table) {
  if (bits <= 8) {
    const int perByte = 8 / bits;
    const auto byte = static_cast<std::uint8_t>(b[row + static_cast<std::size_t>(x / perByte)]);
    const unsigned index = (byte >> (8 - bits * (x % perByte + 1))) & ((1u << bits) - 1);
    return index < table.size() ? table[index] : 0;
  }
  const std::size_t at = row + static_cast<std::size_t>(x) * static_cast<std::size_t>(bits / 8);
  const std::uint32_t rgb = u16(b, at) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 2])) << 16;
  return bits == 32 ? rgb | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3])) << 24 : rgb;
}

}  // namespace

IcoImage decodeIco(const std::string& b) {
  if (b.size() < 6 + 16 + 40) return invalid("shorter than a header, an entry and a bitmap header");
  if (u16(b, 0) != 0 || u16(b, 2) != 1 || u16(b, 4) != 1) return invalid("not a single-image icon directory");
  IcoImage image;
  image.entryWord = static_cast<int>(u16(b, 8));
  const std::uint64_t size = u32(b, 14), offset = u32(b, 18);
  if (offset + size > b.size() || size < 40) return invalid("entry outside the file");
  const auto at = static_cast<std::size_t>(offset);
  if (u32(b, at) != 40) return invalid("bitmap header is not 40 bytes");
  image.width = static_cast<int>(u32(b, at + 4));
  const auto doubled = static_cast<std::int32_t>(u32(b, at + 8));
  image.bitCount = static_cast<int>(u16(b, at + 14));
  const int bits = image.bitCount;
  if (image.width <= 0 || image.width > 256 || doubled <= 0 || doubled % 2 != 0 || doubled > 512)
    return invalid("bitmap size out of range");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return invalid("unsupported bit count");
  image.height = doubled / 2;
  const std::uint32_t used = u32(b, at + 32);
  const std::size_t colours = bits <= 8 ? (used != 0 ? used : 1u << bits) : 0;
  std::size_t cursor = at + 40;
  std::vector<std::uint32_t> table;
  for (std::size_t i = 0; i < colours; ++i, cursor += 4) {
    if (cursor + 4 > at + size) return invalid("colour table outside the entry");
    table.push_back(u32(b, cursor));
  }
  const std::size_t xorStride = strideOf(image.width, bits), andStride = strideOf(image.width, 1);
  const auto rows = static_cast<std::size_t>(image.height);
  if (cursor + (xorStride + andStride) * rows > at + size) return invalid("bitmaps outside the entry");
  for (std::size_t y = 0; y < rows; ++y) {
    const std::size_t xorRow = cursor + (rows - 1 - y) * xorStride;
    const std::size_t andRow = cursor + rows * xorStride + (rows - 1 - y) * andStride;
    for (int x = 0; x < image.width; ++x) {
      image.argb.push_back(pixelAt(b, xorRow, x, bits, table));
      image.mask.push_back(static_cast<std::uint8_t>(pixelAt(b, andRow, x, 1, {0, 1})));
    }
  }
  image.valid = true;
  return image;
}

}  // namespace wintest

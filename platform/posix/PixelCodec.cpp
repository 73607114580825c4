// Pixels of the Linux bitmap stand-in: reading and writing pixel values, colours in and out of
// masked pixels and colour tables, and whole rows converted between formats.
#include "platform/posix/PixelCodec.h"

#include <bit>
#include <limits>

namespace platform::posix {
namespace {

struct Colour {
  std::uint8_t b = 0, g = 0, r = 0, a = 0;
};

std::uint32_t readPixelBits(const std::uint8_t* row, int x, int bits) {
  switch (bits) {
    case 1: return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 4: return (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xFu;
    case 8: return row[x];
    case 16: return row[2 * x] | (std::uint32_t{row[2 * x + 1]} << 8);
    case 24: return row[3 * x] | (std::uint32_t{row[3 * x + 1]} << 8) | (std::uint32_t{row[3 * x + 2]} << 16);
    default:
      return row[4 * x] | (std::uint32_t{row[4 * x + 1]} << 8) | (std::uint32_t{row[4 * x + 2]} << 16) |
             (std::uint32_t{row[4 * x + 3]} << 24);
  }
}

void writePixelBits(std::uint8_t* row, int x, int bits, std::uint32_t value) {
  switch (bits) {
    case 1: {
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
      row[x / 8] = static_cast<std::uint8_t>(value ? row[x / 8] | bit : row[x / 8] & ~bit);
      return;
    }
    case 4: {
      const int shift = x % 2 == 0 ? 4 : 0;
      row[x / 2] = static_cast<std::uint8_t>((row[x / 2] & ~(0xF << shift)) | ((value & 0xF) << shift));
      return;
    }
    case 8: row[x] = static_cast<std::uint8_t>(value); return;
    case 16:
      row[2 * x] = static_cast<std::uint8_t>(value);
      row[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
      return;
    case 24:
      for (int i = 0; i < 3; ++i) row[3 * x + i] = static_cast<std::uint8_t>(value >> (8 * i));
      return;
    default:
      for (int i = 0; i < 4; ++i) row[4 * x + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// One colour channel out of a masked pixel, scaled to 8 bits.
std::uint8_t channel(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const std::uint32_t top = mask >> shift;
  const std::uint32_t value = (pixel & mask) >> shift;
  return static_cast<std::uint8_t>((value * 255 + top / 2) / top);
}

std::uint32_t packChannel(std::uint8_t value, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const std::uint32_t top = mask >> shift;
  return ((value * top + 127) / 255) << shift;
}

Colour tableColour(std::uint32_t entry) {
  return {static_cast<std::uint8_t>(entry), static_cast<std::uint8_t>(entry >> 8), static_cast<std::uint8_t>(entry >> 16),
          0};
}

Colour colourAt(const Bitmap& bitmap, const std::uint8_t* row, int x) {
  const std::uint32_t pixel = readPixelBits(row, x, bitmap.bits);
  if (bitmap.bits <= 8) return pixel < bitmap.table.size() ? tableColour(bitmap.table[pixel]) : Colour{};
  if (bitmap.bits == 24) return tableColour(pixel);
  Colour colour{channel(pixel, bitmap.masks[2]), channel(pixel, bitmap.masks[1]), channel(pixel, bitmap.masks[0]), 0};
  if (bitmap.bits == 32 && !bitmap.bitFields) colour.a = static_cast<std::uint8_t>(pixel >> 24);
  return colour;
}

std::uint32_t nearestEntry(const std::vector<std::uint32_t>& table, Colour colour) {
  std::uint32_t best = 0;
  long bestDistance = std::numeric_limits<long>::max();
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    const Colour entry = tableColour(table[i]);
    const long db = long{entry.b} - colour.b, dg = long{entry.g} - colour.g, dr = long{entry.r} - colour.r;
    const long distance = db * db + dg * dg + dr * dr;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

bool sameFormat(const Bitmap& bitmap, PixelFormat format) {
  if (bitmap.bits != format.bits) return false;
  if (format.bits <= 8 || format.bits == 24) return true;
  if (format.bitFields) return true;  // bit-fields read back with the bitmap's own masks
  return bitmap.masks == plainMasks(format.bits) && (format.bits == 16 || !bitmap.bitFields);
}

}  // namespace

bool validDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

std::size_t rowBytes(int width, int bits) {
  return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) & ~std::size_t{31}) / 8;
}

std::array<std::uint32_t, 3> plainMasks(int bits) {
  if (bits == 16) return {0x7C00, 0x03E0, 0x001F};
  return {0xFF0000, 0x00FF00, 0x0000FF};
}

std::array<std::uint32_t, 3> screenMasks(int bits) {
  if (bits == 16) return {0xF800, 0x07E0, 0x001F};
  return {0xFF0000, 0x00FF00, 0x0000FF};
}

std::vector<std::uint32_t> devicePalette(int bitsPerPixel) {
  static const std::array<std::uint32_t, 16> standard = {
      0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
      0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  if (bitsPerPixel == 1) return {0x000000, 0xFFFFFF};
  if (bitsPerPixel == 4) return {standard.begin(), standard.end()};
  if (bitsPerPixel != 8) return {};
  std::vector<std::uint32_t> table(standard.begin(), standard.end());
  for (std::uint32_t r = 0; r < 6; ++r)
    for (std::uint32_t g = 0; g < 6; ++g)
      for (std::uint32_t b = 0; b < 6; ++b) table.push_back((r * 51) << 16 | (g * 51) << 8 | b * 51);
  for (std::uint32_t i = 0; i < 24; ++i) {
    const std::uint32_t grey = 8 + i * 10;
    table.push_back(grey << 16 | grey << 8 | grey);
  }
  return table;
}

RowLayout layoutFor(const Bitmap& bitmap, PixelFormat format) {
  RowLayout layout;
  layout.copy = sameFormat(bitmap, format);
  if (format.bits <= 8) {
    layout.table = layout.copy ? bitmap.table : devicePalette(format.bits);
    return layout;
  }
  if (format.bits == 24) return layout;
  if (!format.bitFields) layout.masks = plainMasks(format.bits);
  else layout.masks = layout.copy ? bitmap.masks : screenMasks(format.bits);
  return layout;
}

void convertRow(const Bitmap& bitmap, const std::uint8_t* source, std::uint8_t* target, PixelFormat format,
                const RowLayout& layout) {
  for (int x = 0; x < bitmap.width; ++x) {
    const Colour colour = colourAt(bitmap, source, x);
    std::uint32_t value = 0;
    if (format.bits <= 8) {
      value = nearestEntry(layout.table, colour);
    } else if (format.bits == 24) {
      value = colour.b | (std::uint32_t{colour.g} << 8) | (std::uint32_t{colour.r} << 16);
    } else {
      value = packChannel(colour.r, layout.masks[0]) | packChannel(colour.g, layout.masks[1]) |
              packChannel(colour.b, layout.masks[2]);
      if (format.bits == 32 && !format.bitFields) value |= std::uint32_t{colour.a} << 24;
    }
    writePixelBits(target, x, format.bits, value);
  }
}

}  // namespace platform::posix

// Test icons as the plain bitmaps the platform hands the writer (and, on Windows, as icon handles
// the system makes: tests/support/BitmapFixtures.h), and a small independent reader of the ICO
// files our writer produces, so tests can compare the pixels that come out with those that went in.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/IconWriter.h"
#include "platform/IconBitmaps.h"
#include "platform/executable/LittleEndian.h"
#include "runtime/Text.h"
#ifdef _WIN32
#include "platform/win32/IconReadBack.h"
#include "tests/support/BitmapFixtures.h"
#endif
#include "tests/support/PeWriter.h"

namespace iconfixtures {

using PixelFunction = std::function<std::uint32_t(int x, int y)>;
using MaskFunction = std::function<bool(int x, int y)>;

// A path in the program's text as a file-system path.
inline std::filesystem::path pathOf(const std::u16string& text) { return rt::toUtf8(text); }

inline std::size_t strideOf(int width, int bits) { return (static_cast<std::size_t>(width) * bits + 31) / 32 * 4; }

// Rows of raw pixel values, top row first, each padded to 4 bytes.
inline std::vector<std::uint8_t> packRows(int width, int height, int bits, const PixelFunction& value) {
  const std::size_t stride = strideOf(width, bits);
  std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = rows.data() + stride * static_cast<std::size_t>(y);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = value(x, y);
      if (bits < 8) {
        const int perByte = 8 / bits;
        const int shift = 8 - bits * (x % perByte + 1);
        row[x / perByte] |= static_cast<std::uint8_t>(v << shift);
      } else {
        for (int i = 0; i < bits / 8; ++i) row[x * (bits / 8) + i] = static_cast<std::uint8_t>(v >> (8 * i));
      }
    }
  }
  return rows;
}

// An asymmetric test picture (so flipped or shifted rows show), as 0xAARRGGBB.
inline std::uint32_t picture(int x, int y) {
  const std::uint32_t a = static_cast<std::uint32_t>(x * 5 + y * 3) & 0xFF;
  const std::uint32_t r = static_cast<std::uint32_t>(x * 5) & 0xFF;
  const std::uint32_t g = static_cast<std::uint32_t>(y * 5) & 0xFF;
  const std::uint32_t b = static_cast<std::uint32_t>((x ^ y) * 3) & 0xFF;
  return a << 24 | r << 16 | g << 8 | b;
}

inline bool pictureMask(int x, int y) { return (x + 2 * y) % 7 == 0; }

// Plain bitmaps of `width` x `height`: a colour bitmap at `bits` per pixel holding `value` (raw
// pixel values, top row first) after a header with `compression` and `clrUsed` and the given
// colour table or masks, and a mask transparent where `transparent` says; rows bottom-up.
inline platform::IconBitmaps bitmapsOf(int width, int height, int bits, const PixelFunction& value,
                                       const MaskFunction& transparent,
                                       const std::vector<std::uint32_t>& tableOrMasks = {},
                                       std::uint32_t compression = 0, std::uint32_t clrUsed = 0) {
  const auto bottomUp = [height](const PixelFunction& f) {
    return [f, height](int x, int y) { return f(x, height - 1 - y); };
  };
  platform::IconBitmaps image;
  const auto rowsBytes = static_cast<std::uint32_t>(strideOf(width, bits) * static_cast<std::size_t>(height));
  platform::BitmapInfoHeader header{40, width, height, 1, static_cast<std::uint16_t>(bits), compression, rowsBytes};
  header.clrUsed = clrUsed;
  image.colourInfo.resize(40 + 4 * tableOrMasks.size());
  std::memcpy(image.colourInfo.data(), &header, 40);
  if (!tableOrMasks.empty()) std::memcpy(image.colourInfo.data() + 40, tableOrMasks.data(), 4 * tableOrMasks.size());
  image.colourRows = packRows(width, height, bits, bottomUp(value));
  image.maskWidth = width;
  image.maskHeight = height;
  image.maskRows = packRows(width, height, 1, bottomUp([&](int x, int y) { return transparent(x, y) ? 1u : 0u; }));
  return image;
}

// A monochrome icon's bitmaps: no colour bitmap, a `width` x `height` mask (AND half on top).
inline platform::IconBitmaps monochromeOf(int width, int height, const MaskFunction& bit) {
  platform::IconBitmaps image;
  image.maskWidth = width;
  image.maskHeight = height;
  image.maskRows = packRows(width, height, 1, [&](int x, int y) { return bit(x, height - 1 - y) ? 1u : 0u; });
  return image;
}

// The 32-bit test picture with its mask, `width` x `height`.
inline platform::IconBitmaps pictureBitmaps(int width = 48, int height = 48) {
  return bitmapsOf(width, height, 32, picture, pictureMask);
}

inline std::string asText(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// BuildIconImage's bytes for `image`.
inline std::string build(const platform::IconBitmaps& image) { return asText(imaging::BuildIconImage(image)); }

// A PE32 executable whose only icon is the test picture's colours as a 48x48 24-bit image with
// the test mask.
inline void writeTwentyFourBitExecutable(const std::filesystem::path& path) {
  std::vector<std::uint32_t> pixels;
  std::vector<std::uint8_t> mask;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      pixels.push_back(picture(x, y) & 0xFFFFFF);
      mask.push_back(pictureMask(x, y) ? 1 : 0);
    }
  testsupport::PeWriter pe;
  const std::string image = testsupport::bmpIconImage(48, 48, 24, {}, pixels, mask);
  pe.add(3, 1, image);  // RT_ICON
  testsupport::IconDirEntry entry;
  entry.bitCount = 24;
  entry.bytes = static_cast<std::uint32_t>(image.size());
  pe.add(14, 1, testsupport::iconGroup({entry}));  // RT_GROUP_ICON
  pe.writeTo(path);
}

using platform::executable::i32At;
using platform::executable::u16At;
using platform::executable::u32At;

// One ICO image read back: the directory entry, the header, and the pixels top row first.
struct IcoImage {
  int entryWidth = 0, entryHeight = 0;
  std::uint32_t colours = 0, bytesInImage = 0, offset = 0;
  std::int32_t width = 0, height = 0;  // height as stored (colour + mask)
  int bits = 0;
  std::uint32_t compression = 0, sizeImage = 0, clrUsed = 0;
  std::size_t infoSize = 0, colourBitsSize = 0, maskBitsSize = 0;
  std::vector<std::uint32_t> table;
  std::vector<std::uint32_t> rgb;  // 0xAARRGGBB; alpha only from 32-bit images without bit-fields
  std::vector<std::uint8_t> mask;  // 1 = transparent
};

inline std::uint8_t scaled(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1u) == 0) ++shift;
  const std::uint32_t top = mask >> shift;
  return static_cast<std::uint8_t>(((pixel & mask) >> shift) * 255 / top);
}

// Reads a single-image ICO as our writer lays it out; throws std::out_of_range on short data.
inline IcoImage readIco(const std::string& bytes) {
  const auto need = [&](std::size_t end) {
    if (end > bytes.size()) throw std::out_of_range("short ICO");
  };
  IcoImage image;
  need(22);
  if (u16At(bytes, 0) != 0 || u16At(bytes, 2) != 1 || u16At(bytes, 4) != 1) throw std::runtime_error("not an ICO");
  image.entryWidth = static_cast<std::uint8_t>(bytes.at(6));
  image.entryHeight = static_cast<std::uint8_t>(bytes.at(7));
  image.colours = u16At(bytes, 8);
  image.bytesInImage = u32At(bytes, 14);
  image.offset = u32At(bytes, 18);
  const std::size_t h = image.offset;
  need(h + 52);  // the header and up to three colour masks after it
  image.width = i32At(bytes, h + 4);
  image.height = i32At(bytes, h + 8);
  image.bits = static_cast<int>(u16At(bytes, h + 14));
  image.compression = u32At(bytes, h + 16);
  image.sizeImage = u32At(bytes, h + 20);
  image.clrUsed = u32At(bytes, h + 32);
  const int rows = image.height / 2;
  std::uint32_t masks[3] = {0, 0, 0};
  image.infoSize = 40;
  if (image.bits <= 8) {
    const std::uint32_t entries = image.clrUsed ? image.clrUsed : 1u << image.bits;
    need(h + 40 + 4 * std::size_t{entries});
    for (std::uint32_t i = 0; i < entries; ++i) image.table.push_back(u32At(bytes, h + 40 + 4 * i) & 0xFFFFFF);
    image.infoSize += 4 * entries;
  } else if (image.compression == 3) {
    for (int i = 0; i < 3; ++i) masks[i] = u32At(bytes, h + 40 + 4 * static_cast<std::size_t>(i));
    image.infoSize += 12;
  } else if (image.bits == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  }
  const std::size_t stride = strideOf(image.width, image.bits);
  const std::size_t maskStride = strideOf(image.width, 1);
  image.colourBitsSize = stride * static_cast<std::size_t>(rows);
  image.maskBitsSize = maskStride * static_cast<std::size_t>(rows);
  const std::size_t colourStart = h + image.infoSize;
  const std::size_t maskStart = colourStart + image.colourBitsSize;
  for (int y = 0; y < rows; ++y) {
    const std::size_t row = colourStart + stride * static_cast<std::size_t>(rows - 1 - y);
    const std::size_t maskRow = maskStart + maskStride * static_cast<std::size_t>(rows - 1 - y);
    for (int x = 0; x < image.width; ++x) {
      std::uint32_t pixel = 0;
      if (image.bits < 8) {
        const int perByte = 8 / image.bits;
        const int shift = 8 - image.bits * (x % perByte + 1);
        pixel = (static_cast<std::uint8_t>(bytes.at(row + static_cast<std::size_t>(x / perByte))) >> shift) &
                ((1u << image.bits) - 1);
      } else {
        for (int i = 0; i < image.bits / 8; ++i)
          pixel |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(
                       bytes.at(row + static_cast<std::size_t>(x * (image.bits / 8) + i))))
                   << (8 * i);
      }
      std::uint32_t argb = 0;
      if (image.bits <= 8) argb = image.table.at(pixel);
      else if (image.bits == 24) argb = pixel;
      else if (image.bits == 32 && image.compression == 0) argb = pixel;
      else
        argb = std::uint32_t{scaled(pixel, masks[0])} << 16 | std::uint32_t{scaled(pixel, masks[1])} << 8 |
               scaled(pixel, masks[2]);
      image.rgb.push_back(argb);
      const std::uint8_t maskByte = static_cast<std::uint8_t>(bytes.at(maskRow + static_cast<std::size_t>(x / 8)));
      image.mask.push_back(static_cast<std::uint8_t>((maskByte >> (7 - x % 8)) & 1));
    }
  }
  return image;
}

// Checks every pixel of `image` against `expected` (0xAARRGGBB, alpha compared only when
// `withAlpha`) and its mask against `transparent`; reports the first difference.
inline void expectPixels(const IcoImage& image, const PixelFunction& expected, const MaskFunction& transparent,
                         bool withAlpha) {
  const std::uint32_t keep = withAlpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
  for (int y = 0; y < image.height / 2; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x);
      ASSERT_EQ(image.rgb[i] & keep, expected(x, y) & keep) << "pixel " << x << "," << y;
      ASSERT_EQ(image.mask[i], transparent(x, y) ? 1 : 0) << "mask " << x << "," << y;
    }
}

#ifdef _WIN32
// Icons made by the system itself, for the Windows layer's read-back of icon handles.
inline HBITMAP deviceBitmap(int width, int height, int bits, const PixelFunction& value) {
  return testsupport::createDeviceBitmap(width, height, bits, packRows(width, height, bits, value));
}

inline HBITMAP maskBitmap(int width, int height, const MaskFunction& transparent) {
  return deviceBitmap(width, height, 1, [&](int x, int y) { return transparent(x, y) ? 1u : 0u; });
}

// A section from raw values given top row first; stored in the header's row order.
inline HBITMAP dibSection(const platform::BitmapInfoHeader& header, const std::vector<std::uint32_t>& table,
                          const std::vector<std::uint32_t>& masks, const PixelFunction& value) {
  const int height = header.height < 0 ? -header.height : header.height;
  const PixelFunction stored = [&](int x, int y) { return value(x, header.height < 0 ? y : height - 1 - y); };
  return testsupport::createDibSection(header, table, masks, packRows(header.width, height, header.bitCount, stored));
}

inline platform::BitmapInfoHeader sectionHeader(int width, int height, int bits, std::uint32_t compression = 0,
                                                std::uint32_t clrUsed = 0) {
  platform::BitmapInfoHeader header;
  header.size = 40;
  header.width = width;
  header.height = height;
  header.planes = 1;
  header.bitCount = static_cast<std::uint16_t>(bits);
  header.compression = compression;
  header.clrUsed = clrUsed;
  return header;
}

// An icon over `colour` (none: monochrome) and `mask`; the two bitmaps are released here.
inline HICON iconOf(HBITMAP colour, HBITMAP mask) {
  const HICON icon = testsupport::createIcon(colour, mask);
  if (colour) DeleteObject(colour);
  if (mask) DeleteObject(mask);
  return icon;
}

// The 32-bit test picture with its mask, `width` x `height`.
inline HICON pictureIcon(int width = 48, int height = 48) {
  return iconOf(deviceBitmap(width, height, 32, picture), maskBitmap(width, height, pictureMask));
}

// The bitmaps the Windows layer reads back from `icon`, which is destroyed.
inline platform::IconBitmaps readBack(HICON icon) {
  platform::IconBitmaps image = platform::win32::readIconBitmaps(icon);
  if (icon) DestroyIcon(icon);
  return image;
}

// Checks that the handles made during a test are all released by its end.
class LiveObjects {
 public:
  ~LiveObjects() {
    EXPECT_EQ(testsupport::liveBitmapCount(), bitmaps_);
    EXPECT_EQ(testsupport::liveIconCount(), icons_);
  }

 private:
  std::size_t bitmaps_ = testsupport::liveBitmapCount();
  std::size_t icons_ = testsupport::liveIconCount();
};
#endif

}  // namespace iconfixtures

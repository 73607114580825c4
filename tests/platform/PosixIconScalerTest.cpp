// Scaling decoded icon images to 48x48, checked against the rule written out pixel by pixel.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/posix/IconImageDecoder.h"
#include "platform/posix/IconScaler.h"

namespace {

using platform::posix::IconPixels;
using platform::posix::kIconSide;

IconPixels noisyImage(int width, int height, bool hasAlpha, unsigned seed) {
  IconPixels image;
  image.width = width;
  image.height = height;
  image.hasAlpha = hasAlpha;
  image.bgra.resize(static_cast<std::size_t>(width) * height * 4);
  image.mask.resize(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < image.mask.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    for (int c = 0; c < 4; ++c) image.bgra[i * 4 + c] = static_cast<std::uint8_t>(seed >> (8 + 5 * c));
    image.mask[i] = (seed >> 30) == 0 ? 1 : 0;
    if (i % 7 == 0) image.bgra[i * 4 + 3] = 0;  // some fully transparent colours
    if (!hasAlpha) image.bgra[i * 4 + 3] = image.mask[i] ? 0 : 255;
  }
  return image;
}

// Copying and enlarging: output pixel (x, y) is the source pixel under its centre, colour
// unchanged, alpha its own (or 255/0 from the mask), the mask bit copied. Sizes cover the
// common 48x48, exact multiples and uneven ratios, with and without alpha.
TEST(IconScaler, CopyingAndEnlargingTakeThePixelUnderEachCentre) {
  for (const auto& [width, height] : {std::pair {48, 48}, {16, 16}, {32, 32}, {20, 13}, {1, 48}, {47, 3}}) {
    for (const bool hasAlpha : {true, false}) {
      const IconPixels image = noisyImage(width, height, hasAlpha, static_cast<unsigned>(width * 100 + height));
      const auto icon = platform::posix::scaleIconTo48(image);
      ASSERT_EQ(icon.bgra.size(), static_cast<std::size_t>(kIconSide * kIconSide * 4));
      ASSERT_EQ(icon.mask.size(), static_cast<std::size_t>(kIconSide * kIconSide));
      for (int y = 0; y < kIconSide; ++y) {
        for (int x = 0; x < kIconSide; ++x) {
          const int sx = ((2 * x + 1) * width - 1) / (2 * kIconSide);
          const int sy = ((2 * y + 1) * height - 1) / (2 * kIconSide);
          const std::size_t from = static_cast<std::size_t>(sy) * width + sx;
          const std::size_t to = static_cast<std::size_t>(y) * kIconSide + x;
          for (int c = 0; c < 3; ++c)
            ASSERT_EQ(icon.bgra[to * 4 + c], image.bgra[from * 4 + c]) << width << "x" << height;
          ASSERT_EQ(icon.mask[to], image.mask[from]);
          ASSERT_EQ(icon.bgra[to * 4 + 3], hasAlpha ? image.bgra[from * 4 + 3] : (image.mask[from] ? 0 : 255));
        }
      }
    }
  }
}

// Shrinking 96x96 by two: each output pixel is its 2x2 block, colour weighted by alpha.
TEST(IconScaler, ShrinkingAveragesEachBlockWeightedByAlpha) {
  const IconPixels image = noisyImage(96, 96, true, 5);
  const auto icon = platform::posix::scaleIconTo48(image);
  for (int y = 0; y < kIconSide; ++y) {
    for (int x = 0; x < kIconSide; ++x) {
      unsigned long long weighted[3] = {}, plain[3] = {}, alpha = 0;
      unsigned transparent = 0;
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const std::size_t at = static_cast<std::size_t>(2 * y + dy) * 96 + 2 * x + dx;
          for (int c = 0; c < 3; ++c) {
            weighted[c] += image.bgra[at * 4 + c] * image.bgra[at * 4 + 3];
            plain[c] += image.bgra[at * 4 + c];
          }
          alpha += image.bgra[at * 4 + 3];
          transparent += image.mask[at];
        }
      }
      const std::size_t to = static_cast<std::size_t>(y) * kIconSide + x;
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(icon.bgra[to * 4 + c], alpha > 0 ? (weighted[c] + alpha / 2) / alpha : (plain[c] + 2) / 4);
      ASSERT_EQ(icon.bgra[to * 4 + 3], (alpha + 2) / 4);
      ASSERT_EQ(icon.mask[to], transparent == 4 ? 1 : 0);
    }
  }
}

}  // namespace

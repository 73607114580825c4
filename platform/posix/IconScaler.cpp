// Scaling of icon images to 48x48. Each output pixel covers a rectangle of source pixels: one
// pixel when enlarging or copying, a block when shrinking; the same averaging serves all cases.
#include "platform/posix/IconScaler.h"

#include <array>
#include <utility>
#include <vector>

namespace platform::posix {
namespace {

struct Block {
  int first = 0;
  int end = 0;  // one past the last source pixel
};
using AxisBlocks = std::array<Block, kIconSide>;

// For every output position along one axis, the source pixels it covers.
AxisBlocks blocksFor(int sourceSide) {
  AxisBlocks blocks{};
  const long long s = sourceSide;
  if (sourceSide <= kIconSide) {
    for (int i = 0; i < kIconSide; ++i) {
      const int j = static_cast<int>(((2LL * i + 1) * s - 1) / (2 * kIconSide));
      blocks[i] = {j, j + 1};
    }
    return blocks;
  }
  // Source pixel j belongs to the output pixel under its centre. The mapping is monotone and, with
  // more source than output pixels, leaves no output pixel without a source pixel.
  for (int i = 0; i < kIconSide; ++i) blocks[i] = {sourceSide, 0};
  for (int j = 0; j < sourceSide; ++j) {
    const int i = static_cast<int>(((2LL * j + 1) * kIconSide - 1) / (2 * s));
    if (j < blocks[i].first) blocks[i].first = j;
    blocks[i].end = j + 1;
  }
  return blocks;
}

unsigned roundedDivide(unsigned long long sum, unsigned long long count) {
  return static_cast<unsigned>((sum + count / 2) / count);
}

DecodedIcon scaleMonochrome(const IconPixels& image, const AxisBlocks& columns, const AxisBlocks& rows) {
  DecodedIcon icon;
  icon.monochrome = true;
  icon.mask.assign(static_cast<std::size_t>(kIconSide) * kIconSide * 2, 0);
  for (int oy = 0; oy < kIconSide; ++oy) {
    for (int ox = 0; ox < kIconSide; ++ox) {
      // AND bit: transparent only when the whole block is. XOR bit: the majority of the opaque
      // pixels of the block (of all its pixels when none is opaque), a tie giving 1.
      unsigned count = 0, transparent = 0, opaqueOnes = 0, allOnes = 0;
      for (int y = rows[oy].first; y < rows[oy].end; ++y) {
        for (int x = columns[ox].first; x < columns[ox].end; ++x) {
          const std::size_t at = static_cast<std::size_t>(y) * image.width + x;
          ++count;
          transparent += image.mask[at];
          allOnes += image.xorBits[at];
          if (!image.mask[at]) opaqueOnes += image.xorBits[at];
        }
      }
      const unsigned opaque = count - transparent;
      const bool xorBit = opaque > 0 ? 2 * opaqueOnes >= opaque : 2 * allOnes >= count;
      icon.mask[static_cast<std::size_t>(oy) * kIconSide + ox] = transparent == count ? 1 : 0;
      icon.mask[static_cast<std::size_t>(oy + kIconSide) * kIconSide + ox] = xorBit ? 1 : 0;
    }
  }
  return icon;
}

bool needsNoScaling(const IconPixels& image) {
  const std::size_t pixels = std::size_t{kIconSide} * kIconSide;
  return !image.monochrome && image.width == kIconSide && image.height == kIconSide &&
         image.bgra.size() == pixels * 4 && image.mask.size() == pixels;
}

// A 48x48 colour image, the common case, needs no scaling: its rows are the result as they are.
// Only alpha is taken from the mask where the image has none, as the general path does.
DecodedIcon asIcon48(std::vector<std::uint8_t> bgra, std::vector<std::uint8_t> mask, bool hasAlpha) {
  DecodedIcon icon;
  icon.bgra = std::move(bgra);
  icon.mask = std::move(mask);
  for (std::uint8_t& bit : icon.mask) bit = bit == 1 ? 1 : 0;
  if (hasAlpha) return icon;
  for (std::size_t i = 0; i < icon.mask.size(); ++i) icon.bgra[i * 4 + 3] = icon.mask[i] != 0 ? 0 : 255;
  return icon;
}

}  // namespace

DecodedIcon scaleIconTo48(IconPixels&& image) {
  if (needsNoScaling(image)) return asIcon48(std::move(image.bgra), std::move(image.mask), image.hasAlpha);
  return scaleIconTo48(static_cast<const IconPixels&>(image));
}

DecodedIcon scaleIconTo48(const IconPixels& image) {
  if (needsNoScaling(image)) return asIcon48(image.bgra, image.mask, image.hasAlpha);
  const AxisBlocks columns = blocksFor(image.width);
  const AxisBlocks rows = blocksFor(image.height);
  if (image.monochrome) return scaleMonochrome(image, columns, rows);

  DecodedIcon icon;
  icon.bgra.assign(static_cast<std::size_t>(kIconSide) * kIconSide * 4, 0);
  icon.mask.assign(static_cast<std::size_t>(kIconSide) * kIconSide, 0);
  if (image.width <= kIconSide && image.height <= kIconSide) {
    // Copying or enlarging: every block is one source pixel, whose averages are the pixel itself
    // (colour * alpha / alpha rounds back to the colour), so it is taken as it is. The common
    // 48x48 image thus costs no divisions.
    for (int oy = 0; oy < kIconSide; ++oy) {
      for (int ox = 0; ox < kIconSide; ++ox) {
        const std::size_t at = static_cast<std::size_t>(rows[oy].first) * image.width + columns[ox].first;
        const std::uint8_t* p = image.bgra.data() + at * 4;
        std::uint8_t* out = icon.bgra.data() + (static_cast<std::size_t>(oy) * kIconSide + ox) * 4;
        const bool maskedOut = image.mask[at] == 1;
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
        icon.mask[static_cast<std::size_t>(oy) * kIconSide + ox] = maskedOut ? 1 : 0;
        out[3] = image.hasAlpha ? p[3] : (maskedOut ? 0 : 255);
      }
    }
    return icon;
  }
  for (int oy = 0; oy < kIconSide; ++oy) {
    for (int ox = 0; ox < kIconSide; ++ox) {
      unsigned long long weighted[3] = {0, 0, 0}, plain[3] = {0, 0, 0}, alphaSum = 0;
      unsigned count = 0, transparent = 0;
      for (int y = rows[oy].first; y < rows[oy].end; ++y) {
        for (int x = columns[ox].first; x < columns[ox].end; ++x) {
          const std::size_t at = static_cast<std::size_t>(y) * image.width + x;
          const std::uint8_t* p = image.bgra.data() + at * 4;
          for (int c = 0; c < 3; ++c) {
            weighted[c] += static_cast<unsigned long long>(p[c]) * p[3];
            plain[c] += p[c];
          }
          alphaSum += p[3];
          ++count;
          transparent += image.mask[at];
        }
      }
      std::uint8_t* out = icon.bgra.data() + (static_cast<std::size_t>(oy) * kIconSide + ox) * 4;
      // A block with no alpha at all keeps its plain colour, so a masked pixel's colour survives.
      for (int c = 0; c < 3; ++c) {
        out[c] = static_cast<std::uint8_t>(alphaSum > 0 ? roundedDivide(weighted[c], alphaSum) : roundedDivide(plain[c], count));
      }
      const bool maskedOut = transparent == count;
      icon.mask[static_cast<std::size_t>(oy) * kIconSide + ox] = maskedOut ? 1 : 0;
      out[3] = static_cast<std::uint8_t>(image.hasAlpha ? roundedDivide(alphaSum, count) : (maskedOut ? 0 : 255));
    }
  }
  return icon;
}

}  // namespace platform::posix

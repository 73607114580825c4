// Icon extraction on Linux: our PE resource reader decodes the icon, and the bitmap stand-in
// turns it into what Windows hands back for a 48x48 icon: a 32-bit device-dependent colour
// bitmap and a 1-bit mask, or for a monochrome icon no colour bitmap and a 48x96 mask.
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/Bitmaps.h"
#include "platform/posix/BitmapStandIn.h"
#include "platform/posix/PeResourceReader.h"

namespace platform {
namespace {

constexpr int kSide = 48;
static_assert(kSide % 8 == 0);

// Eight mask bytes (non-zero = bit set) as one byte, the first of them in the most significant
// bit: each byte becomes 0 or 1, and one multiplication gathers the eight into the top byte.
std::uint8_t packEight(const std::uint8_t* in) {
  static_assert(std::endian::native == std::endian::little, "the gathering assumes little-endian words");
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kHigh = 0x8080808080808080ull;
  std::uint64_t word = 0;
  std::memcpy(&word, in, 8);
  const std::uint64_t set = ((((word & kLow7) + kLow7) | word) & kHigh) >> 7;  // 1 in each non-zero byte
  return static_cast<std::uint8_t>((set * 0x8040201008040201ull) >> 56);
}

// Mask bytes (one per pixel, top-down, non-zero = bit set) as 1-bit rows padded to 4 bytes.
std::vector<std::uint8_t> packMask(const std::vector<std::uint8_t>& mask, int rows) {
  constexpr std::size_t stride = (kSide + 31) / 32 * 4;
  std::vector<std::uint8_t> packed(stride * static_cast<std::size_t>(rows), 0);
  const std::uint8_t* in = mask.data();
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* out = packed.data() + stride * static_cast<std::size_t>(y);
    // kSide is a multiple of 8: eight mask bytes make one packed byte.
    for (int x = 0; x < kSide; x += 8, in += 8) *out++ = packEight(in);
  }
  return packed;
}

// Deletes the stand-in bitmaps made here once the icon holds its own copies.
struct BitmapGuard {
  BitmapHandle handle = nullptr;
  ~BitmapGuard() {
    if (handle) deleteObject(handle);
  }
};

}  // namespace

IconHandle extractIcon(const std::u16string& path, int index, int width, int height, std::uint32_t /*flags*/) {
  if (index != 0 || width != kSide || height != kSide) return nullptr;
  const auto decoded = posix::extractIcon48(path);
  if (!decoded) return nullptr;

  const int maskRows = decoded->monochrome ? 2 * kSide : kSide;
  if (decoded->mask.size() != static_cast<std::size_t>(maskRows) * kSide) return nullptr;
  BitmapGuard mask{posix::createDeviceBitmap(kSide, maskRows, 1, packMask(decoded->mask, maskRows))};
  if (!mask.handle) return nullptr;
  if (decoded->monochrome) return posix::createIcon(nullptr, mask.handle);

  if (decoded->bgra.size() != std::size_t{kSide} * kSide * 4) return nullptr;
  BitmapGuard colour{posix::createDeviceBitmap(kSide, kSide, 32, decoded->bgra)};
  if (!colour.handle) return nullptr;
  return posix::createIcon(colour.handle, mask.handle);
}

}  // namespace platform

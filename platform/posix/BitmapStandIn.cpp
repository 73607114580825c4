// Making bitmaps and icons in the Linux stand-in for the Windows bitmap calls (see
// BitmapStandIn.h), and handing an icon's bitmaps out for getIconInfo.
#include "platform/posix/BitmapStandIn.h"

#include <cstring>
#include <limits>
#include <memory>

#include "platform/posix/HandleRegistry.h"
#include "platform/posix/PixelCodec.h"
#include "platform/posix/StandInObjects.h"

namespace platform::posix {
namespace {

constexpr int kMaxSide = 4096;

}  // namespace

BitmapHandle createDeviceBitmap(int width, int height, int bitsPerPixel, std::span<const std::uint8_t> rows) {
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide || !validDepth(bitsPerPixel)) return nullptr;
  const std::size_t stride = rowBytes(width, bitsPerPixel);
  if (rows.size() < stride * static_cast<std::size_t>(height)) return nullptr;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bits = bitsPerPixel;
  bitmap->table = devicePalette(bitsPerPixel);
  bitmap->masks = screenMasks(bitsPerPixel);
  bitmap->bitFields = bitsPerPixel == 16;
  bitmap->rows.resize(stride * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(bitmap->rows.data() + stride * static_cast<std::size_t>(height - 1 - y),
                rows.data() + stride * static_cast<std::size_t>(y), stride);
  return addObject<BitmapHandle>(std::move(bitmap));
}

BitmapHandle createDibSection(const BitmapInfoHeader& header, std::span<const std::uint32_t> colourTable,
                              std::span<const std::uint32_t> masks, std::span<const std::uint8_t> bits) {
  const int bitCount = header.bitCount;
  if (header.height == std::numeric_limits<std::int32_t>::min()) return nullptr;
  const int height = header.height < 0 ? -header.height : header.height;
  if (header.size < 40 || header.planes != 1 || !validDepth(bitCount)) return nullptr;
  if (header.width < 1 || header.width > kMaxSide || height < 1 || height > kMaxSide) return nullptr;
  const bool bitFields = header.compression == kCompressionBitFields;
  if (header.compression != kCompressionRgb && !(bitFields && (bitCount == 16 || bitCount == 32))) return nullptr;
  const std::uint32_t fullTable = bitCount <= 8 ? 1u << bitCount : 0;
  if (header.clrUsed > fullTable && bitCount <= 8) return nullptr;
  const std::size_t tableEntries = bitCount <= 8 ? (header.clrUsed != 0 ? header.clrUsed : fullTable) : 0;
  if (colourTable.size() != tableEntries) return nullptr;
  if (masks.size() != (bitFields ? 3u : 0u)) return nullptr;
  if (bitFields && (masks[0] == 0 || masks[1] == 0 || masks[2] == 0)) return nullptr;
  const std::size_t stride = rowBytes(header.width, bitCount);
  if (bits.size() < stride * static_cast<std::size_t>(height)) return nullptr;

  auto bitmap = std::make_shared<Bitmap>();
  bitmap->deviceIndependent = true;
  bitmap->width = header.width;
  bitmap->height = height;
  bitmap->bits = bitCount;
  bitmap->header = header;
  bitmap->header.size = 40;
  bitmap->header.sizeImage = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height));
  bitmap->table.assign(colourTable.begin(), colourTable.end());
  if (bitCount <= 8) bitmap->table.resize(fullTable, 0);
  bitmap->bitFields = bitFields;
  if (bitFields) bitmap->masks = {masks[0], masks[1], masks[2]};
  else if (bitCount > 8) bitmap->masks = plainMasks(bitCount);
  bitmap->rows.resize(stride * static_cast<std::size_t>(height));
  const bool topDown = header.height < 0;
  for (int y = 0; y < height; ++y) {
    const int target = topDown ? height - 1 - y : y;
    std::memcpy(bitmap->rows.data() + stride * static_cast<std::size_t>(target),
                bits.data() + stride * static_cast<std::size_t>(y), stride);
  }
  return addObject<BitmapHandle>(std::move(bitmap));
}

IconHandle createIcon(BitmapHandle colour, BitmapHandle mask) {
  auto maskBitmap = findObject(mask);
  if (!maskBitmap) return nullptr;
  std::shared_ptr<const Bitmap> colourBitmap;
  if (colour != nullptr) {
    colourBitmap = findObject(colour);
    if (!colourBitmap) return nullptr;
  }
  return addObject<IconHandle>(std::make_shared<const Icon>(std::move(colourBitmap), std::move(maskBitmap)));
}

bool Icon::handOut(IconInfo& info) const {
  info.mask = addObject<BitmapHandle>(mask_);
  if (colour_) info.colour = addObject<BitmapHandle>(colour_);
  return true;
}

std::size_t liveBitmapCount() { return liveObjectCount<BitmapHandle>(); }
std::size_t liveIconCount() { return liveObjectCount<IconHandle>(); }
std::size_t liveDeviceContextCount() { return liveObjectCount<DeviceContextHandle>(); }

}  // namespace platform::posix

// The Linux stand-in for the Windows icon and bitmap calls: objects live in the stand-in's handle
// table (HandleRegistry.h) and are described and read back with the contracts of GetIconInfo,
// GetObjectW and GetDIBits; PixelCodec.h converts rows between formats.
#include "platform/Bitmaps.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/posix/HandleRegistry.h"
#include "platform/posix/PixelCodec.h"
#include "platform/posix/StandInObjects.h"

namespace platform {

bool getIconInfo(IconHandle icon, IconInfo& info) {
  const auto found = posix::findObject(icon);
  if (!found) return false;
  IconInfo handedOut;  // an icon, no hot spot
  if (!found->handOut(handedOut)) return false;
  info = handedOut;
  return true;
}

int getObject(BitmapHandle handle, int bufferSize, void* buffer) {
  const auto bitmap = posix::findObject(handle);
  if (!bitmap || buffer == nullptr) return 0;
  if (bufferSize < static_cast<int>(sizeof(BitmapDescription))) return 0;
  BitmapDescription description;
  description.type = 0;
  description.width = bitmap->width;
  description.height = bitmap->height;
  // Device-dependent rows are padded to 16 bits, section rows to 32 bits.
  description.widthBytes = bitmap->deviceIndependent
                               ? static_cast<std::int32_t>(posix::rowBytes(bitmap->width, bitmap->bits))
                               : (bitmap->width * bitmap->bits + 15) / 16 * 2;
  description.planes = 1;
  description.bitsPixel = static_cast<std::uint16_t>(bitmap->bits);
  if (bitmap->deviceIndependent) description.bits = const_cast<std::uint8_t*>(bitmap->rows.data());
  if (!bitmap->deviceIndependent || bufferSize < static_cast<int>(sizeof(DibSectionDescription))) {
    std::memcpy(buffer, &description, sizeof description);
    return sizeof description;
  }
  DibSectionDescription section;
  section.bitmap = description;
  section.header = bitmap->header;
  if (bitmap->bitFields) std::copy(bitmap->masks.begin(), bitmap->masks.end(), section.bitFields);
  std::memcpy(buffer, &section, sizeof section);
  return sizeof section;
}

DeviceContextHandle createCompatibleDC(DeviceContextHandle compatibleWith) {
  if (compatibleWith != nullptr && !posix::findObject(compatibleWith)) return nullptr;
  return posix::addObject<DeviceContextHandle>(std::make_shared<const posix::DeviceContext>());
}

bool deleteDC(DeviceContextHandle context) {
  return posix::removeObject(context);
}

int getDIBits(DeviceContextHandle context, BitmapHandle handle, std::uint32_t startScan, std::uint32_t scanLines,
              void* bits, void* bitmapInfo, std::uint32_t usage) {
  if (!posix::findObject(context)) return 0;
  const auto bitmap = posix::findObject(handle);
  if (!bitmap || bitmapInfo == nullptr || usage != kRgbColours) return 0;

  BitmapInfoHeader header;
  std::memcpy(&header, bitmapInfo, sizeof header);
  const posix::PixelFormat format{header.bitCount, header.compression == kCompressionBitFields};
  if (header.size < 40 || !posix::validDepth(format.bits)) return 0;
  if (header.compression != kCompressionRgb && !(format.bitFields && (format.bits == 16 || format.bits == 32)))
    return 0;
  if (header.width != bitmap->width || header.height == 0 || header.height == std::numeric_limits<std::int32_t>::min())
    return 0;
  const std::uint32_t wantedRows = static_cast<std::uint32_t>(header.height < 0 ? -header.height : header.height);
  const auto height = static_cast<std::uint32_t>(bitmap->height);
  if (startScan >= height) return 0;
  const std::uint32_t lines = std::min({scanLines, wantedRows, height - startScan});

  const posix::RowLayout layout = posix::layoutFor(*bitmap, format);
  auto* after = static_cast<std::uint8_t*>(bitmapInfo) + header.size;
  if (format.bits <= 8) {
    const std::size_t full = std::size_t{1} << format.bits;
    const std::size_t entries = header.clrUsed != 0 ? std::min<std::size_t>(header.clrUsed, full) : full;
    for (std::size_t i = 0; i < entries; ++i) {
      const std::uint32_t entry = i < layout.table.size() ? layout.table[i] & 0xFFFFFFu : 0;
      std::memcpy(after + 4 * i, &entry, 4);
    }
  } else if (format.bitFields) {
    std::memcpy(after, layout.masks.data(), 12);
  }
  const std::size_t stride = posix::rowBytes(bitmap->width, format.bits);
  if (header.sizeImage == 0) {
    header.sizeImage = static_cast<std::uint32_t>(stride * wantedRows);
    std::memcpy(bitmapInfo, &header, sizeof header);
  }
  if (bits == nullptr) return static_cast<int>(height);
  if (lines == 0) return 0;

  const std::size_t sourceStride = posix::rowBytes(bitmap->width, bitmap->bits);
  auto* out = static_cast<std::uint8_t*>(bits);
  for (std::uint32_t k = 0; k < lines; ++k) {
    const std::uint32_t sourceRow = header.height < 0 ? startScan + lines - 1 - k : startScan + k;
    const std::uint8_t* source = bitmap->rows.data() + sourceStride * sourceRow;
    std::uint8_t* target = out + stride * k;
    if (layout.copy) {
      std::memcpy(target, source, stride);
      continue;
    }
    std::memset(target, 0, stride);
    posix::convertRow(*bitmap, source, target, format, layout);
  }
  return static_cast<int>(lines);
}

bool deleteObject(BitmapHandle bitmap) {
  return posix::removeObject(bitmap);
}

bool destroyIcon(IconHandle icon) {
  return posix::removeObject(icon);
}

}  // namespace platform

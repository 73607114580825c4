// An icon handle's bitmaps read back through GDI as the values the ICO writer lays out.
#include "platform/win32/IconReadBack.h"

#include <cstring>
#include <limits>
#include <optional>

#include "platform/executable/BitmapRows.h"

namespace platform::win32 {
namespace {

static_assert(sizeof(BitmapInfoHeader) == sizeof(BITMAPINFOHEADER));

// The bitmaps GetIconInfo made, deleted however the read ends.
struct IconParts {
  ICONINFO info{};
  ~IconParts() {
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  }
};

// Bytes of the header's rows at its width, height and bit count, each row padded to 32 bits.
std::uint64_t rowsSize(const BitmapInfoHeader& header) {
  return executable::rowBytes(static_cast<std::uint32_t>(header.width), header.bitCount) *
         static_cast<std::uint32_t>(header.height);
}

// Which of the icon's two bitmaps is described: they are read back at different depths.
enum class IconPart { Mask, Colour };

// The header `bitmap` is read back with: the mask at 1 bit per pixel, the colour bitmap at
// planes x bits per pixel. Nothing when the system cannot describe it.
std::optional<BitmapInfoHeader> describe(HBITMAP bitmap, IconPart part) {
  DIBSECTION description{};
  const int written = GetObjectW(bitmap, sizeof description, &description);
  if (written == 0) return std::nullopt;
  BitmapInfoHeader header;
  constexpr int kSectionHeaderEnd = static_cast<int>(offsetof(DIBSECTION, dsBmih) + sizeof(BITMAPINFOHEADER));
  if (written >= kSectionHeaderEnd && description.dsBmih.biSize >= sizeof header) {
    std::memcpy(static_cast<void*>(&header), &description.dsBmih, sizeof header);
  } else {
    header.width = description.dsBm.bmWidth;
    header.height = description.dsBm.bmHeight;
  }
  header.size = sizeof header;
  // A section stored top-down says so with a negative height; the file wants bottom-up rows.
  if (header.height == std::numeric_limits<std::int32_t>::min()) return std::nullopt;
  if (header.height < 0) header.height = -header.height;
  header.bitCount = part == IconPart::Mask
                        ? 1
                        : static_cast<std::uint16_t>(description.dsBm.bmPlanes * description.dsBm.bmBitsPixel);
  header.planes = 1;
  if (header.clrUsed < header.clrImportant) header.clrImportant = header.clrUsed;
  if (header.sizeImage == 0) header.sizeImage = static_cast<std::uint32_t>(rowsSize(header));
  return header;
}

// Bytes of the header with its colour table (8 bits or less) or three masks (bit-fields).
std::size_t infoSize(const BitmapInfoHeader& header) {
  if (header.bitCount <= 8) {
    return sizeof header + 4 * std::size_t{header.clrUsed != 0 ? header.clrUsed : 1u << header.bitCount};
  }
  return sizeof header + ((header.compression & 3) != 0 ? 12 : 0);
}

// A memory device context for GetDIBits, deleted however the read ends.
struct MemoryContext {
  HDC handle = CreateCompatibleDC(nullptr);
  MemoryContext() = default;
  MemoryContext(const MemoryContext&) = delete;
  MemoryContext& operator=(const MemoryContext&) = delete;
  ~MemoryContext() {
    if (handle) DeleteDC(handle);
  }
};

struct ReadBack {
  std::vector<std::uint8_t> info;
  std::vector<std::uint8_t> rows;
};

// The bitmap's header, table and rows as GetDIBits fills them (its result is not looked at:
// rows it did not fill stay zero, as they always have).
ReadBack readBack(HBITMAP bitmap, const BitmapInfoHeader& header) {
  ReadBack read{std::vector<std::uint8_t>(infoSize(header), 0), std::vector<std::uint8_t>(header.sizeImage, 0)};
  std::memcpy(read.info.data(), &header, sizeof header);
  if (read.rows.size() < rowsSize(header)) return read;
  const MemoryContext context;
  if (!context.handle) return read;
  GetDIBits(context.handle, bitmap, 0, static_cast<UINT>(header.height), read.rows.data(),
            reinterpret_cast<BITMAPINFO*>(read.info.data()), DIB_RGB_COLORS);
  return read;
}

}  // namespace

IconBitmaps readIconBitmaps(HICON icon) {
  IconParts parts;
  if (icon == nullptr || !GetIconInfo(icon, &parts.info)) return {};
  const auto maskHeader = describe(parts.info.hbmMask, IconPart::Mask);
  if (!maskHeader) return {};
  std::optional<BitmapInfoHeader> colourHeader;
  if (parts.info.hbmColor) {
    colourHeader = describe(parts.info.hbmColor, IconPart::Colour);
    if (!colourHeader) return {};
  }
  IconBitmaps bitmaps;
  ReadBack mask = readBack(parts.info.hbmMask, *maskHeader);
  BitmapInfoHeader maskRead;
  std::memcpy(&maskRead, mask.info.data(), sizeof maskRead);
  bitmaps.maskWidth = maskRead.width;
  bitmaps.maskHeight = maskRead.height;
  bitmaps.maskRows = std::move(mask.rows);
  if (colourHeader) {
    ReadBack colour = readBack(parts.info.hbmColor, *colourHeader);
    bitmaps.colourInfo = std::move(colour.info);
    bitmaps.colourRows = std::move(colour.rows);
  }
  return bitmaps;
}

}  // namespace platform::win32

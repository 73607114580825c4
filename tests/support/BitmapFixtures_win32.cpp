// Bitmaps and icons for tests on Windows: made by GDI and USER themselves, so the Windows layer's
// read-back is tested on what the system hands out.
#include "tests/support/BitmapFixtures.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace testsupport {
namespace {

// The icons made here, so that their live ones can be counted (Wine counts no USER objects).
std::mutex iconsLock;
std::set<HICON> iconsMade;

bool iconAlive(HICON icon) {
  ICONINFO info {};
  if (!GetIconInfo(icon, &info)) return false;
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return true;
}

// The rows of a device-dependent bitmap as CreateBitmap takes them: padded to 2 bytes, not 4.
std::vector<std::uint8_t> wordAlignedRows(int width, int height, int bitsPerPixel, std::span<const std::uint8_t> rows) {
  const std::size_t fromStride = (static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32 * 4;
  const std::size_t toStride = (static_cast<std::size_t>(width) * bitsPerPixel + 15) / 16 * 2;
  std::vector<std::uint8_t> out(toStride * static_cast<std::size_t>(height), 0);
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
    std::memcpy(out.data() + y * toStride, rows.data() + y * fromStride, toStride);
  return out;
}

}  // namespace

// What a DIB of that depth reads back from a device-dependent bitmap of the same depth: the
// table GetDIBits writes for it, asked of the system.
std::vector<std::uint32_t> devicePalette(int bitsPerPixel) {
  std::vector<std::uint32_t> table;
  const int entries = 1 << bitsPerPixel;
  const HBITMAP probe = CreateBitmap(1, 1, 1, static_cast<UINT>(bitsPerPixel), nullptr);
  const HDC context = CreateCompatibleDC(nullptr);
  std::vector<std::uint8_t> info(sizeof(BITMAPINFOHEADER) + 4 * static_cast<std::size_t>(entries), 0);
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = 1;
  header->biHeight = 1;
  header->biPlanes = 1;
  header->biBitCount = static_cast<WORD>(bitsPerPixel);
  header->biCompression = BI_RGB;
  std::uint32_t pixel = 0;
  if (probe && context && GetDIBits(context, probe, 0, 1, &pixel, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS)) {
    for (int i = 0; i < entries; ++i) {
      std::uint32_t entry = 0;
      std::memcpy(&entry, info.data() + sizeof(BITMAPINFOHEADER) + 4 * static_cast<std::size_t>(i), 4);
      table.push_back(entry & 0xFFFFFF);
    }
  }
  if (context) DeleteDC(context);
  if (probe) DeleteObject(probe);
  return table;
}

HBITMAP createDeviceBitmap(int width, int height, int bitsPerPixel, std::span<const std::uint8_t> rows) {
  const std::size_t stride = (static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32 * 4;
  if (width <= 0 || height <= 0 || rows.size() < stride * static_cast<std::size_t>(height)) return nullptr;
  const std::vector<std::uint8_t> packed = wordAlignedRows(width, height, bitsPerPixel, rows);
  return CreateBitmap(width, height, 1, static_cast<UINT>(bitsPerPixel), packed.data());
}

HBITMAP createDibSection(const platform::BitmapInfoHeader& header, std::span<const std::uint32_t> colourTable,
                         std::span<const std::uint32_t> masks, std::span<const std::uint8_t> bits) {
  static_assert(sizeof(platform::BitmapInfoHeader) == sizeof(BITMAPINFOHEADER));
  std::vector<std::uint8_t> info(sizeof(BITMAPINFOHEADER) + 4 * (colourTable.size() + masks.size()), 0);
  std::memcpy(info.data(), &header, sizeof header);
  std::uint8_t* after = info.data() + sizeof(BITMAPINFOHEADER);
  if (!colourTable.empty()) std::memcpy(after, colourTable.data(), 4 * colourTable.size());
  if (!masks.empty()) std::memcpy(after, masks.data(), 4 * masks.size());
  void* pixels = nullptr;
  const HBITMAP section =
      CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!section || !pixels) return nullptr;
  const std::size_t height = static_cast<std::size_t>(header.height < 0 ? -header.height : header.height);
  const std::size_t stride = (static_cast<std::size_t>(header.width) * header.bitCount + 31) / 32 * 4;
  std::memcpy(pixels, bits.data(), std::min(bits.size(), stride * height));
  GdiFlush();
  return section;
}

HICON createIcon(HBITMAP colour, HBITMAP mask) {
  ICONINFO info {};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = colour;
  const HICON icon = CreateIconIndirect(&info);
  if (icon) {
    std::lock_guard guard(iconsLock);
    iconsMade.insert(icon);
  }
  return icon;
}

// GDI objects: the system's own count for this process (device contexts are GDI objects too, so
// they show in it). Icons: those made here that are still alive;
// icons handed out by extraction are not in it, and a test that counts around them sees no change
// either way. A handle destroyed and made again by the system counts once.
std::size_t liveBitmapCount() { return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); }
std::size_t liveIconCount() {
  std::lock_guard guard(iconsLock);
  return static_cast<std::size_t>(std::count_if(iconsMade.begin(), iconsMade.end(), iconAlive));
}

}  // namespace testsupport

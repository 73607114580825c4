// Icons and bitmaps on Windows: PrivateExtractIconsW, GetIconInfo and the GDI calls, with the
// seam's records passed straight through as the system's own (their layouts are checked below).
// The system's icon parser reads only files that the shared reader of executables has checked,
// while the file is held against replacement.
#include "platform/Bitmaps.h"

#include <cstddef>

#include "platform/executable/ExecutableResources.h"
#include "platform/executable/HeldExecutable.h"
#include "platform/win32/RegularFile.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

// The seam's records are the system's records, field for field.
static_assert(sizeof(BitmapDescription) == sizeof(BITMAP) && sizeof(BITMAP) == 32);
static_assert(offsetof(BitmapDescription, widthBytes) == offsetof(BITMAP, bmWidthBytes));
static_assert(offsetof(BitmapDescription, planes) == offsetof(BITMAP, bmPlanes));
static_assert(offsetof(BitmapDescription, bitsPixel) == offsetof(BITMAP, bmBitsPixel));
static_assert(offsetof(BitmapDescription, bits) == offsetof(BITMAP, bmBits));
static_assert(sizeof(BitmapInfoHeader) == sizeof(BITMAPINFOHEADER) && sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BitmapInfoHeader, compression) == offsetof(BITMAPINFOHEADER, biCompression));
static_assert(offsetof(BitmapInfoHeader, clrImportant) == offsetof(BITMAPINFOHEADER, biClrImportant));
static_assert(sizeof(DibSectionDescription) == sizeof(DIBSECTION) && sizeof(DIBSECTION) == 104);
static_assert(offsetof(DibSectionDescription, header) == offsetof(DIBSECTION, dsBmih));
static_assert(offsetof(DibSectionDescription, bitFields) == offsetof(DIBSECTION, dsBitfields));
static_assert(offsetof(DibSectionDescription, section) == offsetof(DIBSECTION, dshSection));
static_assert(offsetof(DibSectionDescription, offset) == offsetof(DIBSECTION, dsOffset));
static_assert(sizeof(IconInfo) == sizeof(ICONINFO));
static_assert(sizeof(IconInfo::isIcon) == sizeof(BOOL) && offsetof(IconInfo, isIcon) == offsetof(ICONINFO, fIcon));
static_assert(offsetof(IconInfo, xHotspot) == offsetof(ICONINFO, xHotspot));
static_assert(offsetof(IconInfo, mask) == offsetof(ICONINFO, hbmMask));
static_assert(offsetof(IconInfo, colour) == offsetof(ICONINFO, hbmColor));
static_assert(kCompressionRgb == BI_RGB && kCompressionBitFields == BI_BITFIELDS && kRgbColours == DIB_RGB_COLORS);
static_assert(kLoadTransparent == LR_LOADTRANSPARENT);

HICON toIcon(IconHandle icon) { return reinterpret_cast<HICON>(icon); }
HBITMAP toBitmap(BitmapHandle bitmap) { return reinterpret_cast<HBITMAP>(bitmap); }
HDC toContext(DeviceContextHandle context) { return reinterpret_cast<HDC>(context); }

}  // namespace

IconHandle extractIcon(const std::u16string& path, int index, int width, int height, std::uint32_t flags) {
  // Only index 0 is checked (the first icon group), so no other index is handed to the system.
  if (index != 0) return nullptr;
  // Held from here until the row's version read: nobody may write, delete or rename the file, so
  // the system reads the very bytes checked here, and the version read finds the same file. The
  // system's own open (for reading) is allowed by that sharing. A path that is not a regular file
  // gives no icon without being opened.
  auto file = executable::openForIconRead(path, win32::isRegularFile);
  if (!file || !executable::checkedIconImage(*file)) return nullptr;
  HICON icon = nullptr;
  // Only the handle slot is looked at: the returned count differs between system versions.
  PrivateExtractIconsW(win32::wide(path), index, width, height, &icon, nullptr, 1, flags);
  // Without an icon the pass reads no version, so the file is let go at once.
  if (icon != nullptr) executable::keepForVersionRead(path, std::move(file));
  return reinterpret_cast<IconHandle>(icon);
}

bool getIconInfo(IconHandle icon, IconInfo& info) {
  ICONINFO native{};
  if (icon == nullptr || !GetIconInfo(toIcon(icon), &native)) return false;
  info.isIcon = native.fIcon;
  info.xHotspot = native.xHotspot;
  info.yHotspot = native.yHotspot;
  info.mask = reinterpret_cast<BitmapHandle>(native.hbmMask);
  info.colour = reinterpret_cast<BitmapHandle>(native.hbmColor);
  return true;
}

int getObject(BitmapHandle bitmap, int bufferSize, void* buffer) {
  if (bitmap == nullptr) return 0;
  return GetObjectW(toBitmap(bitmap), bufferSize, buffer);
}

DeviceContextHandle createCompatibleDC(DeviceContextHandle compatibleWith) {
  return reinterpret_cast<DeviceContextHandle>(CreateCompatibleDC(toContext(compatibleWith)));
}

bool deleteDC(DeviceContextHandle context) { return context != nullptr && DeleteDC(toContext(context)) != 0; }

int getDIBits(DeviceContextHandle context, BitmapHandle bitmap, std::uint32_t startScan, std::uint32_t scanLines,
              void* bits, void* bitmapInfo, std::uint32_t usage) {
  if (bitmap == nullptr || bitmapInfo == nullptr) return 0;
  return GetDIBits(toContext(context), toBitmap(bitmap), startScan, scanLines, bits,
                   static_cast<BITMAPINFO*>(bitmapInfo), usage);
}

bool deleteObject(BitmapHandle bitmap) { return bitmap != nullptr && DeleteObject(toBitmap(bitmap)) != 0; }

bool destroyIcon(IconHandle icon) { return icon != nullptr && DestroyIcon(toIcon(icon)) != 0; }

}  // namespace platform

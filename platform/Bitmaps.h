// Icons and bitmaps: taking an icon out of an executable and reading its bitmaps back.
//
// The calls keep the shape of the Windows user-interface and GDI calls they stand for
// (PrivateExtractIconsW, GetIconInfo, GetObjectW, CreateCompatibleDC, GetDIBits, DeleteObject,
// DeleteDC, DestroyIcon), and the records they fill are laid out like the Windows records, so the
// Windows build passes them straight through. On Linux an in-memory stand-in honours the same
// contracts (see posix/BitmapStandIn.h for what tests may create in it).
//
// Handles are opaque; a null handle means "none". Whoever receives a handle owns it and releases
// it with the matching call: icons with destroyIcon, bitmaps with deleteObject, device contexts
// with deleteDC.
//
// How the upload pass uses this:
//   platform::IconHandle icon = platform::extractIcon(exePath, 0, 48, 48, platform::kLoadTransparent);
//   if (icon) { imaging::TIcon owner; owner.AssignHandle(icon); owner.SaveIconFile(icoPath); }
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct OpaqueIcon;
struct OpaqueBitmap;
struct OpaqueDeviceContext;
using IconHandle = OpaqueIcon*;
using BitmapHandle = OpaqueBitmap*;
using DeviceContextHandle = OpaqueDeviceContext*;

// Flags of extractIcon: load the icon with its transparency (LR_LOADTRANSPARENT).
inline constexpr std::uint32_t kLoadTransparent = 0x20;

// Compression values of a bitmap header.
inline constexpr std::uint32_t kCompressionRgb = 0;        // BI_RGB: plain pixels
inline constexpr std::uint32_t kCompressionBitFields = 3;  // BI_BITFIELDS: pixels described by three masks

// Colour-table usage of getDIBits: the table holds literal colours (DIB_RGB_COLORS).
inline constexpr std::uint32_t kRgbColours = 0;

// The description of any bitmap (the Windows BITMAP record).
struct BitmapDescription {
  std::int32_t type = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t widthBytes = 0;  // bytes per row of the bitmap's own storage
  std::uint16_t planes = 0;
  std::uint16_t bitsPixel = 0;
  void* bits = nullptr;
};

// The device-independent bitmap information header (BITMAPINFOHEADER), 40 bytes, as stored in
// BMP and ICO files. The colour table (4 bytes per entry: blue, green, red, 0) or the three
// bit-field masks follow it in memory and in files.
struct BitmapInfoHeader {
  std::uint32_t size = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;  // negative: rows stored top-down
  std::uint16_t planes = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = 0;
  std::uint32_t sizeImage = 0;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t clrUsed = 0;
  std::uint32_t clrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// The description of a device-independent bitmap section (the Windows DIBSECTION record): the
// common description, the section's own header, its three bit-field masks, section and offset.
struct DibSectionDescription {
  BitmapDescription bitmap;
  BitmapInfoHeader header;
  std::uint32_t bitFields[3] = {0, 0, 0};
  void* section = nullptr;
  std::uint32_t offset = 0;
};

// Bytes of a description that reach through the section's header: a getObject result at least
// this large means the bitmap is a device-independent section.
inline constexpr int kDibSectionHeaderEnd =
    static_cast<int>(offsetof(DibSectionDescription, header) + sizeof(BitmapInfoHeader));

// The two bitmaps of an icon (the Windows ICONINFO record, whose first field is a 4-byte BOOL).
struct IconInfo {
  std::int32_t isIcon = 1;  // non-zero: an icon, zero: a cursor
  std::uint32_t xHotspot = 0;
  std::uint32_t yHotspot = 0;
  BitmapHandle mask = nullptr;    // 1 bit per pixel; twice the icon's height when colour is none
  BitmapHandle colour = nullptr;  // none for a monochrome icon
};

// Takes icon `index` of the executable (or .ico file) at `path` at `width` x `height` pixels.
// `flags` are the extraction flags (the pass passes kLoadTransparent). Returns the icon, which
// the caller owns and releases with destroyIcon, or none when the file has no such icon. On Linux
// only index 0 at 48x48 is answered (what the pass asks for); every other request gives none.
IconHandle extractIcon(const std::u16string& path, int index, int width, int height, std::uint32_t flags);

// Fills `info` with new copies of the icon's mask and colour bitmaps, which the caller deletes
// with deleteObject. False (and nothing to delete) when `icon` is not a live icon.
bool getIconInfo(IconHandle icon, IconInfo& info);

// Describes `bitmap` into `buffer` of `bufferSize` bytes (GetObjectW). A device-dependent bitmap
// writes a BitmapDescription; a device-independent section writes a whole DibSectionDescription
// when the buffer holds one, else just its BitmapDescription. Returns the bytes written; 0 when
// `bitmap` is not a live bitmap or the buffer is smaller than a BitmapDescription.
int getObject(BitmapHandle bitmap, int bufferSize, void* buffer);

// A memory device context compatible with the screen (`compatibleWith` none), released with
// deleteDC. None when it cannot be made.
DeviceContextHandle createCompatibleDC(DeviceContextHandle compatibleWith);
bool deleteDC(DeviceContextHandle context);

// Reads rows of `bitmap` (GetDIBits). `bitmapInfo` points at a BitmapInfoHeader whose size is at
// least 40 and whose width, height, bit count (1, 4, 8, 16, 24 or 32) and compression (RGB, or
// bit-fields at 16 and 32 bits) say which format is wanted; a negative height asks for top-down
// rows. Rows `startScan` .. `startScan + scanLines` (counted from the bottom, clipped to the
// bitmap) go to `bits`, each padded to a multiple of 4 bytes. After the header it writes the
// colour table at 8 bits or less (the header's clrUsed entries, or 2 to the power of the bit
// count when clrUsed is 0, at most that power) or the three masks for bit-fields; nothing else.
// With `bits` none it only fills the header's size fields and the table. `usage` is
// kRgbColours. Returns the number of rows written (non-zero on success), 0 on failure.
int getDIBits(DeviceContextHandle context, BitmapHandle bitmap, std::uint32_t startScan, std::uint32_t scanLines,
              void* bits, void* bitmapInfo, std::uint32_t usage);

// Releases a bitmap handed out by getIconInfo (or made by the Linux stand-in). False when
// `bitmap` is not a live bitmap.
bool deleteObject(BitmapHandle bitmap);

// Releases an icon handed out by extractIcon. False when `icon` is not a live icon.
bool destroyIcon(IconHandle icon);

}  // namespace platform

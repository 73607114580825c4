// An icon's bitmaps as plain values: what the platform hands the upload pass for a row's 48x48
// icon, and what the ICO writer lays out as a file. Made by the system's icon and GDI calls on
// Windows (win32/Executable.cpp), straight from the decoded image on Linux (posix/Executable.cpp).
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

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

// The bitmaps of one icon exactly as the system reads them back (GetDIBits, rows bottom-up, each
// padded to a multiple of 4 bytes). A colour icon has a colour bitmap (its 40-byte header, then
// its colour table or three masks, in `colourInfo`; its rows in `colourRows`) and a 1-bit mask of
// the same size. A monochrome icon has no colour bitmap (`colourInfo` empty) and a mask of twice
// the icon's height: read bottom-up, the XOR half's rows come first, then the AND half's.
// Rows the system did not fill are zero. An icon whose bitmaps the system would not hand out or
// describe has `maskWidth` 0: the ICO writer refuses it.
struct IconBitmaps {
  std::vector<std::uint8_t> colourInfo;
  std::vector<std::uint8_t> colourRows;
  std::int32_t maskWidth = 0;
  std::int32_t maskHeight = 0;
  std::vector<std::uint8_t> maskRows;

  bool monochrome() const { return colourInfo.empty(); }
};

}  // namespace platform

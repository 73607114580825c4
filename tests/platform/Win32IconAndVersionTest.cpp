// The Windows executable on files made by the PE writer: the icon's bitmaps as PrivateExtractIconsW,
// GetIconInfo, GetObjectW and GetDIBits give them, and the version words through
// GetFileVersionInfoW and VerQueryValueW. Paths that are not regular files give nothing, at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Executable.h"
#include "platform/Utf8.h"
#include "platform/win32/IconReadBack.h"
#include "platform/win32/Win32Text.h"
#include "tests/support/PeWriter.h"
#include "tests/support/PngKinds.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr int kSide = 48;

// Every pixel different, with alpha from opaque to clear, so that a shifted row, a swapped
// channel or a lost alpha shows.
std::vector<std::uint32_t> patternPixels() {
  std::vector<std::uint32_t> pixels;
  for (std::uint32_t y = 0; y < kSide; ++y)
    for (std::uint32_t x = 0; x < kSide; ++x)
      pixels.push_back(((255 - x * 5) << 24) | ((x * 5) << 16) | ((y * 5) << 8) | ((x + y) & 0xFF));
  return pixels;
}

// An icon the system extracted, destroyed whatever the test asserted.
struct Extracted {
  HICON icon = nullptr;
  explicit Extracted(const std::u16string& path) {
    PrivateExtractIconsW(platform::win32::wide(path), 0, kSide, kSide, &icon, nullptr, 1, LR_LOADTRANSPARENT);
  }
  ~Extracted() {
    if (icon) DestroyIcon(icon);
  }
};

// The 40-byte header at the start of a bitmap's info.
platform::BitmapInfoHeader headerOf(const std::vector<std::uint8_t>& info) {
  platform::BitmapInfoHeader header;
  if (info.size() >= sizeof header) std::memcpy(&header, info.data(), sizeof header);
  return header;
}

// The icon drawn by the system itself (DrawIconEx, DI_NORMAL) into a 32-bit DIB section filled with
// `background`: 0x00RRGGBB per pixel, top row first.
std::vector<std::uint32_t> drawnOn(HICON icon, std::uint32_t background) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kSide;
  info.bmiHeader.biHeight = -kSide;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const HDC context = CreateCompatibleDC(nullptr);
  const HBITMAP section = CreateDIBSection(context, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<std::uint32_t> pixels;
  if (section != nullptr) {
    const HGDIOBJ previous = SelectObject(context, section);
    std::fill_n(static_cast<std::uint32_t*>(bits), kSide * kSide, background);
    if (DrawIconEx(context, 0, 0, icon, kSide, kSide, 0, nullptr, DI_NORMAL)) {
      GdiFlush();
      pixels.assign(static_cast<std::uint32_t*>(bits), static_cast<std::uint32_t*>(bits) + kSide * kSide);
    }
    SelectObject(context, previous);
    DeleteObject(section);
  }
  DeleteDC(context);
  for (std::uint32_t& p : pixels) p &= 0x00FFFFFF;
  return pixels;
}

std::uint32_t swapRedAndBlue(std::uint32_t argb) {
  return (argb & 0xFF00FF00u) | ((argb >> 16) & 0xFFu) | ((argb & 0xFFu) << 16);
}

// Whether `drawn` (on black, or on white) shows each `argb` pixel alpha-blended over that
// background, within the rounding of the blend.
bool showsBlended(const std::vector<std::uint32_t>& drawn, const std::vector<std::uint32_t>& argb, bool white) {
  if (drawn.size() != argb.size()) return false;
  for (std::size_t i = 0; i < argb.size(); ++i) {
    const int alpha = static_cast<int>(argb[i] >> 24);
    for (const int shift : {0, 8, 16}) {
      const int expected = static_cast<int>((argb[i] >> shift) & 0xFF) * alpha / 255 + (white ? 255 - alpha : 0);
      if (std::abs(static_cast<int>((drawn[i] >> shift) & 0xFF) - expected) > 2) return false;
    }
  }
  return true;
}

}  // namespace

// A 32-bit 48x48 icon comes back as Windows hands it: a 32-bit colour bitmap whose rows read back
// through GetDIBits are those stored, alpha included, and a 1-bit 48x48 mask.
TEST(Win32IconAndVersion, ExtractionHandsBackTheStoredPixelsThroughTheGdiCalls) {
  const testsupport::TempFolder folder;
  const std::vector<std::uint32_t> pixels = patternPixels();
  testsupport::writeIconExecutable(folder.path() / "icon.exe", kSide, pixels, 0x00010002, 0x00030004, u"1.2.3.4");

  const auto bitmaps = platform::Executable(folder.file("icon.exe")).iconBitmaps48();
  ASSERT_TRUE(bitmaps);
  ASSERT_EQ(bitmaps->colourInfo.size(), 40u);
  const platform::BitmapInfoHeader header = headerOf(bitmaps->colourInfo);
  EXPECT_EQ(header.width, kSide);
  EXPECT_EQ(header.height, kSide);
  EXPECT_EQ(header.bitCount, 32);
  EXPECT_EQ(header.sizeImage, std::uint32_t{kSide} * kSide * 4);
  const std::vector<std::uint8_t>& colour = bitmaps->colourRows;
  ASSERT_EQ(colour.size(), std::size_t{kSide} * kSide * 4);
  int mismatches = 0;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const std::uint32_t argb = pixels[static_cast<std::size_t>(kSide - 1 - y) * kSide + x];
      std::uint32_t read = 0;
      std::memcpy(&read, &colour[(static_cast<std::size_t>(y) * kSide + x) * 4], 4);
      if (read != argb && ++mismatches <= 3) ADD_FAILURE() << "pixel " << x << "," << y << std::hex << ": " << read << " != " << argb;
    }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(bitmaps->maskWidth, kSide);
  EXPECT_EQ(bitmaps->maskHeight, kSide);
  EXPECT_EQ(bitmaps->maskRows.size(), std::size_t{8} * kSide);
}

// What the system's icon of a PNG image draws, on black and on white, is what GetDIBits reads back
// from its colour bitmap, so our read of the bitmap is faithful to the system's own icon. Most
// kinds draw as the image itself. Under Wine, PNG images without an alpha channel of their own
// (grey, RGB, and palettes without tRNS; PngKind::wineSwapsColours) draw opaque with red and blue
// swapped, and their colour bitmap holds those colours with alpha 0: the system's decoder under
// Wine is at fault, not our read, so the ICO files the Windows build writes for them differ from
// the Linux build's (which holds the image's own pixels) as a known Wine difference.
TEST(Win32IconAndVersion, PngIconsDrawAsTheirColourBitmapsReadBack) {
  const testsupport::TempFolder folder;
  int kinds = 0;
  for (const testsupport::PngKind& kind : testsupport::pngKinds()) {
    if (!kind.accepted) continue;
    testsupport::PeWriter writer;
    writer.add(3, 1, kind.png);
    writer.add(14, 1, testsupport::iconGroup({{kSide, kSide, 0, 1, 32, static_cast<std::uint32_t>(kind.png.size()), 1}}));
    const std::string name = "png" + std::to_string(kinds++) + ".exe";
    writer.writeTo(folder.path() / name);

    const Extracted extracted(folder.file(name));
    ASSERT_NE(extracted.icon, nullptr) << kind.what;
    const std::vector<std::uint8_t> rows = platform::win32::readIconBitmaps(extracted.icon).colourRows;
    ASSERT_EQ(rows.size(), std::size_t{kSide} * kSide * 4) << kind.what;
    std::vector<std::uint32_t> read(std::size_t{kSide} * kSide);  // top row first, like the kind's pixels
    for (int y = 0; y < kSide; ++y)
      std::memcpy(&read[static_cast<std::size_t>(y) * kSide], &rows[static_cast<std::size_t>(kSide - 1 - y) * kSide * 4],
                  kSide * 4);
    const std::vector<std::uint32_t> onBlack = drawnOn(extracted.icon, 0x000000), onWhite = drawnOn(extracted.icon, 0xFFFFFF);

    // The Wine difference: the image's colours with red and blue swapped, drawn opaque, and read
    // back with alpha 0.
    std::vector<std::uint32_t> swapped, swappedOpaque;
    for (const std::uint32_t p : kind.argb) {
      swapped.push_back(swapRedAndBlue(p) & 0x00FFFFFFu);
      swappedOpaque.push_back(swapRedAndBlue(p) | 0xFF000000u);
    }
    const bool asImage = read == kind.argb && showsBlended(onBlack, kind.argb, false) && showsBlended(onWhite, kind.argb, true);
    const bool asWine = kind.wineSwapsColours && read == swapped && showsBlended(onBlack, swappedOpaque, false) &&
                        showsBlended(onWhite, swappedOpaque, true);
    EXPECT_TRUE(asImage || asWine) << kind.what << ": the colour bitmap read back is not what the icon draws";
    // The evidence, pixels (0, 0) and (36, 0) (opaque, and transparent where the image has alpha or
    // tRNS): the image's, the colour bitmap's read back, and the drawings on black and on white.
    std::printf("%-26s %s\n", kind.what.c_str(),
                asImage ? "as the image" : asWine ? "red and blue swapped, alpha 0 (the system's decoder)" : "-");
    for (const std::size_t at : {std::size_t{0}, std::size_t{36}}) {
      std::printf("  (%2zu, 0): image %08X, read back %08X, drawn on black %06X, on white %06X\n", at, kind.argb[at],
                  read[at], onBlack.size() > at ? onBlack[at] : 0, onWhite.size() > at ? onWhite[at] : 0);
    }
  }
}

// No icon, or one the system has destroyed: bitmaps the ICO writer refuses.
TEST(Win32IconAndVersion, DeadIconsGiveBitmapsTheWriterRefuses) {
  EXPECT_EQ(platform::win32::readIconBitmaps(nullptr).maskWidth, 0);
  const testsupport::TempFolder folder;
  testsupport::writeIconExecutable(folder.path() / "icon.exe", kSide, patternPixels(), 0x00010002, 0x00030004, u"x");
  HICON icon = Extracted(folder.file("icon.exe")).icon;  // destroyed at the end of the statement
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(platform::win32::readIconBitmaps(icon).maskWidth, 0);
}

// The version words of the fixed record, whatever the string table says; ends of the range
// survive; both PE flavours are read.
TEST(Win32IconAndVersion, VersionWordsComeFromTheFixedRecord) {
  const testsupport::TempFolder folder;
  testsupport::writeIconExecutable(folder.path() / "v.exe", kSide, patternPixels(), 0x00010002, 0x00030004, u"9.9.9.9");
  const auto words = platform::Executable(folder.file("v.exe")).fileVersionWords();
  ASSERT_TRUE(words.has_value());
  EXPECT_EQ(words->mostSignificant, 0x00010002u);
  EXPECT_EQ(words->leastSignificant, 0x00030004u);

  testsupport::PeWriter writer(true);
  writer.add(16, 1, testsupport::versionResource(0xFFFF0000, 0x0000FFFF, u"65535.0.0.65535"));
  writer.writeTo(folder.path() / "plus.exe");
  const auto wide = platform::Executable(folder.file("plus.exe")).fileVersionWords();
  ASSERT_TRUE(wide.has_value());
  EXPECT_EQ(wide->mostSignificant, 0xFFFF0000u);
  EXPECT_EQ(wide->leastSignificant, 0x0000FFFFu);
}

// Without a version resource, a missing file, a folder, a device or a pipe: nothing, and no
// icon either. The pipe has a server that never writes, so a read of it would wait forever.
TEST(Win32IconAndVersion, WhatIsNotARegularFileGivesNeitherIconNorVersion) {
  const testsupport::TempFolder folder;
  testsupport::PeWriter bare;
  bare.omitResourceDirectory();
  bare.writeTo(folder.path() / "bare.exe");
  const std::wstring pipeName = L"\\\\.\\pipe\\talvenook-test-" + std::to_wstring(GetCurrentProcessId());
  const HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 4, 512, 512,
                                       0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);

  const std::u16string pipePath(reinterpret_cast<const char16_t*>(pipeName.c_str()));
  for (const std::u16string& path : {folder.file("bare.exe"), folder.file("missing.exe"), folder.file(""),
                                     std::u16string(u"NUL"), std::u16string(u"CON"), pipePath}) {
    const platform::Executable executable(path);
    EXPECT_FALSE(executable.fileVersionWords().has_value());
    EXPECT_FALSE(executable.iconBitmaps48().has_value());
  }
  CloseHandle(pipe);
}

// The system's own programs are read like any other, also under the long-path form "\\?\".
TEST(Win32IconAndVersion, TheSystemsOwnProgramsGiveIconAndVersion) {
  wchar_t folder[MAX_PATH] = {};
  ASSERT_GT(GetWindowsDirectoryW(folder, MAX_PATH), 0u);
  const std::u16string regedit = platform::win32::fromWide(folder) + u"\\regedit.exe";
  for (const std::u16string& path : {regedit, u"\\\\?\\" + regedit}) {
    const platform::Executable executable(path);
    EXPECT_TRUE(executable.iconBitmaps48().has_value());
    const auto words = executable.fileVersionWords();
    ASSERT_TRUE(words.has_value()) << platform::utf16ToUtf8(path);
    EXPECT_NE(words->mostSignificant, 0u);
  }
}

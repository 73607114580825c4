// Our ICO files read by a decoder nobody here wrote: Debian's icotool (icoutils) extracts each
// file to PNG, libpng decodes the PNG, and the pixels must be the ones the icon was made of.
#include <gtest/gtest.h>

#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/TIcon.h"
#include "runtime/Text.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using testsupport::devicePalette;

namespace {

struct Rgba {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;  // R, G, B, A, top row first
};

Rgba decodePng(const std::filesystem::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Rgba out;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_RGBA;
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  return out;
}

// Saves `icon` through the icon object, lets icotool extract it, and returns the decoded PNG.
Rgba throughIcotool(const testsupport::TempFolder& folder, const std::string& name, platform::IconHandle icon) {
  imaging::TIcon owner;
  owner.AssignHandle(icon);
  owner.SaveIconFile(folder.file(name + ".ico"));
  const std::filesystem::path out = folder.path() / name;
  std::filesystem::create_directory(out);
  const std::string command = "icotool -x -o '" + out.string() + "' '" + (folder.path() / (name + ".ico")).string() +
                              "' >'" + (folder.path() / (name + ".log")).string() + "' 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << "icotool failed on " << name << ": "
                       << testsupport::readFileBytes(folder.path() / (name + ".log"));
  for (const auto& entry : std::filesystem::directory_iterator(out))
    if (entry.path().extension() == ".png") return decodePng(entry.path());
  ADD_FAILURE() << "icotool wrote no PNG for " << name;
  return {};
}

// Compares the decoded pixels with `expected` (0xAARRGGBB); where `opaque` is given, alpha must be
// 255 there and 0 elsewhere, else alpha must be the expected one.
void expectSame(const Rgba& png, int width, int height, const PixelFunction& expected, const MaskFunction& transparent,
                bool alphaFromMask) {
  ASSERT_EQ(png.width, width);
  ASSERT_EQ(png.height, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = png.pixels.data() + 4 * (static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x));
      const std::uint32_t want = expected(x, y);
      const int alpha = alphaFromMask ? (transparent(x, y) ? 0 : 255) : static_cast<int>(want >> 24);
      ASSERT_EQ(p[3], alpha) << "alpha at " << x << "," << y;
      if (alpha == 0) continue;  // a fully transparent pixel's colour is not kept by every writer
      ASSERT_EQ(p[0], (want >> 16) & 0xFF) << "red at " << x << "," << y;
      ASSERT_EQ(p[1], (want >> 8) & 0xFF) << "green at " << x << "," << y;
      ASSERT_EQ(p[2], want & 0xFF) << "blue at " << x << "," << y;
    }
}

}  // namespace

// 32-bit icons carry their own alpha; 24-bit and palette icons take transparency from the mask.
TEST(IcotoolPeer, ColourIconsDecodeToTheirSourcePixels) {
  testsupport::TempFolder folder;
  expectSame(throughIcotool(folder, "rgba", pictureIcon()), 48, 48, picture, pictureMask, false);
  expectSame(throughIcotool(folder, "large", pictureIcon(256, 256)), 256, 256, picture, pictureMask, false);

  const auto opaquePicture = [](int x, int y) { return picture(x, y) | 0xFF000000u; };
  expectSame(throughIcotool(folder, "rgb", iconOf(deviceBitmap(48, 48, 24, picture), maskBitmap(48, 48, pictureMask))),
             48, 48, opaquePicture, pictureMask, true);

  for (int bits : {4, 8}) {
    const auto index = [bits](int x, int y) { return static_cast<std::uint32_t>(x * 7 + y * 3) % (1u << bits); };
    const auto colour = [&](int x, int y) { return devicePalette(bits).at(index(x, y)); };
    const Rgba png = throughIcotool(folder, "palette" + std::to_string(bits),
                                    iconOf(deviceBitmap(48, 48, bits, index), maskBitmap(48, 48, pictureMask)));
    expectSame(png, 48, 48, colour, pictureMask, true);
  }
}

// The monochrome icon written as a 1-bit image: white where the XOR half is set, transparent
// where the AND half is.
TEST(IcotoolPeer, MonochromeIconDecodes) {
  testsupport::TempFolder folder;
  const auto andBit = [](int x, int y) { return (x + y) % 5 == 0; };
  const auto xorBit = [](int x, int y) { return x * 2 > y + 10; };
  const Rgba png = throughIcotool(
      folder, "mono",
      iconOf(nullptr, maskBitmap(48, 96, [&](int x, int y) { return y < 48 ? andBit(x, y) : xorBit(x, y - 48); })));
  expectSame(png, 48, 48, [&](int x, int y) { return xorBit(x, y) ? 0xFFFFFFu : 0u; }, andBit, true);
}

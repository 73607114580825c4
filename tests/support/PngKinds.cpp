// The PNG kinds, all of one 48x48 picture: four colours in diagonal bands (so that flipped rows or
// swapped channels show), opaque, opaque, half and fully transparent where the format has alpha.
#include "tests/support/PngKinds.h"

#include <array>
#include <span>
#include <stdexcept>

#include "platform/executable/Crc32.h"
#include "tests/support/PngEncoder.h"

namespace testsupport {
namespace {

constexpr std::uint32_t kSide = 48;
constexpr std::array<std::uint32_t, 4> kColours = {0xFF2010, 0x20C040, 0x3050F0, 0xF0E020};
constexpr std::array<std::uint8_t, 4> kAlphas = {255, 255, 128, 0};
constexpr std::array<std::uint8_t, 4> kGreys = {0x30, 0x60, 0x90, 0xC0};

unsigned colourAt(std::uint32_t x, std::uint32_t y) { return (x / 12 + y / 12) % 4; }

// The picture's pixels, each `pixel(index)` as 0xAARRGGBB.
template <typename Pixel>
std::vector<std::uint32_t> pixelsOf(Pixel pixel) {
  std::vector<std::uint32_t> argb;
  for (std::uint32_t y = 0; y < kSide; ++y)
    for (std::uint32_t x = 0; x < kSide; ++x) argb.push_back(pixel(colourAt(x, y)));
  return argb;
}

std::uint32_t greyArgb(std::uint8_t alpha, std::uint8_t grey) {
  return std::uint32_t{alpha} << 24 | std::uint32_t{grey} << 16 | std::uint32_t{grey} << 8 | grey;
}

// The picture in `colour` at `depth`, each pixel's samples from `samples(index)` (one value per
// sample, at most `depth` bits wide), packed as PNG stores them.
template <typename Samples>
PngPicture pictureOf(PngColour colour, std::uint8_t depth, Samples samples) {
  PngPicture picture;
  picture.width = picture.height = kSide;
  picture.bitDepth = depth;
  picture.colour = colour;
  for (std::uint32_t y = 0; y < kSide; ++y) {
    unsigned bits = 0, filled = 0;
    for (std::uint32_t x = 0; x < kSide; ++x) {
      for (const unsigned value : samples(colourAt(x, y))) {
        if (depth == 16) {
          picture.rows.push_back(static_cast<std::uint8_t>(value >> 8));
          picture.rows.push_back(static_cast<std::uint8_t>(value));
          continue;
        }
        bits = bits << depth | value;
        filled += depth;
        if (filled == 8) {
          picture.rows.push_back(static_cast<std::uint8_t>(bits));
          bits = filled = 0;
        }
      }
    }
    if (filled > 0) picture.rows.push_back(static_cast<std::uint8_t>(bits << (8 - filled)));
  }
  return picture;
}

std::string paletteChunk() {
  std::string palette;
  for (const std::uint32_t rgb : kColours)
    for (const int shift : {16, 8, 0}) palette.push_back(static_cast<char>((rgb >> shift) & 0xFF));
  return palette;
}

std::vector<unsigned> rgbSamples(unsigned i, int scale = 1) {
  return {(kColours[i] >> 16 & 0xFF) * scale, (kColours[i] >> 8 & 0xFF) * scale, (kColours[i] & 0xFF) * scale};
}

// Where each chunk of `png` starts (its length field), in order.
std::vector<std::size_t> chunkStarts(const std::string& png) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    starts.push_back(at);
    const auto* b = reinterpret_cast<const std::uint8_t*>(png.data() + at);
    at += 12 + (std::size_t{b[0]} << 24 | std::size_t{b[1]} << 16 | std::size_t{b[2]} << 8 | b[3]);
  }
  return starts;
}

// The start of the first chunk of `type` in `png`.
std::size_t chunkStart(const std::string& png, const std::string& type) {
  for (const std::size_t at : chunkStarts(png))
    if (png.compare(at + 4, 4, type) == 0) return at;
  throw std::logic_error("no " + type + " chunk");
}

// `png` with the CRC of its first `type` chunk wrong.
std::string withWrongCrc(std::string png, const std::string& type) {
  const std::size_t at = chunkStart(png, type);
  const auto* b = reinterpret_cast<const std::uint8_t*>(png.data() + at);
  const std::size_t length = std::size_t{b[0]} << 24 | std::size_t{b[1]} << 16 | std::size_t{b[2]} << 8 | b[3];
  png[at + 8 + length] = static_cast<char>(png[at + 8 + length] ^ 0x01);
  return png;
}

// `png` with IHDR's byte `field` (0: first byte of its data) set to `value` and its CRC made right.
std::string withHeaderByte(std::string png, std::size_t field, std::uint8_t value) {
  png[16 + field] = static_cast<char>(value);
  const std::uint32_t crc =
      platform::executable::crc32(std::span(reinterpret_cast<const std::uint8_t*>(png.data() + 12), 4 + 13));
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

}  // namespace

std::vector<PngKind> pngKinds() {
  const auto rgba = [](unsigned i) { return std::uint32_t{kAlphas[i]} << 24 | kColours[i]; };
  const auto opaque = [](unsigned i) { return 0xFF000000u | kColours[i]; };
  const auto clearLast = [](std::uint32_t argb, unsigned i) { return i == 3 ? argb & 0x00FFFFFFu : argb; };

  PngPicture rgba8 = pictureOf(PngColour::Rgba, 8, [](unsigned i) {
    auto s = rgbSamples(i);
    s.push_back(kAlphas[i]);
    return s;
  });
  PngPicture palette8 = pictureOf(PngColour::Palette, 8, [](unsigned i) { return std::vector<unsigned>{i}; });
  palette8.palette = paletteChunk();
  PngPicture palette8Alpha = palette8;
  palette8Alpha.transparency = std::string(kAlphas.begin(), kAlphas.end());
  PngPicture palette2 = pictureOf(PngColour::Palette, 2, [](unsigned i) { return std::vector<unsigned>{i}; });
  palette2.palette = paletteChunk();
  const PngPicture greyAlpha8 =
      pictureOf(PngColour::GreyAlpha, 8, [](unsigned i) { return std::vector<unsigned>{kGreys[i], kAlphas[i]}; });
  const PngPicture grey1 = pictureOf(PngColour::Grey, 1, [](unsigned i) { return std::vector<unsigned>{i % 2}; });
  const PngPicture grey8 = pictureOf(PngColour::Grey, 8, [](unsigned i) { return std::vector<unsigned>{kGreys[i]}; });
  PngPicture grey8Clear = grey8;
  grey8Clear.transparency = std::string{'\0', static_cast<char>(kGreys[3])};
  const PngPicture rgb8 = pictureOf(PngColour::Rgb, 8, [](unsigned i) { return rgbSamples(i); });
  PngPicture rgb8Clear = rgb8;
  for (const int shift : {16, 8, 0}) rgb8Clear.transparency += std::string{'\0', static_cast<char>(kColours[3] >> shift & 0xFF)};

  std::vector<PngKind> kinds = {
      {"RGBA, 8 bits", encodePng(rgba8), true, pixelsOf(rgba), false},
      {"palette with tRNS, 8 bits", encodePng(palette8Alpha), true, pixelsOf(rgba), false},
      {"grey and alpha, 8 bits", encodePng(greyAlpha8), true,
       pixelsOf([](unsigned i) { return greyArgb(kAlphas[i], kGreys[i]); }), false},
      {"palette, 8 bits", encodePng(palette8), true, pixelsOf(opaque), true},
      {"palette, 2 bits", encodePng(palette2), true, pixelsOf(opaque), true},
      {"grey, 1 bit", encodePng(grey1), true,
       pixelsOf([](unsigned i) { return greyArgb(255, i % 2 == 0 ? 0 : 255); }), true},
      {"grey, 8 bits", encodePng(grey8), true, pixelsOf([](unsigned i) { return greyArgb(255, kGreys[i]); }), true},
      {"grey with tRNS, 8 bits", encodePng(grey8Clear), true,
       pixelsOf([&](unsigned i) { return clearLast(greyArgb(255, kGreys[i]), i); }), true},
      {"RGB, 8 bits", encodePng(rgb8), true, pixelsOf(opaque), true},
      {"RGB with tRNS, 8 bits", encodePng(rgb8Clear), true,
       pixelsOf([&](unsigned i) { return clearLast(opaque(i), i); }), true},
  };

  // Refused: 16 bits per sample, damaged chunks, and structure the format does not allow.
  const auto refused = [&](std::string what, std::string png) { kinds.push_back({std::move(what), std::move(png), false, {}, false}); };
  refused("RGBA, 16 bits", encodePng(pictureOf(PngColour::Rgba, 16, [](unsigned i) {
            auto s = rgbSamples(i, 257);
            s.push_back(kAlphas[i] * 257u);
            return s;
          })));
  refused("grey, 16 bits", encodePng(pictureOf(PngColour::Grey, 16, [](unsigned i) {
            return std::vector<unsigned>{kGreys[i] * 257u};
          })));
  refused("grey and alpha, 16 bits", encodePng(pictureOf(PngColour::GreyAlpha, 16, [](unsigned i) {
            return std::vector<unsigned>{kGreys[i] * 257u, kAlphas[i] * 257u};
          })));
  refused("RGB, 16 bits", encodePng(pictureOf(PngColour::Rgb, 16, [](unsigned i) { return rgbSamples(i, 257); })));
  const std::string good = encodePng(rgba8);
  refused("RGBA, IHDR CRC wrong", withWrongCrc(good, "IHDR"));
  refused("RGBA, IDAT CRC wrong", withWrongCrc(good, "IDAT"));
  refused("RGB with tRNS, tRNS CRC wrong", withWrongCrc(encodePng(rgb8Clear), "tRNS"));
  refused("RGBA without IEND", good.substr(0, chunkStart(good, "IEND")));
  refused("RGBA, IDAT running past the image", good.substr(0, chunkStart(good, "IEND") - 1));
  PngPicture noPalette = palette8;
  noPalette.palette.clear();
  refused("palette without PLTE", encodePng(noPalette));
  refused("RGBA with a chunk before IHDR", good.substr(0, 8) + pngChunk("tEXt", "Comment") + good.substr(8));
  refused("RGBA, interlace method 2", withHeaderByte(good, 12, 2));
  refused("RGBA, bit depth 4", withHeaderByte(good, 8, 4));
  return kinds;
}

}  // namespace testsupport

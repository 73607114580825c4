// The ICO writer: reads an icon's bitmaps back through the platform and lays them out as a
// single-image ICO file (see IconWriter.h for the layout).
#include "imaging/IconWriter.h"

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

#include "imaging/EInvalidGraphic.h"
#include "runtime/ScopeExit.h"

namespace imaging {
namespace {

// The records of the file, as they lie in it. Both platforms are little-endian, so a record's
// bytes are its fields in order.
static_assert(std::endian::native == std::endian::little);

// The file header: reserved, type (1 = icon), image count.
struct IconDirectory {
  std::uint16_t reserved = 0;
  std::uint16_t type = 1;
  std::uint16_t count = 1;
};
static_assert(sizeof(IconDirectory) == 6);

// The one directory entry. The format's colour count and reserved bytes are written as one word
// holding the colour image's bit count; the planes and bit count words stay zero.
struct IconDirectoryEntry {
  std::uint8_t width = 0;  // 256 wraps to 0, which readers take as 256
  std::uint8_t height = 0;
  std::uint16_t colours = 0;
  std::uint16_t planes = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t bytesInImage = 0;
  std::uint32_t imageOffset = 0;
};
static_assert(sizeof(IconDirectoryEntry) == 16);

// The image of a monochrome icon: its header and a colour table of black and white.
struct MonochromeImageHeader {
  platform::BitmapInfoHeader header;
  std::uint32_t table[2] = {0x00000000, 0x00FFFFFF};
};
static_assert(sizeof(MonochromeImageHeader) == 48);

constexpr std::int64_t kHeaderSize = sizeof(platform::BitmapInfoHeader);

// Raises the one error of a bitmap that cannot be described or handed out.
[[noreturn]] void raiseBitmapNotValid() { throw EInvalidGraphic(u"Bitmap image is not valid"); }

platform::BitmapInfoHeader headerIn(std::span<const std::uint8_t> info) {
  platform::BitmapInfoHeader header;
  std::memcpy(&header, info.data(), sizeof header);
  return header;
}

void putHeader(std::span<std::uint8_t> info, const platform::BitmapInfoHeader& header) {
  std::memcpy(info.data(), &header, sizeof header);
}

// The file header and the directory entry for one image of `width` x `height` pixels.
void writeFileStart(rt::TStream& stream, std::int32_t width, std::int32_t height, std::uint16_t colours,
                    std::int64_t bytesInImage) {
  const IconDirectory directory;
  IconDirectoryEntry entry;
  entry.width = static_cast<std::uint8_t>(width);
  entry.height = static_cast<std::uint8_t>(height);
  entry.colours = colours;
  entry.bytesInImage = static_cast<std::uint32_t>(bytesInImage);
  entry.imageOffset = sizeof directory + sizeof entry;
  // One write, as the two records lie next to each other in the file (an entry follows the
  // header at offset 6, which its own alignment would not give it in a struct).
  std::uint8_t start[sizeof directory + sizeof entry];
  std::memcpy(start, &directory, sizeof directory);
  std::memcpy(start + sizeof directory, &entry, sizeof entry);
  stream.WriteBuffer(start, sizeof start);
}

// Memory taken by a header's table or masks and by its rows.
BitmapSizes sizesOf(const platform::BitmapInfoHeader& header) {
  BitmapSizes sizes;
  if (header.bitCount <= 8) {
    const std::int64_t entries = header.clrUsed != 0 ? header.clrUsed : std::int64_t{1} << header.bitCount;
    sizes.infoSize = kHeaderSize + 4 * entries;
  } else {
    sizes.infoSize = kHeaderSize + ((header.compression & 3) != 0 ? 12 : 0);
  }
  sizes.bitsSize = header.sizeImage;
  return sizes;
}

void writeBytes(rt::TStream& stream, std::span<const std::uint8_t> bytes) {
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// A monochrome icon: its one bitmap holds the AND mask in the upper half and the XOR image in
// the lower half. Read bottom-up, the XOR rows come first. The XOR half becomes a 1-bit colour
// image with the table black, white, so readers that need a colour image get one.
void buildMonochrome(rt::TStream& stream, platform::BitmapHandle mask) {
  const BitmapSizes sizes = BitmapInfoSizes(mask, 2);
  std::vector<std::uint8_t> info(static_cast<std::size_t>(sizes.infoSize), 0);
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(sizes.bitsSize), 0);
  ReadBitmapBits(mask, info, bits, 2);

  const platform::BitmapInfoHeader read = headerIn(info);
  if (read.height < 2 || read.height % 2 != 0) raiseBitmapNotValid();
  const std::int32_t height = read.height / 2;
  const std::int64_t halfBytes = RowBytes(read.width, 1) * height;
  if (2 * halfBytes > static_cast<std::int64_t>(bits.size())) raiseBitmapNotValid();

  MonochromeImageHeader image;
  image.header.size = kHeaderSize;
  image.header.width = read.width;
  image.header.height = 2 * height;
  image.header.planes = 1;
  image.header.bitCount = 1;
  image.header.sizeImage = static_cast<std::uint32_t>(halfBytes);

  writeFileStart(stream, read.width, height, 1, static_cast<std::int64_t>(sizeof image) + 2 * halfBytes);
  stream.WriteBuffer(&image, sizeof image);
  writeBytes(stream, std::span(bits).first(static_cast<std::size_t>(2 * halfBytes)));
}

}  // namespace

std::int64_t RowBytes(std::int64_t width, std::int64_t bitsPerPixel) {
  return ((width * bitsPerPixel + 31) & ~std::int64_t{31}) / 8;
}

platform::BitmapInfoHeader DescribeBitmap(platform::BitmapHandle bitmap, int colours) {
  platform::DibSectionDescription description;
  description.header.size = 0;
  const int written = platform::getObject(bitmap, sizeof description, &description);
  if (written == 0) raiseBitmapNotValid();

  platform::BitmapInfoHeader header;
  if (written >= platform::kDibSectionHeaderEnd && description.header.size >= kHeaderSize) {
    header = description.header;
    header.size = kHeaderSize;
  } else {
    header.size = kHeaderSize;
    header.width = description.bitmap.width;
    header.height = description.bitmap.height;
  }
  // A section stored top-down says so with a negative height; the file wants bottom-up rows.
  if (header.height == std::numeric_limits<std::int32_t>::min()) raiseBitmapNotValid();
  if (header.height < 0) header.height = -header.height;

  if (colours == 2) {
    header.bitCount = 1;
  } else if (colours >= 3 && colours <= 16) {
    header.bitCount = 4;
    header.clrUsed = static_cast<std::uint32_t>(colours);
  } else if (colours >= 17 && colours <= 256) {
    header.bitCount = 8;
    header.clrUsed = static_cast<std::uint32_t>(colours);
  } else {
    header.bitCount = static_cast<std::uint16_t>(description.bitmap.planes * description.bitmap.bitsPixel);
  }
  header.planes = 1;
  if (header.clrUsed < header.clrImportant) header.clrImportant = header.clrUsed;
  if (header.sizeImage == 0)
    header.sizeImage = static_cast<std::uint32_t>(RowBytes(header.width, header.bitCount) * header.height);
  return header;
}

BitmapSizes BitmapInfoSizes(platform::BitmapHandle bitmap, int colours) {
  return sizesOf(DescribeBitmap(bitmap, colours));
}

bool ReadBitmapBits(platform::BitmapHandle bitmap, std::span<std::uint8_t> info, std::span<std::uint8_t> bits,
                    int colours) {
  const platform::BitmapInfoHeader header = DescribeBitmap(bitmap, colours);
  const BitmapSizes needed = sizesOf(header);
  if (static_cast<std::int64_t>(info.size()) < needed.infoSize) return false;
  putHeader(info, header);
  if (static_cast<std::int64_t>(bits.size()) < RowBytes(header.width, header.bitCount) * header.height) return false;

  const platform::DeviceContextHandle context = platform::createCompatibleDC(nullptr);
  if (!context) return false;
  const rt::ScopeExit deleteContext([context] { platform::deleteDC(context); });
  return platform::getDIBits(context, bitmap, 0, static_cast<std::uint32_t>(header.height), bits.data(),
                             info.data(), platform::kRgbColours) != 0;
}

void BuildIconImage(rt::TStream& stream, platform::IconHandle icon) {
  // The icon's two bitmaps are deleted when the build ends, however it ends.
  platform::IconInfo info;
  const rt::ScopeExit deleteBitmaps([&info] {
    if (info.colour) platform::deleteObject(info.colour);
    if (info.mask) platform::deleteObject(info.mask);
  });
  if (!platform::getIconInfo(icon, info)) raiseBitmapNotValid();
  if (!info.colour) {
    buildMonochrome(stream, info.mask);
    return;
  }

  const BitmapSizes maskSizes = BitmapInfoSizes(info.mask, 2);
  const BitmapSizes colourSizes = BitmapInfoSizes(info.colour, -1);
  std::vector<std::uint8_t> maskInfo(static_cast<std::size_t>(maskSizes.infoSize), 0);
  std::vector<std::uint8_t> maskBits(static_cast<std::size_t>(maskSizes.bitsSize), 0);
  std::vector<std::uint8_t> colourInfo(static_cast<std::size_t>(colourSizes.infoSize), 0);
  std::vector<std::uint8_t> colourBits(static_cast<std::size_t>(colourSizes.bitsSize), 0);

  // As on Windows the results are not looked at: rows the platform did not fill stay zero.
  ReadBitmapBits(info.mask, maskInfo, maskBits, 2);
  ReadBitmapBits(info.colour, colourInfo, colourBits, -1);

  platform::BitmapInfoHeader colour = headerIn(colourInfo);
  writeFileStart(stream, colour.width, colour.height, static_cast<std::uint16_t>(colour.planes * colour.bitCount),
                 colourSizes.infoSize + colourSizes.bitsSize + maskSizes.bitsSize);
  colour.height *= 2;  // the stored height covers the colour image and the mask
  putHeader(colourInfo, colour);
  writeBytes(stream, colourInfo);
  writeBytes(stream, colourBits);
  writeBytes(stream, maskBits);
}

}  // namespace imaging

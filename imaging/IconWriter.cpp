// The ICO writer: reads an icon's bitmaps back through the platform and lays them out as a
// single-image ICO file (see IconWriter.h for the layout).
#include "imaging/IconWriter.h"

#include <cstring>
#include <limits>
#include <vector>

#include "imaging/EInvalidGraphic.h"

namespace imaging {
namespace {

constexpr char16_t kBitmapNotValid[] = u"Bitmap image is not valid";
constexpr std::int64_t kHeaderSize = 40;
constexpr std::int64_t kFileHeaderSize = 6;
constexpr std::int64_t kEntrySize = 16;

// The icon's two bitmaps, deleted when the build ends however it ends.
struct IconBitmaps {
  platform::IconInfo info;
  ~IconBitmaps() {
    if (info.colour) platform::deleteObject(info.colour);
    if (info.mask) platform::deleteObject(info.mask);
  }
};

// A memory device context, deleted on every path.
struct MemoryContext {
  platform::DeviceContextHandle handle = platform::createCompatibleDC(nullptr);
  ~MemoryContext() {
    if (handle) platform::deleteDC(handle);
  }
};

void putU16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

platform::BitmapInfoHeader headerIn(std::span<const std::uint8_t> info) {
  platform::BitmapInfoHeader header;
  std::memcpy(&header, info.data(), sizeof header);
  return header;
}

void putHeader(std::span<std::uint8_t> info, const platform::BitmapInfoHeader& header) {
  std::memcpy(info.data(), &header, sizeof header);
}

// The 6-byte file header and the 16-byte entry for one image of `width` x `height` pixels.
void writeFileStart(rt::TStream& stream, std::int32_t width, std::int32_t height, std::uint16_t colours,
                    std::int64_t bytesInImage) {
  std::uint8_t start[kFileHeaderSize + kEntrySize] = {};
  putU16(start + 2, 1);  // type: icon
  putU16(start + 4, 1);  // one image
  std::uint8_t* entry = start + kFileHeaderSize;
  entry[0] = static_cast<std::uint8_t>(width);   // 256 wraps to 0, which readers take as 256
  entry[1] = static_cast<std::uint8_t>(height);
  putU16(entry + 2, colours);
  putU32(entry + 8, static_cast<std::uint32_t>(bytesInImage));
  putU32(entry + 12, static_cast<std::uint32_t>(kFileHeaderSize + kEntrySize));
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
  if (read.height < 2 || read.height % 2 != 0) throw EInvalidGraphic(kBitmapNotValid);
  const std::int32_t height = read.height / 2;
  const std::int64_t halfBytes = RowBytes(read.width, 1) * height;
  if (2 * halfBytes > static_cast<std::int64_t>(bits.size())) throw EInvalidGraphic(kBitmapNotValid);

  platform::BitmapInfoHeader colour;
  colour.size = kHeaderSize;
  colour.width = read.width;
  colour.height = 2 * height;
  colour.planes = 1;
  colour.bitCount = 1;
  colour.sizeImage = static_cast<std::uint32_t>(halfBytes);
  std::uint8_t colourInfo[kHeaderSize + 8] = {};
  std::memcpy(colourInfo, &colour, sizeof colour);
  putU32(colourInfo + kHeaderSize + 4, 0x00FFFFFF);  // entry 0 black, entry 1 white

  writeFileStart(stream, read.width, height, 1, static_cast<std::int64_t>(sizeof colourInfo) + 2 * halfBytes);
  writeBytes(stream, colourInfo);
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
  if (written == 0) throw EInvalidGraphic(kBitmapNotValid);

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
  if (header.height == std::numeric_limits<std::int32_t>::min()) throw EInvalidGraphic(kBitmapNotValid);
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

  MemoryContext context;
  if (!context.handle) return false;
  return platform::getDIBits(context.handle, bitmap, 0, static_cast<std::uint32_t>(header.height), bits.data(),
                             info.data(), platform::kRgbColours) != 0;
}

void BuildIconImage(rt::TStream& stream, platform::IconHandle icon) {
  IconBitmaps bitmaps;
  if (!platform::getIconInfo(icon, bitmaps.info)) throw EInvalidGraphic(kBitmapNotValid);
  if (!bitmaps.info.colour) {
    buildMonochrome(stream, bitmaps.info.mask);
    return;
  }

  const BitmapSizes maskSizes = BitmapInfoSizes(bitmaps.info.mask, 2);
  const BitmapSizes colourSizes = BitmapInfoSizes(bitmaps.info.colour, -1);
  std::vector<std::uint8_t> maskInfo(static_cast<std::size_t>(maskSizes.infoSize), 0);
  std::vector<std::uint8_t> maskBits(static_cast<std::size_t>(maskSizes.bitsSize), 0);
  std::vector<std::uint8_t> colourInfo(static_cast<std::size_t>(colourSizes.infoSize), 0);
  std::vector<std::uint8_t> colourBits(static_cast<std::size_t>(colourSizes.bitsSize), 0);

  // As on Windows the results are not looked at: rows the platform did not fill stay zero.
  ReadBitmapBits(bitmaps.info.mask, maskInfo, maskBits, 2);
  ReadBitmapBits(bitmaps.info.colour, colourInfo, colourBits, -1);

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

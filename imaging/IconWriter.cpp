// The ICO writer: a function from an icon's bitmaps to the file's bytes (see IconWriter.h).
#include "imaging/IconWriter.h"

#include <bit>
#include <cstring>
#include <span>

#include "imaging/EInvalidGraphic.h"

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

constexpr std::size_t kStart = sizeof(IconDirectory) + sizeof(IconDirectoryEntry);

// Raises the one error of bitmaps that cannot be written.
[[noreturn]] void raiseBitmapNotValid() { throw EInvalidGraphic(u"Bitmap image is not valid"); }

void append(std::vector<std::uint8_t>& out, const void* bytes, std::size_t count) {
  const auto* first = static_cast<const std::uint8_t*>(bytes);
  out.insert(out.end(), first, first + count);
}

// The file header and the directory entry for one image of `width` x `height` pixels, with room
// for the image's `bytesInImage` bytes after them.
std::vector<std::uint8_t> fileStart(std::int32_t width, std::int32_t height, std::uint16_t colours,
                                    std::size_t bytesInImage) {
  const IconDirectory directory;
  IconDirectoryEntry entry;
  entry.width = static_cast<std::uint8_t>(width);
  entry.height = static_cast<std::uint8_t>(height);
  entry.colours = colours;
  entry.bytesInImage = static_cast<std::uint32_t>(bytesInImage);
  entry.imageOffset = kStart;
  // The entry follows the header at offset 6, which its own alignment would not give it in a
  // struct, so the two are copied one after the other.
  std::vector<std::uint8_t> out;
  out.reserve(kStart + bytesInImage);
  append(out, &directory, sizeof directory);
  append(out, &entry, sizeof entry);
  return out;
}

// A monochrome icon: its one bitmap holds the AND mask in the upper half and the XOR image in
// the lower half. Read bottom-up, the XOR rows come first. The XOR half becomes a 1-bit colour
// image with the table black, white, so readers that need a colour image get one.
std::vector<std::uint8_t> buildMonochrome(const platform::IconBitmaps& image) {
  if (image.maskWidth <= 0 || image.maskHeight < 2 || image.maskHeight % 2 != 0) raiseBitmapNotValid();
  const std::int32_t height = image.maskHeight / 2;
  const std::size_t rowBytes = (static_cast<std::size_t>(image.maskWidth) + 31) / 32 * 4;
  const std::size_t halfBytes = rowBytes * static_cast<std::size_t>(height);
  if (2 * halfBytes > image.maskRows.size()) raiseBitmapNotValid();

  MonochromeImageHeader header;
  header.header.size = sizeof header.header;
  header.header.width = image.maskWidth;
  header.header.height = 2 * height;
  header.header.planes = 1;
  header.header.bitCount = 1;
  header.header.sizeImage = static_cast<std::uint32_t>(halfBytes);

  std::vector<std::uint8_t> out = fileStart(image.maskWidth, height, 1, sizeof header + 2 * halfBytes);
  append(out, &header, sizeof header);
  append(out, image.maskRows.data(), 2 * halfBytes);
  return out;
}

}  // namespace

std::vector<std::uint8_t> BuildIconImage(const platform::IconBitmaps& image) {
  if (image.maskWidth <= 0) raiseBitmapNotValid();
  if (image.monochrome()) return buildMonochrome(image);
  platform::BitmapInfoHeader colour;
  if (image.colourInfo.size() < sizeof colour) raiseBitmapNotValid();
  std::memcpy(&colour, image.colourInfo.data(), sizeof colour);

  std::vector<std::uint8_t> out =
      fileStart(colour.width, colour.height, static_cast<std::uint16_t>(colour.planes * colour.bitCount),
                image.colourInfo.size() + image.colourRows.size() + image.maskRows.size());
  colour.height *= 2;  // the stored height covers the colour image and the mask
  append(out, &colour, sizeof colour);
  append(out, image.colourInfo.data() + sizeof colour, image.colourInfo.size() - sizeof colour);
  append(out, image.colourRows.data(), image.colourRows.size());
  append(out, image.maskRows.data(), image.maskRows.size());
  return out;
}

}  // namespace imaging

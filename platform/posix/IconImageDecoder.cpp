// Icon image decoding. A BMP-style icon image is a BITMAPINFOHEADER (whose height counts the XOR
// bitmap and the AND mask together), an optional colour table, the XOR bitmap and the 1-bit AND
// mask, each stored bottom row first with rows padded to 4 bytes. PNG images are decoded by libpng
// from memory, with its dimension and chunk-size limits set and its errors caught by setjmp.
#include "platform/posix/IconImageDecoder.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>

#include "platform/executable/BitmapRows.h"
#include "platform/executable/LittleEndian.h"

namespace platform::posix {
namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
constexpr std::uint32_t kCompressionNone = 0;  // BI_RGB

using executable::i32At;
using executable::rowBytes;
using executable::u16At;
using executable::u32At;

// Value of the pixel at `x` in a stored row of 1, 4 or 8 bits per pixel (most significant first).
unsigned indexAt(const std::uint8_t* row, int x, int bits) {
  switch (bits) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
    default: return row[x];
  }
}

// Every byte value spread over eight bytes of 0 or 1, most significant bit first.
constexpr std::array<std::array<std::uint8_t, 8>, 256> kSpreadBits = [] {
  std::array<std::array<std::uint8_t, 8>, 256> table {};
  for (unsigned byte = 0; byte < 256; ++byte)
    for (unsigned bit = 0; bit < 8; ++bit) table[byte][bit] = static_cast<std::uint8_t>((byte >> (7 - bit)) & 1u);
  return table;
}();

// The `width` 1-bit pixels of a stored row as one byte each (0 or 1), most significant bit first.
void unpackBits(const std::uint8_t* row, int width, std::uint8_t* out) {
  int x = 0;
  for (; x + 8 <= width; x += 8, ++row) std::memcpy(out + x, kSpreadBits[*row].data(), 8);
  for (int bit = 0; x < width; ++x, ++bit) out[x] = kSpreadBits[*row][static_cast<std::size_t>(bit)];
}

// Whether any of `width` B,G,R,A pixels has a non-zero alpha.
bool anyAlphaIn(const std::uint8_t* pixels, int width) {
  std::uint8_t alphas = 0;
  for (int x = 0; x < width; ++x) alphas |= pixels[x * 4 + 3];
  return alphas != 0;
}

std::optional<IconPixels> decodeBmp(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kBitmapInfoHeaderSize) return std::nullopt;
  const std::uint32_t headerSize = u32At(bytes, 0);
  const std::int32_t width = i32At(bytes, 4);
  const std::int32_t storedHeight = i32At(bytes, 8);  // XOR and AND bitmaps together
  const int bits = u16At(bytes, 14);
  const std::uint32_t compression = u32At(bytes, 16);
  const std::uint32_t coloursUsed = u32At(bytes, 32);
  // Only the 40-byte BITMAPINFOHEADER that icon images carry; V4 and V5 headers are refused, as
  // the shared checks of executables refuse them.
  if (headerSize != kBitmapInfoHeaderSize) return std::nullopt;
  // Top-down (negative height) icon images do not exist in the format; refuse them.
  if (width <= 0 || width > kMaxIconSide || storedHeight < 2 || storedHeight / 2 > kMaxIconSide) return std::nullopt;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
  // Icon images are stored uncompressed; run-length and bit-field images are refused.
  if (compression != kCompressionNone) return std::nullopt;
  if (coloursUsed > 256) return std::nullopt;
  const int height = storedHeight / 2;

  // Images of 8 bits or fewer index a table of 2^bits entries unless the header names a count;
  // deeper images may still carry an (unused) table of the named count, which is skipped.
  const std::uint64_t tableEntries = (bits <= 8 && coloursUsed == 0) ? (1u << bits) : coloursUsed;
  const std::uint64_t tableOffset = headerSize;
  const std::uint64_t xorOffset = tableOffset + tableEntries * 4;
  const std::uint64_t xorRow = rowBytes(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(bits));
  const std::uint64_t andOffset = xorOffset + xorRow * static_cast<std::uint64_t>(height);
  const std::uint64_t andRow = rowBytes(static_cast<std::uint64_t>(width), 1);
  const std::uint64_t end = andOffset + andRow * static_cast<std::uint64_t>(height);
  if (end > bytes.size()) return std::nullopt;

  IconPixels image;
  image.width = width;
  image.height = height;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  image.mask.resize(pixels);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bytes.data() + andOffset + andRow * static_cast<std::uint64_t>(height - 1 - y);
    unpackBits(row, width, image.mask.data() + static_cast<std::size_t>(y) * width);
  }

  const std::uint8_t* table = bytes.data() + tableOffset;
  const unsigned usable = static_cast<unsigned>(std::min<std::uint64_t>(tableEntries, bits <= 8 ? (1u << bits) : 0));
  auto entryIs = [&](unsigned i, std::uint8_t value) {
    return table[i * 4] == value && table[i * 4 + 1] == value && table[i * 4 + 2] == value;
  };
  if (bits == 1 && tableEntries == 2 && entryIs(0, 0x00) && entryIs(1, 0xFF)) {
    image.monochrome = true;
    image.xorBits.resize(pixels);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = bytes.data() + xorOffset + xorRow * static_cast<std::uint64_t>(height - 1 - y);
      unpackBits(row, width, image.xorBits.data() + static_cast<std::size_t>(y) * width);
    }
    return image;
  }

  image.bgra.resize(pixels * 4);
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bytes.data() + xorOffset + xorRow * static_cast<std::uint64_t>(height - 1 - y);
    std::uint8_t* out = image.bgra.data() + static_cast<std::size_t>(y) * width * 4;
    if (bits == 32) {
      // Stored as B,G,R,A already: the row is copied whole.
      std::memcpy(out, row, static_cast<std::size_t>(width) * 4);
      anyAlpha = anyAlpha || anyAlphaIn(out, width);
      continue;
    }
    for (int x = 0; x < width; ++x, out += 4) {
      if (bits == 24) {
        std::memcpy(out, row + x * 3, 3);
      } else {
        const unsigned index = indexAt(row, x, bits);
        // An index past the table shows black, as a missing table entry would.
        if (index < usable) std::memcpy(out, table + index * 4, 3);
        else out[0] = out[1] = out[2] = 0;
      }
    }
  }
  // Images without alpha, and 32-bit images whose alpha is 0 everywhere, take their alpha from
  // the mask: a fully transparent result would make the icon invisible outside Windows.
  image.hasAlpha = anyAlpha;
  if (!anyAlpha) {
    for (std::size_t i = 0; i < pixels; ++i) image.bgra[i * 4 + 3] = image.mask[i] ? 0 : 255;
  }
  return image;
}

// libpng pulls the compressed bytes through this reader from memory.
struct PngInput {
  std::span<const std::uint8_t> bytes;
  std::size_t position = 0;
};

void readPngBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
  if (count > input->bytes.size() - input->position) png_error(png, "truncated image");
  std::memcpy(out, input->bytes.data() + input->position, count);
  input->position += count;
}

// libpng's own handlers print to stderr; a bad image is an ordinary outcome here, so stay quiet.
void ignorePngWarning(png_structp, png_const_charp) {}
[[noreturn]] void failPngQuietly(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Everything that must survive a longjmp out of libpng lives here, outside the frame that calls
// setjmp, so no object of that frame is modified between setjmp and the jump.
struct PngDecode {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngInput input;
  std::vector<std::uint8_t> bgra;
  std::vector<png_bytep> rows;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  ~PngDecode() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

bool runPngDecode(PngDecode& d) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_set_read_fn(d.png, &d.input, readPngBytes);
  png_set_user_limits(d.png, kMaxIconSide, kMaxIconSide);
  png_set_chunk_malloc_max(d.png, 4u << 20);
  png_read_info(d.png, d.info);
  d.width = png_get_image_width(d.png, d.info);
  d.height = png_get_image_height(d.png, d.info);
  if (d.width == 0 || d.height == 0 || d.width > kMaxIconSide || d.height > kMaxIconSide) return false;
  // Whatever the stored format, ask for 8-bit B,G,R,A.
  png_set_expand(d.png);
  png_set_strip_16(d.png);
  png_set_gray_to_rgb(d.png);
  png_set_tRNS_to_alpha(d.png);
  png_set_filler(d.png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(d.png);
  png_set_interlace_handling(d.png);
  png_read_update_info(d.png, d.info);
  if (png_get_rowbytes(d.png, d.info) != static_cast<png_size_t>(d.width) * 4) return false;
  d.bgra.resize(static_cast<std::size_t>(d.width) * d.height * 4);
  d.rows.resize(d.height);
  for (png_uint_32 y = 0; y < d.height; ++y) d.rows[y] = d.bgra.data() + static_cast<std::size_t>(y) * d.width * 4;
  png_read_image(d.png, d.rows.data());
  return true;
}

std::optional<IconPixels> decodePng(std::span<const std::uint8_t> bytes) {
  PngDecode d;
  d.input.bytes = bytes;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, failPngQuietly, ignorePngWarning);
  if (!d.png) return std::nullopt;
  d.info = png_create_info_struct(d.png);
  if (!d.info || !runPngDecode(d)) return std::nullopt;

  IconPixels image;
  image.width = static_cast<int>(d.width);
  image.height = static_cast<int>(d.height);
  image.hasAlpha = true;
  image.bgra = std::move(d.bgra);
  // The mask of a PNG image: transparent wherever alpha is below 255, at the image's own size.
  image.mask.resize(static_cast<std::size_t>(image.width) * image.height);
  for (std::size_t i = 0; i < image.mask.size(); ++i) image.mask[i] = image.bgra[i * 4 + 3] < 255 ? 1 : 0;
  return image;
}

}  // namespace

std::optional<IconPixels> decodeIconImage(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= kPngSignature.size() && std::equal(kPngSignature.begin(), kPngSignature.end(), bytes.begin())) {
    return decodePng(bytes);
  }
  return decodeBmp(bytes);
}

}  // namespace platform::posix

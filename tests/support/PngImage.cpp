// PNG images for icon resources, written with libpng. Kept apart from the PE writer because libpng
// is a dependency of the Linux build only: the Windows test build has no PNG writer, and the tests
// that need one (the Linux resource reader's) are not built there.
#include "tests/support/PeWriter.h"

#include <png.h>

#include <csetjmp>
#include <stdexcept>

namespace testsupport {
namespace {

void appendPngBytes(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
void flushPng(png_structp) {}

bool writePng(png_structp png, png_infop info, std::string& out, int width, int height,
              std::vector<png_bytep>& rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &out, appendPngBytes, flushPng);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::string pngImage(int width, int height, const std::vector<std::uint32_t>& argb) {
  std::vector<std::uint8_t> rgba(argb.size() * 4);
  for (std::size_t i = 0; i < argb.size(); ++i) {
    rgba[i * 4] = static_cast<std::uint8_t>(argb[i] >> 16);
    rgba[i * 4 + 1] = static_cast<std::uint8_t>(argb[i] >> 8);
    rgba[i * 4 + 2] = static_cast<std::uint8_t>(argb[i]);
    rgba[i * 4 + 3] = static_cast<std::uint8_t>(argb[i] >> 24);
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) rows[y] = rgba.data() + static_cast<std::size_t>(y) * width * 4;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::string out;
  const bool ok = writePng(png, info, out, width, height, rows);
  png_destroy_write_struct(&png, &info);
  if (!ok) throw std::runtime_error("PNG write failed");
  return out;
}

}  // namespace testsupport

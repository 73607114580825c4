// PNG images written by hand: a zlib stream of stored deflate blocks (RFC 1950, RFC 1951 "Non-
// compressed blocks") holds the rows, each behind filter byte 0 (none).
#include "tests/support/PngEncoder.h"

#include <algorithm>
#include <span>

#include "platform/executable/Crc32.h"

namespace testsupport {
namespace {

void appendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::uint32_t adler32(const std::string& bytes) {
  std::uint32_t a = 1, b = 0;
  for (const char c : bytes) {
    a = (a + static_cast<std::uint8_t>(c)) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// `raw` as a zlib stream of stored blocks of at most 65,535 bytes each.
std::string storedZlib(const std::string& raw) {
  std::string out("\x78\x01", 2);  // deflate, 32 KiB window, no dictionary, check bits
  std::size_t at = 0;
  do {
    const std::size_t length = std::min<std::size_t>(raw.size() - at, 65535);
    const bool last = at + length == raw.size();
    out.push_back(last ? '\x01' : '\x00');
    out.push_back(static_cast<char>(length & 0xFF));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(~length & 0xFF));
    out.push_back(static_cast<char>((~length >> 8) & 0xFF));
    out.append(raw, at, length);
    at += length;
  } while (at < raw.size());
  appendBigEndian(out, adler32(raw));
  return out;
}

int samplesPerPixel(PngColour colour) {
  switch (colour) {
    case PngColour::Rgb: return 3;
    case PngColour::GreyAlpha: return 2;
    case PngColour::Rgba: return 4;
    default: return 1;
  }
}

}  // namespace

std::string pngChunk(const std::string& type, const std::string& data) {
  std::string chunk;
  appendBigEndian(chunk, static_cast<std::uint32_t>(data.size()));
  const std::string typeAndData = type + data;
  chunk += typeAndData;
  appendBigEndian(chunk, platform::executable::crc32(std::span(reinterpret_cast<const std::uint8_t*>(typeAndData.data()),
                                                               typeAndData.size())));
  return chunk;
}

std::size_t pngRowBytes(const PngPicture& picture) {
  return (std::size_t{picture.width} * samplesPerPixel(picture.colour) * picture.bitDepth + 7) / 8;
}

std::string encodePng(const PngPicture& picture) {
  std::string header;
  appendBigEndian(header, picture.width);
  appendBigEndian(header, picture.height);
  header += static_cast<char>(picture.bitDepth);
  header += static_cast<char>(picture.colour);
  header += std::string(3, '\0');  // deflate, adaptive filtering, no interlacing
  std::string raw;
  const std::size_t rowBytes = pngRowBytes(picture);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    raw.push_back('\0');
    const std::size_t from = y * rowBytes;
    for (std::size_t i = 0; i < rowBytes; ++i)
      raw.push_back(static_cast<char>(from + i < picture.rows.size() ? picture.rows[from + i] : 0));
  }
  std::string png("\x89PNG\r\n\x1a\n", 8);
  png += pngChunk("IHDR", header);
  if (!picture.palette.empty()) png += pngChunk("PLTE", picture.palette);
  if (!picture.transparency.empty()) png += pngChunk("tRNS", picture.transparency);
  png += pngChunk("IDAT", storedZlib(raw));
  png += pngChunk("IEND", "");
  return png;
}

std::string transparentPng(std::uint32_t width, std::uint32_t height) {
  PngPicture picture;
  picture.width = width;
  picture.height = height;
  return encodePng(picture);  // missing samples are written as zeros
}

}  // namespace testsupport

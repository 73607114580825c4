// The 48x48 bitmap ICO of a simulated program (see SampleIcon.h).
#include "SampleIcon.h"

#include <cstdint>

namespace load {
namespace {

void put16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8);
}

void put32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

}  // namespace

std::string sampleIcon(int seed) {
  constexpr int kSide = 48;
  std::string image;
  // BITMAPINFOHEADER: the height counts the colour rows and the mask rows.
  for (std::uint32_t field : {40u, std::uint32_t{kSide}, std::uint32_t{kSide * 2}}) put32(image, field);
  put16(image, 1);
  put16(image, 32);
  for (std::uint32_t field : {0u, std::uint32_t{kSide * kSide * 4}, 0u, 0u, 0u, 0u}) put32(image, field);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      image += static_cast<char>((x * 5 + seed * 37) & 0xFF);
      image += static_cast<char>((y * 5 + seed * 11) & 0xFF);
      image += static_cast<char>((200 + seed * 53) & 0xFF);
      image += '\xFF';
    }
  }
  image.append(static_cast<std::size_t>((kSide + 31) / 32 * 4 * kSide), '\0');

  std::string ico;
  put16(ico, 0);
  put16(ico, 1);
  put16(ico, 1);
  ico += static_cast<char>(kSide);
  ico += static_cast<char>(kSide);
  ico += '\0';
  ico += '\0';
  put16(ico, 1);
  put16(ico, 32);
  put32(ico, static_cast<std::uint32_t>(image.size()));
  put32(ico, 22);
  return ico + image;
}

}  // namespace load

// The CRC-32 that PNG stores after every chunk (PNG format, "CRC algorithm": the polynomial of
// ISO 3309 and ITU-T V.42, bits reflected, register preset to all ones and inverted at the end),
// for the checks of PNG icon images and for the tests and tools that write such images.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace platform::executable {

namespace detail {
inline constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}();
}  // namespace detail

// The CRC of `bytes` following on from `crc`, the CRC of the bytes before them (0 for none):
// crc32(b, crc32(a)) is the CRC of a followed by b.
inline std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0) {
  crc = ~crc;
  for (const std::uint8_t byte : bytes) crc = detail::kCrcTable[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

}  // namespace platform::executable

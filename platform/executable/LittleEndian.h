// Little-endian fields of untrusted file bytes (PE, ICO and BMP records are little-endian). The
// caller has checked that `at` plus the field's width lies inside `bytes`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::executable {

inline std::uint16_t u16At(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline std::uint32_t u32At(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[at + 2]) << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

inline std::int32_t i32At(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::int32_t>(u32At(bytes, at));
}

}  // namespace platform::executable

// Little-endian fields of untrusted file bytes (PE, ICO and BMP records are little-endian), read
// by the checks of executables, the Linux image decoder and the tests and tools that look inside
// the files they build. `bytes` is any run of bytes indexed from 0 (std::span, std::vector or
// std::string); the caller has checked that `at` plus the field's width lies inside it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::executable {

template <typename Bytes>
std::uint16_t u16At(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                    (static_cast<std::uint8_t>(bytes[at + 1]) << 8));
}

template <typename Bytes>
std::uint32_t u32At(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(u16At(bytes, at)) | (static_cast<std::uint32_t>(u16At(bytes, at + 2)) << 16);
}

template <typename Bytes>
std::int32_t i32At(const Bytes& bytes, std::size_t at) {
  return static_cast<std::int32_t>(u32At(bytes, at));
}

}  // namespace platform::executable

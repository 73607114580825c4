// The stored layout of device-independent bitmap rows, shared by the executable checks and the
// Linux image decoder, so both agree on how many bytes an icon image's bitmaps take.
#pragma once

#include <cstdint>

namespace platform::executable {

// Bytes in one stored row of `width` pixels at `bits` per pixel: rows are padded to a multiple of
// 32 bits.
constexpr std::uint64_t rowBytes(std::uint64_t width, std::uint64_t bits) { return ((width * bits + 31) / 32) * 4; }

}  // namespace platform::executable

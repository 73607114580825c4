// The one reader of decimal numbers in text the program receives (header fields, status lines,
// ports, dates, dotted addresses): strict, whole-text, and refusing what does not fit.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace rt {

// Whether a leading "+" or "-" may come before the digits.
enum class Sign { None, Optional };

// The number that is the whole of `text`: ASCII digits only (with Sign::Optional, one "+" or "-"
// before them), within [low, high]. nullopt for an empty text, any other character (spaces
// included), or a value outside the range, one beyond 64 bits included. Leading zeros are read.
std::optional<std::int64_t> parseDecimal(std::u16string_view text, std::int64_t low, std::int64_t high,
                                         Sign sign = Sign::None);

}  // namespace rt

// The strict decimal reader.
#include "runtime/Decimal.h"

#include <limits>

namespace rt {

std::optional<std::int64_t> parseDecimal(std::u16string_view text, std::int64_t low, std::int64_t high, Sign sign) {
  bool negative = false;
  if (sign == Sign::Optional && !text.empty() && (text.front() == u'+' || text.front() == u'-')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Accumulated as a negative number so that the lowest 64-bit value fits too.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t result = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    const int digit = c - u'0';
    if (result < (kMin + digit) / 10) return std::nullopt;
    result = result * 10 - digit;
  }
  if (!negative) {
    if (result == kMin) return std::nullopt;
    result = -result;
  }
  if (result < low || result > high) return std::nullopt;
  return result;
}

}  // namespace rt

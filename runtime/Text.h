// Text helpers. Inside the program all text is UTF-16 (std::u16string); these functions are the
// only place where it meets bytes, each named after the encoding it speaks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

// UTF-16 -> UTF-8. Surrogate pairs become one 4-byte sequence; a lone surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);
// UTF-8 -> UTF-16. Malformed sequences become U+FFFD (one per maximal bad subpart).
std::u16string fromUtf8(std::string_view bytes);

// UTF-16 -> 7-bit ASCII: every code unit above U+007F becomes "?".
std::string toAscii7(std::u16string_view text);
// 7-bit ASCII -> UTF-16: bytes above 0x7F become "?".
std::u16string fromAscii7(std::string_view bytes);

// UTF-16 -> 8-bit: byte value = character code; characters above U+00FF become "?".
std::string toBytes8(std::u16string_view text);
// 8-bit -> UTF-16: one character per byte, character code = byte value.
std::u16string fromBytes8(std::string_view bytes);

// Plain ASCII literal or byte string -> UTF-16 (for fixed program texts).
std::u16string u16(std::string_view ascii);

// Locale-aware case mapping, one code unit at a time.
std::u16string upperCase(std::u16string_view text);
std::u16string lowerCase(std::u16string_view text);
// ASCII-only case-insensitive comparison (for protocol tokens such as header names).
bool sameTextAscii(std::u16string_view a, std::u16string_view b);

// Decimal text of an integer, "-" for negatives.
std::u16string intToText(std::int64_t value);
// General floating-point format with up to 15 significant digits, "." as decimal separator and
// the exponent written as "E" followed by its digits ("1E20", "1.5E-6").
std::u16string floatToText(double value);
// The shortest text that reads back as exactly `value` ("2.7", "0.30000000000000004", "1e+20").
std::u16string shortestFloatText(double value);

// Removes leading and trailing characters with a code of U+0020 or less.
std::u16string trim(std::u16string_view text);

}  // namespace rt

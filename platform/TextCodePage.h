// Conversions that depend on the system's locale rather than on a fixed encoding: the "ANSI"
// code page and locale-aware case mapping.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Text from bytes in the system's ANSI code page (UTF-8 on POSIX systems).
std::u16string fromAnsi(std::string_view bytes);

// Text to bytes in the system's ANSI code page; characters it cannot hold become "?".
std::string toAnsi(std::u16string_view text);

// Upper- and lower-case mapping of one UTF-16 code unit by the locale's rules.
char16_t upperChar(char16_t c);
char16_t lowerChar(char16_t c);

}  // namespace platform

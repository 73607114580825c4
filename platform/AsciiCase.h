// The ASCII case fold: what protocol tokens, file extensions, drive letters and the ASCII range of
// the locale's case mapping compare and map by. Only "A".."Z" and "a".."z" change; every other code
// unit, whatever the locale, is left as it is.
#pragma once

namespace platform {

// "A".."Z" as "a".."z"; any other code unit unchanged.
constexpr char16_t lowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c; }

// "a".."z" as "A".."Z"; any other code unit unchanged.
constexpr char16_t upperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c; }

}  // namespace platform

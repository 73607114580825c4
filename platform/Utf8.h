// The UTF-8 codec every layer shares. It sits in the platform library, the bottom of the
// dependency order, so that the platform's own text conversions and the runtime's use one codec.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-16 -> UTF-8. Surrogate pairs become one 4-byte sequence; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
// UTF-8 -> UTF-16. Malformed sequences become U+FFFD (one per maximal bad subpart, RFC 3629).
std::u16string utf8ToUtf16(std::string_view bytes);

}  // namespace platform

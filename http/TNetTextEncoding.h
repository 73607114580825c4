// The text encodings the HTTP client converts between text and bytes with, by number:
// 1 = 7-bit ASCII (the default), 2 = UTF-8, 3 = 8-bit (byte value = character code);
// 0 stands for the default of whoever converts.
#pragma once

#include <string>
#include <string_view>

#include "runtime/Text.h"

namespace net {

enum class TNetTextEncoding { Default = 0, Ascii7 = 1, Utf8 = 2, Bytes8 = 3 };

// Text -> bytes with `encoding` (Default = 7-bit ASCII).
inline std::string encodeText(std::u16string_view text, TNetTextEncoding encoding) {
  switch (encoding) {
    case TNetTextEncoding::Utf8: return rt::toUtf8(text);
    case TNetTextEncoding::Bytes8: return rt::toBytes8(text);
    default: return rt::toAscii7(text);
  }
}

// Bytes -> text with `encoding` (Default = 7-bit ASCII).
inline std::u16string decodeText(std::string_view bytes, TNetTextEncoding encoding) {
  switch (encoding) {
    case TNetTextEncoding::Utf8: return rt::fromUtf8(bytes);
    case TNetTextEncoding::Bytes8: return rt::fromBytes8(bytes);
    default: return rt::fromAscii7(bytes);
  }
}

}  // namespace net

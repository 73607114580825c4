// The "ANSI" code page on POSIX is UTF-8; case mapping follows the C.UTF-8 locale's tables.
#include "platform/TextCodePage.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

#include "platform/AsciiCase.h"
#include "platform/Utf8.h"

namespace platform {
namespace {

locale_t utf8Locale() {
  static const locale_t locale = [] {
    locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return made != static_cast<locale_t>(0) ? made : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

bool isSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

std::u16string fromAnsi(std::string_view bytes) { return utf8ToUtf16(bytes); }

std::string toAnsi(std::u16string_view text) { return utf16ToUtf8(text); }

char16_t upperChar(char16_t c) {
  if (c < 0x80) return upperAscii(c);
  if (isSurrogate(c)) return c;
  const wint_t mapped = towupper_l(static_cast<wint_t>(c), utf8Locale());
  return mapped <= 0xFFFF ? static_cast<char16_t>(mapped) : c;
}

char16_t lowerChar(char16_t c) {
  if (c < 0x80) return lowerAscii(c);
  if (isSurrogate(c)) return c;
  const wint_t mapped = towlower_l(static_cast<wint_t>(c), utf8Locale());
  return mapped <= 0xFFFF ? static_cast<char16_t>(mapped) : c;
}

}  // namespace platform

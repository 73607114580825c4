// The "ANSI" code page on POSIX is UTF-8; case mapping follows the C.UTF-8 locale's tables.
#include "platform/TextCodePage.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

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

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

// The platform layer sits below runtime/, so it carries its own small UTF-8 codec.
std::u16string fromAnsi(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    char32_t cp = 0xFFFD;
    size_t length = 1;
    if (lead < 0x80) {
      cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xF4) {
      const size_t need = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
      char32_t value = lead & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
      size_t k = 1;
      for (; k < need && i + k < bytes.size(); ++k) {
        const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
        if ((next & 0xC0) != 0x80) break;
        value = (value << 6) | (next & 0x3F);
      }
      length = k;
      const bool complete = k == need;
      const bool shortest = (need == 3 && value >= 0x800) || (need == 4 && value >= 0x10000) || need == 2;
      if (complete && shortest && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) cp = value;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += length;
  }
  return out;
}

std::string toAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (!isSurrogate(c)) {
      appendUtf8(out, c);
    } else if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      out += '?';
    }
  }
  return out;
}

char16_t upperChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (isSurrogate(c)) return c;
  const wint_t mapped = towupper_l(static_cast<wint_t>(c), utf8Locale());
  return mapped <= 0xFFFF ? static_cast<char16_t>(mapped) : c;
}

char16_t lowerChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (isSurrogate(c)) return c;
  const wint_t mapped = towlower_l(static_cast<wint_t>(c), utf8Locale());
  return mapped <= 0xFFFF ? static_cast<char16_t>(mapped) : c;
}

}  // namespace platform

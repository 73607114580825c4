// Text helpers: the encodings at the program's edges.
#include "runtime/Text.h"

#include <charconv>
#include <cstdio>

#include "platform/AsciiCase.h"
#include "platform/TextCodePage.h"
#include "platform/Utf8.h"

namespace rt {

std::string toUtf8(std::u16string_view text) { return platform::utf16ToUtf8(text); }

std::u16string fromUtf8(std::string_view bytes) { return platform::utf8ToUtf16(bytes); }

std::string toAscii7(std::u16string_view text) {
  std::string out(text.size(), '?');
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] < 0x80) out[i] = static_cast<char>(text[i]);
  }
  return out;
}

std::u16string fromAscii7(std::string_view bytes) {
  std::u16string out(bytes.size(), u'?');
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) out[i] = b;
  }
  return out;
}

std::string toBytes8(std::u16string_view text) {
  std::string out(text.size(), '?');
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] <= 0xFF) out[i] = static_cast<char>(text[i]);
  }
  return out;
}

std::u16string fromBytes8(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<unsigned char>(bytes[i]);
  return out;
}

std::u16string u16(std::string_view ascii) { return fromBytes8(ascii); }

std::u16string upperCase(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = platform::upperChar(c);
  return out;
}

std::u16string lowerCase(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = platform::lowerChar(c);
  return out;
}

bool sameTextAscii(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (platform::lowerAscii(a[i]) != platform::lowerAscii(b[i])) return false;
  return true;
}

std::u16string intToText(std::int64_t value) { return u16(std::to_string(value)); }

std::u16string shortestFloatText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return u16(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

std::u16string floatToText(double value) {
  if (value != value) return u"NAN";
  if (value == 1.0 / 0.0) return u"INF";
  if (value == -1.0 / 0.0) return u"-INF";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  // "1.5E-06" -> "1.5E-6", "1E+20" -> "1E20": no sign for positive exponents, no leading zeros.
  std::string text(buffer);
  const auto e = text.find('E');
  if (e == std::string::npos) return u16(text);
  std::string mantissa = text.substr(0, e);
  std::string exponent = text.substr(e + 1);
  std::string sign;
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
    if (exponent[0] == '-') sign = "-";
    exponent.erase(0, 1);
  }
  exponent.erase(0, exponent.find_first_not_of('0'));
  if (exponent.empty()) exponent = "0";
  return u16(mantissa + "E" + sign + exponent);
}

std::u16string trim(std::u16string_view text) {
  size_t first = 0, last = text.size();
  while (first < last && text[first] <= u' ') ++first;
  while (last > first && text[last - 1] <= u' ') --last;
  return std::u16string(text.substr(first, last - first));
}

}  // namespace rt

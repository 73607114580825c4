// Form parameter encoding: percent-encoding of form values and the joining of a parameter list
// into a form body.
#include "http/FormEncoding.h"

#include <cstdint>

#include "runtime/Text.h"

namespace net {
namespace {

constexpr std::u16string_view kUnsafe = u"*#%<> []";
// Characters a form decoder reads as syntax inside a value; encoded so that a value arrives as it
// was ("AT&T", "Notepad++", "a=b").
constexpr std::u16string_view kFormSyntax = u"&+=";

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool keptRaw(char16_t c) {
  if (kUnsafe.find(c) != std::u16string_view::npos) return false;
  if (kFormSyntax.find(c) != std::u16string_view::npos) return false;
  return c >= 0x21 && c <= 0x7F;
}

void appendByte(std::u16string& out, std::uint8_t byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += u'%';
  out += static_cast<char16_t>(kHex[byte >> 4]);
  out += static_cast<char16_t>(kHex[byte & 0x0F]);
}

// Appends the UTF-8 bytes of `codePoint` (at most U+10FFFF, never a surrogate) as escapes.
void appendCodePoint(std::u16string& out, std::uint32_t codePoint) {
  if (codePoint < 0x80) {
    appendByte(out, static_cast<std::uint8_t>(codePoint));
  } else if (codePoint < 0x800) {
    appendByte(out, static_cast<std::uint8_t>(0xC0 | (codePoint >> 6)));
    appendByte(out, static_cast<std::uint8_t>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    appendByte(out, static_cast<std::uint8_t>(0xE0 | (codePoint >> 12)));
    appendByte(out, static_cast<std::uint8_t>(0x80 | ((codePoint >> 6) & 0x3F)));
    appendByte(out, static_cast<std::uint8_t>(0x80 | (codePoint & 0x3F)));
  } else {
    appendByte(out, static_cast<std::uint8_t>(0xF0 | (codePoint >> 18)));
    appendByte(out, static_cast<std::uint8_t>(0x80 | ((codePoint >> 12) & 0x3F)));
    appendByte(out, static_cast<std::uint8_t>(0x80 | ((codePoint >> 6) & 0x3F)));
    appendByte(out, static_cast<std::uint8_t>(0x80 | (codePoint & 0x3F)));
  }
}

[[noreturn]] void throwSurrogateError(const char* kind, std::size_t position) {
  std::u16string message = rt::u16(kind);
  message += rt::intToText(static_cast<std::int64_t>(position));
  message += u". Check that the string is encoded properly";
  throw EEncodingError(std::move(message));
}

}  // namespace

std::u16string EncodeParamValue(std::u16string_view value) {
  std::u16string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char16_t c = value[i];
    if (keptRaw(c)) {
      out += c;
      continue;
    }
    if (isHighSurrogate(c)) {
      if (i + 1 >= value.size() || !isLowSurrogate(value[i + 1]))
        throwSurrogateError("High surrogate char without a following low surrogate char at index: ", i + 1);
      const std::uint32_t codePoint = 0x10000 + ((static_cast<std::uint32_t>(c) - 0xD800) << 10) +
                                      (static_cast<std::uint32_t>(value[i + 1]) - 0xDC00);
      appendCodePoint(out, codePoint);
      ++i;
      continue;
    }
    if (isLowSurrogate(c))
      throwSurrogateError("Low surrogate char without a preceding high surrogate char at index: ", i + 1);
    appendCodePoint(out, c);
  }
  return out;
}

void EncodeFormFields(rt::TStringList& list) {
  for (int i = 0; i < list.Count(); ++i) {
    std::u16string& line = list[i];
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string::npos) continue;
    line = line.substr(0, equals + 1) + EncodeParamValue(std::u16string_view(line).substr(equals + 1));
  }
}

std::u16string BuildFormText(rt::TStringList& list, TNetHTTPOptions options) {
  if (options.Contains(TNetHTTPOption::hoForceEncodeParams)) EncodeFormFields(list);
  std::u16string text = rt::trim(list.Text());
  if (list.Count() < 2) return text;

  std::u16string joined;
  joined.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      joined += u'&';
      ++i;
      continue;
    }
    joined += text[i];
  }
  return joined;
}

}  // namespace net

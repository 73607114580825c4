// The ANSI code page and case mapping on Windows: MultiByteToWideChar and WideCharToMultiByte with
// CP_ACP, CharUpperBuffW and CharLowerBuffW (the user's locale rules).
#include "platform/TextCodePage.h"

#include <climits>
#include <cstdint>

#include "platform/AsciiCase.h"
#include "platform/Utf8.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

bool isSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The ANSI code page may be UTF-8 (a system setting since Windows 10), which refuses the
// default-character argument; the shared codec gives the same result there.
bool ansiIsUtf8() { return GetACP() == CP_UTF8; }

// What a conversion may produce at most, so that an answer of the system's size query above it
// is refused rather than allocated. A byte of any ANSI code page gives at most one UTF-16 unit
// (a double-byte character gives one, a four-byte GB 18030 sequence two); a UTF-16 unit gives at
// most four bytes (GB 18030 again; double-byte code pages give two).
constexpr std::int64_t kMostUnitsPerByte = 1;
constexpr std::int64_t kMostBytesPerUnit = 4;

}  // namespace

std::u16string fromAnsi(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (ansiIsUtf8() || bytes.size() > INT_MAX) return utf8ToUtf16(bytes);
  const int count = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), count, nullptr, 0);
  if (length <= 0 || length > kMostUnitsPerByte * count) return {};
  std::u16string text(static_cast<std::size_t>(length), u'\0');
  const int written = MultiByteToWideChar(CP_ACP, 0, bytes.data(), count, win32::wide(text.data()), length);
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

std::string toAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  if (ansiIsUtf8() || text.size() > INT_MAX) return utf16ToUtf8(text);
  const auto* source = reinterpret_cast<const wchar_t*>(text.data());
  const int count = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_ACP, 0, source, count, nullptr, 0, "?", nullptr);
  if (length <= 0 || length > kMostBytesPerUnit * count) return {};
  std::string bytes(static_cast<std::size_t>(length), '\0');
  const int written = WideCharToMultiByte(CP_ACP, 0, source, count, bytes.data(), length, "?", nullptr);
  bytes.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return bytes;
}

char16_t upperChar(char16_t c) {
  if (c < 0x80) return upperAscii(c);
  if (isSurrogate(c)) return c;
  wchar_t unit = static_cast<wchar_t>(c);
  CharUpperBuffW(&unit, 1);
  return static_cast<char16_t>(unit);
}

char16_t lowerChar(char16_t c) {
  if (c < 0x80) return lowerAscii(c);
  if (isSurrogate(c)) return c;
  wchar_t unit = static_cast<wchar_t>(c);
  CharLowerBuffW(&unit, 1);
  return static_cast<char16_t>(unit);
}

}  // namespace platform

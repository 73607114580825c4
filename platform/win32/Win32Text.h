// Text at the Win32 boundary, for the platform/win32 files only. On Windows wchar_t is a UTF-16
// code unit like char16_t, so the program's text goes to the wide ("W") calls as it is.
#pragma once

#include "platform/win32/WindowsSetup.h"  // before windows.h
#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

inline std::u16string fromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string fromWide(const wchar_t* text) { return text ? fromWide(text, std::wcslen(text)) : std::u16string(); }

// The longest message text taken from the system. FormatMessageW's own buffers hold at most 64 KB
// (32K units); a longer answer is not one of its messages, and nothing is copied from it.
inline constexpr DWORD kLongestSystemMessage = 32 * 1024;

// The system's message text for error `code` (FormatMessageW), with the trailing line break and
// full stop removed, as the runtime's error messages quote it ("Cannot open file "x". <text>").
inline std::u16string systemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const bool usable = buffer != nullptr && length > 0 && length <= kLongestSystemMessage;
  std::u16string text = usable ? fromWide(buffer, length) : std::u16string();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.pop_back();
  return text;
}

}  // namespace platform::win32

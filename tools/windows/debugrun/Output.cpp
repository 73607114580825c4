// Output of debugrun. A console gets UTF-16 through WriteConsoleW; a pipe or a file (how tests
// and Wine's Unix side read it) gets UTF-8 bytes through WriteFile, unbuffered, so the order of
// lines on standard output and standard error is the order of the events.
#include "Output.h"

#include <windows.h>

#include <cstdio>

namespace debugrun {
namespace {

void writeTo(DWORD which, const std::wstring& text) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    DWORD written = 0;
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = toUtf8(text);
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
        written == 0)
      return;
    done += written;
  }
}

std::wstring escaped(const std::wstring& line) {
  std::wstring out;
  out.reserve(line.size());
  for (const wchar_t c : line) {
    if (c == L'\r') {
      out += L"\\r";
    } else if (c == L'\n') {
      out += L"\\n";
    } else if ((c < 0x20 && c != L'\t') || c == 0x7F) {
      wchar_t code[8];
      std::swprintf(code, 8, L"\\x%02x", static_cast<unsigned>(c));
      out += code;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void writeDebugLine(const std::wstring& line) { writeTo(STD_OUTPUT_HANDLE, escaped(line) + L"\n"); }

void writeReport(const std::wstring& report) { writeTo(STD_ERROR_HANDLE, L"debugrun: " + report + L"\n"); }

std::string toUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::wstring fromAnsi(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

}  // namespace debugrun

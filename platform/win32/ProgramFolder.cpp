// The program folder on Windows: the path of the program's own module (GetModuleFileNameW).
#include "platform/ProgramFolder.h"

#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

// The longest path the system accepts, in UTF-16 units.
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::u16string executablePath() {
  // A path longer than MAX_PATH is not cut: a full buffer means it did not fit, so it is asked
  // again with twice the room.
  std::u16string buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, win32::wide(buffer.data()), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return buffer.substr(0, length);
    if (buffer.size() >= kLongestPath) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string programFolder() {
  const std::u16string path = executablePath();
  const auto cut = path.find_last_of(u"\\:");
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
}

char16_t pathSeparator() { return u'\\'; }

}  // namespace platform

// Local time and ticks on Windows: GetLocalTime, GetTickCount64 and Sleep.
#include "platform/LocalTime.h"

#include <algorithm>

#include "platform/win32/Win32Text.h"

namespace platform {

LocalTime localTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

long long tickCount() { return static_cast<long long>(GetTickCount64()); }

void sleepMilliseconds(long long milliseconds) {
  // Sleep takes a 32-bit count whose largest value means "forever": longer waits go in pieces.
  constexpr long long kLongestPiece = 0x7FFFFFFF;
  while (milliseconds > 0) {
    const long long piece = std::min(milliseconds, kLongestPiece);
    Sleep(static_cast<DWORD>(piece));
    milliseconds -= piece;
  }
}

}  // namespace platform

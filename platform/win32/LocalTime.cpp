// Local time and ticks on Windows: GetLocalTime and GetTickCount64.
#include "platform/LocalTime.h"

#include "platform/win32/Win32Text.h"

namespace platform {

LocalTime localTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

long long tickCount() { return static_cast<long long>(GetTickCount64()); }

}  // namespace platform

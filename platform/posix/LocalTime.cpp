// Local time and ticks on POSIX: clock_gettime with localtime_r.
#include "platform/LocalTime.h"

#include <ctime>

namespace platform {

LocalTime localTime() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts {};
  localtime_r(&now.tv_sec, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
          parts.tm_min,         parts.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

long long tickCount() {
  timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace platform

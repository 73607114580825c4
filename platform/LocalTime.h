// The local wall-clock time, to the millisecond.
#pragma once

namespace platform {

struct LocalTime {
  int year;         // e.g. 2013
  int month;        // 1..12
  int day;          // 1..31
  int hour;         // 0..23
  int minute;       // 0..59
  int second;       // 0..59
  int millisecond;  // 0..999
};

LocalTime localTime();

// Milliseconds from an arbitrary fixed point; only differences are meaningful.
long long tickCount();

}  // namespace platform

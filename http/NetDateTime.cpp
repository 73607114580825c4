// Date-time values and internet date texts.
#include "http/NetDateTime.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/LocalTime.h"
#include "runtime/Decimal.h"
#include "runtime/Text.h"

namespace net {
namespace {

constexpr double kUnixEpoch = 25569.0;  // 1970-01-01 as a date-time value
constexpr double kSecondsPerDay = 86400.0;
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

struct Civil {
  std::int64_t year;
  int month;
  int day;
};

Civil civilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yearOfEra + era * 400 + (month <= 2), month, day};
}

double utcNow() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpoch + std::chrono::duration<double>(since).count() / kSecondsPerDay;
}

// Local time minus UTC, in days, rounded to the minute.
double localOffset() {
  const double offsetMinutes = std::round((localNow() - utcNow()) * 1440.0);
  return offsetMinutes / 1440.0;
}

void appendTwoDigits(std::u16string& out, int value) {
  out += static_cast<char16_t>(u'0' + value / 10 % 10);
  out += static_cast<char16_t>(u'0' + value % 10);
}

// The value of a token of one to `maxDigits` decimal digits; nullopt for anything else.
std::optional<int> digitsUpTo(std::u16string_view text, std::size_t maxDigits) {
  if (text.size() > maxDigits) return std::nullopt;
  const auto value = rt::parseDecimal(text, 0, 9999);
  if (!value) return std::nullopt;
  return static_cast<int>(*value);
}

int monthNumber(std::u16string_view token) {
  if (token.size() < 3) return 0;
  for (int m = 0; m < 12; ++m)
    if (rt::sameTextAscii(token.substr(0, 3), rt::u16(kMonths[m]))) return m + 1;
  return 0;
}

// "hh:mm:ss" -> seconds of the day, -1 when malformed.
int timeOfDay(std::u16string_view token) {
  if (token.size() != 8 || token[2] != u':' || token[5] != u':') return -1;
  const auto h = token.substr(0, 2), m = token.substr(3, 2), s = token.substr(6, 2);
  const auto hour = digitsUpTo(h, 2), minute = digitsUpTo(m, 2), second = digitsUpTo(s, 2);
  if (!hour || !minute || !second) return -1;
  if (*hour > 23 || *minute > 59 || *second > 60) return -1;
  return *hour * 3600 + *minute * 60 + *second;
}

std::vector<std::u16string_view> tokens(std::u16string_view text) {
  std::vector<std::u16string_view> result;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == u' ' || text[i] == u',' || text[i] == u'\t')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != u' ' && text[i] != u',' && text[i] != u'\t') ++i;
    if (i > start) result.push_back(text.substr(start, i - start));
  }
  return result;
}

}  // namespace

TDateTime localNow() {
  const platform::LocalTime t = platform::localTime();
  const double days = static_cast<double>(daysFromCivil(t.year, t.month, t.day));
  const double seconds = t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0;
  return kUnixEpoch + days + seconds / kSecondsPerDay;
}

std::u16string internetDateText(TDateTime localTime) {
  // Keep the text within years 1..9999 whatever the value holds.
  constexpr double kFirstDay = -693593.0, kLastDay = 2958465.0;  // 0001-01-01, 9999-12-31
  double utc = localTime - localOffset();
  if (!(utc >= kFirstDay)) utc = kFirstDay;
  if (utc >= kLastDay + 1) utc = kLastDay + 86399.0 / kSecondsPerDay;
  const double sinceEpoch = (utc - kUnixEpoch) * kSecondsPerDay;
  const auto totalSeconds = static_cast<std::int64_t>(std::floor(sinceEpoch + 0.5));
  std::int64_t days = totalSeconds / 86400;
  std::int64_t secondOfDay = totalSeconds % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  const Civil date = civilFromDays(days);
  const int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday

  std::u16string out = rt::u16(kDays[weekday]);
  out += u", ";
  appendTwoDigits(out, date.day);
  out += u' ';
  out += rt::u16(kMonths[date.month - 1]);
  out += u' ';
  out += rt::intToText(date.year);
  out += u' ';
  appendTwoDigits(out, static_cast<int>(secondOfDay / 3600));
  out += u':';
  appendTwoDigits(out, static_cast<int>(secondOfDay / 60 % 60));
  out += u':';
  appendTwoDigits(out, static_cast<int>(secondOfDay % 60));
  out += u" GMT";
  return out;
}

TDateTime parseInternetDate(std::u16string_view text) {
  int day = 0, month = 0, seconds = -1, zoneMinutes = 0;
  std::int64_t year = -1;
  for (std::u16string_view token : tokens(text)) {
    // RFC 850 writes the date as one token: "06-Nov-94".
    const std::size_t dash = token.find(u'-');
    if (dash != std::u16string_view::npos && dash > 0 && monthNumber(token.substr(dash + 1)) != 0) {
      const std::size_t dash2 = token.find(u'-', dash + 1);
      if (dash2 == std::u16string_view::npos) return 0;
      const auto d = token.substr(0, dash), y = token.substr(dash2 + 1);
      const auto dayNumber = digitsUpTo(d, 2), yearNumber = digitsUpTo(y, 4);
      if (!dayNumber || !yearNumber) return 0;
      day = *dayNumber;
      month = monthNumber(token.substr(dash + 1, dash2 - dash - 1));
      year = *yearNumber;
      if (y.size() == 2) year += year < 50 ? 2000 : 1900;
      continue;
    }
    if (token.find(u':') != std::u16string_view::npos) {
      seconds = timeOfDay(token);
      if (seconds < 0) return 0;
      continue;
    }
    const auto zone = token.size() == 5 ? digitsUpTo(token.substr(1), 4) : std::nullopt;
    if ((token.front() == u'+' || token.front() == u'-') && zone) {
      zoneMinutes = (*zone / 100 * 60 + *zone % 100) * (token.front() == u'-' ? -1 : 1);
      continue;
    }
    // A number of more than four digits spoils the date; tokens are never empty.
    if (token.find_first_not_of(u"0123456789") == std::u16string_view::npos) {
      const auto number = digitsUpTo(token, 4);
      if (!number) return 0;
      if (day == 0 && token.size() <= 2) {
        day = *number;
      } else if (year < 0) {
        year = *number;
        if (token.size() == 2) year += year < 50 ? 2000 : 1900;
      } else {
        return 0;
      }
      continue;
    }
    if (month == 0 && monthNumber(token) != 0 && token.size() == 3) {
      month = monthNumber(token);
      continue;
    }
    // Weekday names and zone names (GMT, UT, UTC, Z) carry nothing we need.
  }
  if (day < 1 || day > 31 || month == 0 || year < 1 || seconds < 0) return 0;

  const double utc = kUnixEpoch + static_cast<double>(daysFromCivil(year, month, day)) +
                     (seconds - zoneMinutes * 60.0) / kSecondsPerDay;
  return utc + localOffset();
}

}  // namespace net

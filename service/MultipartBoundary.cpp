// The multipart boundary and its choice against the parts' bytes.
#include "service/MultipartBoundary.h"

#include <algorithm>
#include <chrono>

#include "runtime/Text.h"

namespace service {
namespace {

namespace chrono = std::chrono;

// A delimiter line of this layout: CR LF, "--", the boundary's eight hyphens, then its stamp.
constexpr std::string_view kDelimiterLead = "\r\n----------";
constexpr size_t kStampLength = 15;
constexpr size_t kDelimiterLength = kDelimiterLead.size() + kStampLength;

void appendDigits(std::string& to, int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  to += digits;
}

// mmddyyhhnnsszzz
std::string stampOf(const platform::LocalTime& time) {
  std::string stamp;
  appendDigits(stamp, time.month, 2);
  appendDigits(stamp, time.day, 2);
  appendDigits(stamp, time.year % 100, 2);
  appendDigits(stamp, time.hour, 2);
  appendDigits(stamp, time.minute, 2);
  appendDigits(stamp, time.second, 2);
  appendDigits(stamp, time.millisecond, 3);
  return stamp;
}

// One millisecond later on the calendar, across second, day, month and year ends.
platform::LocalTime followingMillisecond(const platform::LocalTime& time) {
  const chrono::local_days day{chrono::year(time.year) / time.month / time.day};
  const auto next = day + chrono::hours(time.hour) + chrono::minutes(time.minute) + chrono::seconds(time.second) +
                    chrono::milliseconds(time.millisecond + 1);
  const auto nextDay = chrono::floor<chrono::days>(next);
  const chrono::year_month_day date{nextDay};
  const chrono::hh_mm_ss clock{next - nextDay};
  return {static_cast<int>(date.year()),
          static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day())),
          static_cast<int>(clock.hours().count()),
          static_cast<int>(clock.minutes().count()),
          static_cast<int>(clock.seconds().count()),
          static_cast<int>(clock.subseconds().count())};
}

bool allDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

MultipartBoundary::MultipartBoundary(const platform::LocalTime& created)
    : time_(created), stamp_(stampOf(created)), text_(u"--------" + rt::u16(stamp_)) {}

// Notes the stamp after every delimiter lead in `text` that begins before `before` and has its
// whole stamp there.
void MultipartBoundary::collect(std::string_view text, size_t before) {
  for (size_t at = text.find(kDelimiterLead); at < before && at != std::string_view::npos;
       at = text.find(kDelimiterLead, at + 1)) {
    const std::string_view stamp = text.substr(at + kDelimiterLead.size(), kStampLength);
    if (stamp.size() == kStampLength && allDigits(stamp)) held_.emplace(stamp);
  }
}

// The piece is searched where it lies; only the few bytes where two pieces meet are copied
// (copying every piece whole cost the upload 3% of its CPU time).
void MultipartBoundary::Scan(std::string_view piece) {
  if (!carry_.empty()) {
    // A delimiter begun in the end of the previous piece and finished in this one.
    std::string junction = carry_;
    junction.append(piece.substr(0, kDelimiterLength - 1));
    collect(junction, carry_.size());
  }
  collect(piece, std::string_view::npos);
  // A delimiter cut short by the piece's end is found again, whole, with the next piece.
  constexpr size_t keep = kDelimiterLength - 1;
  if (piece.size() >= keep) {
    carry_.assign(piece.substr(piece.size() - keep));
    return;
  }
  carry_.append(piece);
  if (carry_.size() > keep) carry_.erase(0, carry_.size() - keep);
}

void MultipartBoundary::EndPart() {
  carry_.clear();
  if (!held_.contains(stamp_)) return;
  while (held_.contains(stamp_)) {
    time_ = followingMillisecond(time_);
    stamp_ = stampOf(time_);
  }
  text_ = u"--------" + rt::u16(stamp_);
}

}  // namespace service

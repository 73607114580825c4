// The multipart body's boundary: eight hyphens and a local time as mmddyyhhnnsszzz, chosen so
// that no part of the body holds its delimiter line.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "platform/LocalTime.h"

namespace service {

// Starts as the boundary of the creation time. The parts' bytes are shown to it before the body
// is sent; wherever they hold "\r\n--" and a boundary of this layout, that boundary is never
// taken, and the time moves on a millisecond at a time until the boundary is one no part holds.
// (A part that held the delimiter of the boundary in use, an icon's pixels for instance, would
// otherwise end itself there and go on as parts of its own choosing.) An ordinary body keeps the
// boundary of its creation time.
class MultipartBoundary {
 public:
  explicit MultipartBoundary(const platform::LocalTime& created);

  // "--------" and the stamp of the time chosen so far; always 23 characters.
  const std::u16string& Text() const { return text_; }

  // The next piece of one part's bytes, in order; a delimiter may straddle two pieces.
  void Scan(std::string_view piece);
  // Ends the part whose pieces were scanned, and moves the boundary past every stamp some part
  // holds.
  void EndPart();

 private:
  void collect(std::string_view text, size_t before);

  platform::LocalTime time_;
  std::string stamp_;
  std::u16string text_;
  std::string carry_;           // the end of the part's last piece, where a delimiter may begin
  std::set<std::string> held_;  // stamps whose delimiter occurs in a part
};

}  // namespace service

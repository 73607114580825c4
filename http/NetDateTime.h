// Date-time values of the header objects and the internet date texts of the "Date", "Expires",
// "Last-Modified" and "If-Modified-Since" headers (RFC 9110 section 5.6.7).
//
// A date-time value counts days (with the time as the fraction) from 1899-12-30 00:00 local time;
// 0 means "no date".
#pragma once

#include <string>
#include <string_view>

namespace net {

using TDateTime = double;

// The local wall-clock time now.
TDateTime localNow();

// The IMF-fixdate text of a local date-time value: "Sun, 06 Nov 1994 08:49:37 GMT".
std::u16string internetDateText(TDateTime localTime);

// Reads an IMF-fixdate, an RFC 850 date or an asctime date (the three forms a recipient must
// accept, RFC 9110 section 5.6.7); a trailing numeric zone ("+0200") is honoured as well. Gives
// the local date-time value, or 0 when the text is not such a date.
TDateTime parseInternetDate(std::u16string_view text);

}  // namespace net

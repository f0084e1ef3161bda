// The Date header of an HTTP response as a time (RFC 9110, section 5.6.7): the IMF-fixdate
// every server sends, and the two obsolete forms a recipient must still accept. Plain text
// in, seconds out; nothing else is a date.
#pragma once

#include <cstddef>
#include <cstdint>

namespace timelib {

// Reads text (the header's value, without surrounding blanks) as
//   IMF-fixdate  "Sun, 06 Nov 1994 08:49:37 GMT"
//   RFC 850      "Sunday, 06-Nov-94 08:49:37 GMT"  (the year taken within 50 years of now_year)
//   asctime      "Sun Nov  6 08:49:37 1994"
// into seconds since 1970. False for any other text or an impossible date or time.
bool ParseHttpDate(const char* text, std::size_t length, std::int32_t now_year,
                   std::int64_t* seconds);

} // namespace timelib

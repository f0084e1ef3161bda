// The Date header of an HTTP response as a time (RFC 9110, section 5.6.7): the IMF-fixdate
// every server sends, and the two obsolete forms a recipient must still accept; and the Age
// header a cache adds (RFC 9111, section 5.1). Plain text in, seconds out; nothing else is a
// date or an age.
#pragma once

#include <cstddef>
#include <cstdint>

namespace timelib {

// Reads text (the header's value, without surrounding blanks) as
//   IMF-fixdate  "Sun, 06 Nov 1994 08:49:37 GMT"
//   RFC 850      "Sunday, 06-Nov-94 08:49:37 GMT"  (the year taken within 50 years of now_year)
//   asctime      "Sun Nov  6 08:49:37 1994"
// into seconds since 1970. False for any other text, a year outside 1970-2105, a day the
// month does not have, a weekday that is not the date's, or second 60 anywhere but 23:59:60.
bool ParseHttpDate(const char* text, std::size_t length, std::int32_t now_year,
                   std::int64_t* seconds);

// The largest Age taken: 2^31 - 1 seconds (68 years), which a Date of 2105 plus the
// nanoseconds of both still holds in 64 bits.
constexpr std::int64_t MaxHttpAgeSeconds = 2147483647;

// Reads text (the Age header's value, without surrounding blanks) as whole seconds: one or
// more digits. False for anything else, an empty text, or more than MaxHttpAgeSeconds.
bool ParseHttpAge(const char* text, std::size_t length, std::int64_t* seconds);

} // namespace timelib

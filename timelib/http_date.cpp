#include "timelib/http_date.h"

#include "runtime/calendar.h"

#include <cstring>

namespace timelib {
namespace {

constexpr const char* ShortDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char* LongDays[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                    "Friday", "Saturday", "Sunday"};
constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A cursor over the text; every read checks what is left.
struct Reader {
    const char* at;
    const char* end;

    bool Literal(const char* word) {
        const std::size_t n = std::strlen(word);
        if (static_cast<std::size_t>(end - at) < n || std::memcmp(at, word, n) != 0)
            return false;
        at += n;
        return true;
    }
    // One of the words (case-sensitive, as the grammar says), its index in *which; false
    // when none is there.
    bool OneOf(const char* const* words, int count, std::int32_t* which) {
        for (int i = 0; i < count; ++i) {
            if (Literal(words[i])) {
                *which = i;
                return true;
            }
        }
        return false;
    }
    bool Digits(int count, std::int32_t* value) {
        if (end - at < count)
            return false;
        *value = 0;
        for (int i = 0; i < count; ++i, ++at) {
            if (*at < '0' || *at > '9')
                return false;
            *value = *value * 10 + (*at - '0');
        }
        return true;
    }
    bool Month(std::int32_t* month) {
        for (int i = 0; i < 12; ++i) {
            if (Literal(Months[i])) {
                *month = i + 1;
                return true;
            }
        }
        return false;
    }
    // hour ":" minute ":" second
    bool TimeOfDay(std::int32_t* h, std::int32_t* m, std::int32_t* s) {
        return Digits(2, h) && Literal(":") && Digits(2, m) && Literal(":") && Digits(2, s);
    }
    bool AtEnd() const { return at == end; }
};

bool IsLeapYear(std::int32_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// The years a Date may name: from 1970 to the last whole year of unsigned 32-bit seconds.
constexpr std::int32_t FirstYear = 1970;
constexpr std::int32_t LastYear = 2105;

// The fields name a moment that exists, on the weekday named (0 = Monday, as in ShortDays).
bool Valid(std::int32_t weekday, std::int32_t year, std::int32_t month, std::int32_t day,
           std::int32_t h, std::int32_t m, std::int32_t s) {
    static const std::int32_t days_in_month[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    // Step 1: a year this system's times can hold; so no arithmetic below can overflow.
    if (year < FirstYear || year > LastYear)
        return false;
    // Step 2: a day the month has.
    const std::int32_t last = days_in_month[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    if (day < 1 || day > last)
        return false;
    // Step 3: a time of day; second 60 only as a leap second, at the day's last minute.
    if (h > 23 || m > 59 || s > 60 || (s == 60 && (h != 23 || m != 59)))
        return false;
    // Step 4: the weekday the date falls on; 1970-01-01 was a Thursday (3 counted from Monday).
    const std::int64_t days = runtime::SecondsFromCivil(year, month, day, 0, 0, 0) / 86400;
    return (days + 3) % 7 == weekday;
}

} // namespace

bool ParseHttpDate(const char* text, std::size_t length, std::int32_t now_year,
                   std::int64_t* seconds) {
    std::int32_t weekday = 0, year = 0, month = 0, day = 0, h = 0, m = 0, s = 0;
    const Reader start{text, text + length};
    bool ok = false;
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT".
    Reader r = start;
    if (r.OneOf(ShortDays, 7, &weekday) && r.Literal(", ") && r.Digits(2, &day) && r.Literal(" ") &&
        r.Month(&month) && r.Literal(" ") && r.Digits(4, &year) && r.Literal(" ") &&
        r.TimeOfDay(&h, &m, &s) && r.Literal(" GMT") && r.AtEnd()) {
        ok = true;
    }
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"; the century is the one that puts the year
    // within 50 years of now.
    r = start;
    if (!ok && r.OneOf(LongDays, 7, &weekday) && r.Literal(", ") && r.Digits(2, &day) &&
        r.Literal("-") && r.Month(&month) && r.Literal("-") && r.Digits(2, &year) &&
        r.Literal(" ") && r.TimeOfDay(&h, &m, &s) && r.Literal(" GMT") && r.AtEnd()) {
        year += now_year - now_year % 100;
        if (year > now_year + 50)
            year -= 100;
        else if (year <= now_year - 50)
            year += 100;
        ok = true;
    }
    // asctime: "Sun Nov  6 08:49:37 1994", a one-digit day after a blank.
    r = start;
    if (!ok && r.OneOf(ShortDays, 7, &weekday) && r.Literal(" ") && r.Month(&month) &&
        r.Literal(" ")) {
        const bool one_digit = r.Literal(" ");
        ok = r.Digits(one_digit ? 1 : 2, &day) && r.Literal(" ") && r.TimeOfDay(&h, &m, &s) &&
             r.Literal(" ") && r.Digits(4, &year) && r.AtEnd();
    }
    if (!ok || !Valid(weekday, year, month, day, h, m, s))
        return false;
    *seconds = runtime::SecondsFromCivil(year, month, day, h, m, s);
    return true;
}

bool ParseHttpAge(const char* text, std::size_t length, std::int64_t* seconds) {
    if (length == 0)
        return false;
    std::int64_t value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        // Leading zeros are allowed; the value is checked before it can grow past the limit.
        value = value * 10 + (text[i] - '0');
        if (value > MaxHttpAgeSeconds)
            return false;
    }
    *seconds = value;
    return true;
}

} // namespace timelib

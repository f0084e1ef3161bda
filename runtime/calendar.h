// Calendar arithmetic on time values: signed 32-bit seconds since 1970-01-01 00:00:00, taken
// apart as UTC in the proleptic Gregorian calendar, every day 86,400 seconds. -1 marks an
// invalid date; a negative value has no calendar fields. Beside them, one 64-bit path that
// takes any time apart, before 1970 and after 2038 too. Only LocalNow reads a clock.
#pragma once

#include <cstdint>

namespace runtime {

using TimeValue = std::int32_t;

constexpr TimeValue InvalidTime = -1;

// Seconds since 1970 for the given fields (1970-01-01 to 2038-01-18 23:59:59); -1 if invalid.
TimeValue MakeTime(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t hour,
                   std::int32_t minute, std::int32_t second);

// The local wall-clock time counted as if it were UTC, whole seconds; -1 outside the range.
TimeValue LocalNow();

// The same month, day and time of day years later; a day missing in the target month moves
// back to the month's last day. -1 for -1 or a target out of range; other negatives unchanged.
TimeValue AddYears(TimeValue time, std::int32_t years);

// Calendar fields as UTC.
struct CivilTime {
    std::int32_t year;    // the full year (proleptic Gregorian; 0 is 1 BC)
    std::int32_t month;   // 1 to 12
    std::int32_t day;     // 1 to 31
    std::int32_t hour;    // 0 to 23
    std::int32_t minute;  // 0 to 59
    std::int32_t second;  // 0 to 59
    std::int32_t weekday; // 0 = Sunday to 6 = Saturday
    std::int32_t yearday; // 1 to 366
};

// The fields of any second since 1970 (negative before it) whose year fits 32 bits.
CivilTime CivilFromSeconds(std::int64_t seconds);

// Seconds since 1970 of valid calendar fields of any year (the inverse of CivilFromSeconds).
std::int64_t SecondsFromCivil(std::int32_t year, std::int32_t month, std::int32_t day,
                              std::int32_t hour, std::int32_t minute, std::int32_t second);

// Fields of a time value as UTC; each returns 0 for a negative value.
std::int32_t YearOf(TimeValue time);    // 1970 to 2038
std::int32_t MonthOf(TimeValue time);   // 1 to 12
std::int32_t DayOf(TimeValue time);     // 1 to 31
std::int32_t HourOf(TimeValue time);    // 0 to 23
std::int32_t MinuteOf(TimeValue time);  // 0 to 59
std::int32_t SecondOf(TimeValue time);  // 0 to 59
std::int32_t WeekdayOf(TimeValue time); // 0 = Sunday to 6 = Saturday
std::int32_t YeardayOf(TimeValue time); // 1 to 366

} // namespace runtime

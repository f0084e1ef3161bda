#include "runtime/calendar.h"

#include "platform/system_time.h"

namespace runtime {
namespace {

constexpr std::int32_t SecondsPerDay = 86400;

bool IsLeapYear(std::int32_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar. Years are
// counted from March so that the leap day ends a year (after H. Hinnant's days_from_civil).
std::int32_t DaysFromCivil(std::int32_t year, std::int32_t month, std::int32_t day) {
    const std::int32_t y = month <= 2 ? year - 1 : year;
    const std::int32_t era = y / 400; // y >= 1969 here, so no rounding towards zero issue
    const std::int32_t year_of_era = y - era * 400;
    const std::int32_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int32_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// Floor division, so times and days before 1970 fall into the day, era and year they belong to.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

TimeValue MakeTime(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t hour,
                   std::int32_t minute, std::int32_t second) {
    // The range of built values: 1970-01-01 to 2038-01-18, the last whole day that fits.
    if (year < 1970 || year > 2038)
        return InvalidTime;
    if (year == 2038 && (month > 1 || day > 18))
        return InvalidTime;
    // Each field within its own bounds; negative values fail here.
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        return InvalidTime;
    // Short months, and 29 February only in leap years.
    if (day == 31 && (month == 4 || month == 6 || month == 9 || month == 11))
        return InvalidTime;
    if (month == 2 && (day > 29 || (day == 29 && !IsLeapYear(year))))
        return InvalidTime;
    return DaysFromCivil(year, month, day) * SecondsPerDay + hour * 3600 + minute * 60 + second;
}

TimeValue LocalNow() {
    platform::SystemTime now{};
    platform::system_time_ops.get_local_time(&now);
    // The milliseconds are dropped; the wall-clock fields count as if they were UTC.
    return MakeTime(now.year, now.month, now.day, now.hour, now.minute, now.second);
}

TimeValue AddYears(TimeValue time, std::int32_t years) {
    if (time == InvalidTime)
        return InvalidTime;
    if (time < 0)
        return time;
    const CivilTime f = CivilFromSeconds(time);
    // Whole years move only the year (the month stays). Counting in 64 bits keeps a huge
    // years argument from overflowing; a year outside MakeTime's range fails there anyway.
    const std::int64_t target_year = static_cast<std::int64_t>(f.year) + years;
    if (target_year < 1970 || target_year > 2038)
        return InvalidTime;
    const auto year = static_cast<std::int32_t>(target_year);
    // A day missing in the target month moves back towards 28: 29 February becomes the 28th.
    for (std::int32_t day = f.day;; --day) {
        const TimeValue result = MakeTime(year, f.month, day, f.hour, f.minute, f.second);
        if (result != InvalidTime)
            return result;
        if (day - 1 < 28)
            return InvalidTime;
    }
}

std::int64_t SecondsFromCivil(std::int32_t year, std::int32_t month, std::int32_t day,
                              std::int32_t hour, std::int32_t minute, std::int32_t second) {
    // DaysFromCivil with floor division, for years before 1970 too.
    const std::int64_t y = month <= 2 ? std::int64_t{year} - 1 : year;
    const std::int64_t era = FloorDiv(y, 400);
    const std::int64_t year_of_era = y - era * 400;
    const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    const std::int64_t days = era * 146097 + day_of_era - 719468;
    return days * SecondsPerDay + hour * 3600 + minute * 60 + second;
}

CivilTime CivilFromSeconds(std::int64_t seconds) {
    CivilTime f;
    const std::int64_t days = FloorDiv(seconds, SecondsPerDay);
    const auto in_day = static_cast<std::int32_t>(seconds - days * SecondsPerDay);
    f.hour = in_day / 3600;
    f.minute = in_day / 60 % 60;
    f.second = in_day % 60;
    // 1970-01-01 was a Thursday.
    f.weekday = static_cast<std::int32_t>(days + 4 - FloorDiv(days + 4, 7) * 7);
    // The inverse of DaysFromCivil, on years that start in March (H. Hinnant's
    // civil_from_days): 400-year eras of 146,097 days, then the year and day in the era.
    const std::int64_t z = days + 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const auto day_of_era = static_cast<std::int32_t>(z - era * 146097);
    const std::int32_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int32_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int32_t shifted_month = (5 * day_of_year + 2) / 153;
    f.day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    f.month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    f.year = static_cast<std::int32_t>(year_of_era + era * 400 + (f.month <= 2 ? 1 : 0));
    // Days before 1 March, counted from 1 January: 59 or, in a leap year, 60.
    const bool leap = IsLeapYear(f.year);
    f.yearday = f.month > 2 ? day_of_year + (leap ? 60 : 59) + 1 : day_of_year - 306 + 1;
    return f;
}

std::int32_t YearOf(TimeValue time) {
    return time < 0 ? 0 : CivilFromSeconds(time).year;
}
std::int32_t MonthOf(TimeValue time) {
    return time < 0 ? 0 : CivilFromSeconds(time).month;
}
std::int32_t DayOf(TimeValue time) {
    return time < 0 ? 0 : CivilFromSeconds(time).day;
}
std::int32_t HourOf(TimeValue time) {
    return time < 0 ? 0 : CivilFromSeconds(time).hour;
}
std::int32_t MinuteOf(TimeValue time) {
    return time < 0 ? 0 : CivilFromSeconds(time).minute;
}
std::int32_t SecondOf(TimeValue time) {
    return time < 0 ? 0 : CivilFromSeconds(time).second;
}
std::int32_t WeekdayOf(TimeValue time) {
    return time < 0 ? 0 : CivilFromSeconds(time).weekday;
}
std::int32_t YeardayOf(TimeValue time) {
    return time < 0 ? 0 : CivilFromSeconds(time).yearday;
}

} // namespace runtime

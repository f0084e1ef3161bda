// Calendar arithmetic checked against the C library's gmtime over the whole range, plus the
// rejections and year additions that matter.
#include "platform/system_time.h"
#include "runtime/calendar.h"
#include "tests/support/scoped_ops.h"

#include <cstdint>
#include <ctime>
#include <gtest/gtest.h>
#include <random>

namespace {

using runtime::TimeValue;

constexpr std::int32_t SecondsPerDay = 86400;
// 2038-01-19 00:00:00, the first value that can be taken apart but not built.
constexpr TimeValue FirstUnbuildable = 2147472000;

// Every field of the time value against gmtime; round trip through MakeTime where allowed.
void ExpectMatchesGmtime(TimeValue t) {
    const std::time_t c = t;
    const std::tm* tm = std::gmtime(&c);
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(runtime::YearOf(t), tm->tm_year + 1900) << t;
    EXPECT_EQ(runtime::MonthOf(t), tm->tm_mon + 1) << t;
    EXPECT_EQ(runtime::DayOf(t), tm->tm_mday) << t;
    EXPECT_EQ(runtime::HourOf(t), tm->tm_hour) << t;
    EXPECT_EQ(runtime::MinuteOf(t), tm->tm_min) << t;
    EXPECT_EQ(runtime::SecondOf(t), tm->tm_sec) << t;
    EXPECT_EQ(runtime::WeekdayOf(t), tm->tm_wday) << t;
    EXPECT_EQ(runtime::YeardayOf(t), tm->tm_yday + 1) << t;
    const TimeValue built = runtime::MakeTime(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday,
                                              tm->tm_hour, tm->tm_min, tm->tm_sec);
    EXPECT_EQ(built, t < FirstUnbuildable ? t : runtime::InvalidTime) << t;
}

TEST(Extractors, EveryDayMatchesGmtime) {
    // 1970-01-01 to 2038-01-19, each day at another time of day (first and last second too).
    const std::int32_t last_day = INT32_MAX / SecondsPerDay;
    for (std::int32_t day = 0; day <= last_day; ++day) {
        const std::int32_t second_of_day =
            static_cast<std::int32_t>((static_cast<std::int64_t>(day) * 7919) % SecondsPerDay);
        ExpectMatchesGmtime(day * SecondsPerDay);
        ExpectMatchesGmtime(day * SecondsPerDay + second_of_day);
        if (day < last_day)
            ExpectMatchesGmtime(day * SecondsPerDay + SecondsPerDay - 1);
        if (HasFailure())
            return;
    }
    ExpectMatchesGmtime(INT32_MAX);
}

TEST(Extractors, RandomSecondsMatchGmtime) {
    std::mt19937 random(20380119);
    std::uniform_int_distribution<std::int32_t> any(0, INT32_MAX);
    for (int i = 0; i < 200000 && !HasFailure(); ++i)
        ExpectMatchesGmtime(any(random));
}

TEST(Extractors, KnownValues) {
    struct Case {
        TimeValue time;
        std::int32_t year, month, day, hour, minute, second, weekday, yearday;
    };
    const Case cases[] = {
        {0, 1970, 1, 1, 0, 0, 0, 4, 1},
        {INT32_MAX, 2038, 1, 19, 3, 14, 7, 2, 19},
        {1451606399, 2015, 12, 31, 23, 59, 59, 4, 365},
        {1483228799, 2016, 12, 31, 23, 59, 59, 6, 366},
        {951782400, 2000, 2, 29, 0, 0, 0, 2, 60},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(runtime::YearOf(c.time), c.year) << c.time;
        EXPECT_EQ(runtime::MonthOf(c.time), c.month) << c.time;
        EXPECT_EQ(runtime::DayOf(c.time), c.day) << c.time;
        EXPECT_EQ(runtime::HourOf(c.time), c.hour) << c.time;
        EXPECT_EQ(runtime::MinuteOf(c.time), c.minute) << c.time;
        EXPECT_EQ(runtime::SecondOf(c.time), c.second) << c.time;
        EXPECT_EQ(runtime::WeekdayOf(c.time), c.weekday) << c.time;
        EXPECT_EQ(runtime::YeardayOf(c.time), c.yearday) << c.time;
    }
}

TEST(Extractors, NegativeValuesHaveNoFields) {
    for (TimeValue t : {-1, -2, -86400, INT32_MIN}) {
        EXPECT_EQ(runtime::YearOf(t), 0) << t;
        EXPECT_EQ(runtime::MonthOf(t), 0) << t;
        EXPECT_EQ(runtime::DayOf(t), 0) << t;
        EXPECT_EQ(runtime::HourOf(t), 0) << t;
        EXPECT_EQ(runtime::MinuteOf(t), 0) << t;
        EXPECT_EQ(runtime::SecondOf(t), 0) << t;
        EXPECT_EQ(runtime::WeekdayOf(t), 0) << t;
        EXPECT_EQ(runtime::YeardayOf(t), 0) << t;
    }
}

TEST(MakeTime, Cases) {
    struct Case {
        std::int32_t year, month, day, hour, minute, second;
        TimeValue expected;
    };
    const Case cases[] = {
        {1970, 1, 1, 0, 0, 0, 0},
        {1970, 1, 1, 10, 20, 30, 37230},
        {2038, 1, 18, 23, 59, 59, 2147471999},
        {2038, 1, 19, 0, 0, 0, -1},
        {2038, 2, 1, 0, 0, 0, -1},
        {2000, 2, 29, 0, 0, 0, 951782400},
        {1996, 2, 29, 0, 0, 0, 825552000},
        {2015, 2, 29, 0, 0, 0, -1},
        {2100, 2, 29, 0, 0, 0, -1},
        {2015, 2, 30, 0, 0, 0, -1},
        {2015, 4, 31, 0, 0, 0, -1},
        {2015, 6, 31, 0, 0, 0, -1},
        {2015, 9, 31, 0, 0, 0, -1},
        {2015, 11, 31, 0, 0, 0, -1},
        {2015, 12, 31, 0, 0, 0, 1451520000},
        {1969, 12, 31, 23, 59, 59, -1},
        {2039, 1, 1, 0, 0, 0, -1},
        {2015, 1, 1, 24, 0, 0, -1},
        {2015, 1, 1, 0, 60, 0, -1},
        {2015, 1, 1, 0, 0, 60, -1},
        {2015, 0, 1, 0, 0, 0, -1},
        {2015, 13, 1, 0, 0, 0, -1},
        {2015, 1, 0, 0, 0, 0, -1},
        {2015, 1, 32, 0, 0, 0, -1},
        {2015, -1, 1, 0, 0, 0, -1},
        {2015, 1, -1, 0, 0, 0, -1},
        {2015, 1, 1, -1, 0, 0, -1},
        {2015, 1, 1, 0, -1, 0, -1},
        {2015, 1, 1, 0, 0, -1, -1},
        {-2015, 1, 1, 0, 0, 0, -1},
        {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, -1},
        {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runtime::MakeTime(c.year, c.month, c.day, c.hour, c.minute, c.second), c.expected)
            << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":"
            << c.second;
}

TEST(MakeTime, AcceptsExactlyTheRealDates) {
    // Every candidate date 1970 to 2038: the accepted ones are the real days of the range
    // (checked field by field by gmtime), and there are exactly as many as days in it.
    std::int32_t accepted = 0;
    for (std::int32_t year = 1970; year <= 2038; ++year)
        for (std::int32_t month = 1; month <= 12; ++month)
            for (std::int32_t day = 1; day <= 31; ++day) {
                const TimeValue t = runtime::MakeTime(year, month, day, 12, 0, 0);
                if (t == runtime::InvalidTime)
                    continue;
                ++accepted;
                ASSERT_EQ(runtime::YearOf(t), year);
                ASSERT_EQ(runtime::MonthOf(t), month);
                ASSERT_EQ(runtime::DayOf(t), day);
            }
    EXPECT_EQ(accepted, FirstUnbuildable / SecondsPerDay);
}

TEST(AddYears, Cases) {
    struct Case {
        TimeValue time;
        std::int32_t years;
        TimeValue expected;
    };
    const TimeValue y2000_01_19 = runtime::MakeTime(2000, 1, 19, 0, 0, 0);
    const Case cases[] = {
        {1330516800, 1, 1362052800}, // 2012-02-29 12:00 + 1: 2013-02-28 12:00
        {796458600, 20, 1427610600}, // 1995-03-29 06:30 + 20
        {1330516800, 4, runtime::MakeTime(2016, 2, 29, 12, 0, 0)},
        {1330516800, -1, runtime::MakeTime(2011, 2, 28, 12, 0, 0)},
        {runtime::MakeTime(2015, 12, 31, 23, 59, 59), -45,
         runtime::MakeTime(1970, 12, 31, 23, 59, 59)},
        {y2000_01_19, 38, -1}, // 2038-01-19 does not fit, and day 18 is below 28
        {runtime::MakeTime(2000, 1, 18, 23, 59, 59), 38, 2147471999},
        {0, -1, -1},
        {0, 0, 0},
        {0, 68, runtime::MakeTime(2038, 1, 1, 0, 0, 0)},
        {0, 69, -1},
        {INT32_MAX, 0, -1}, // 2038-01-19 can be taken apart but not built
        {0, INT32_MAX, -1},
        {0, INT32_MIN, -1},
        {1427610600, INT32_MIN + 5, -1},
        {-1, 20, -1},
        {-5, 20, -5},
        {INT32_MIN, 20, INT32_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runtime::AddYears(c.time, c.years), c.expected) << c.time << " + " << c.years;
}

// A local clock that reads whatever the test sets.
platform::SystemTime local_reading;

void ReadFakeLocal(platform::SystemTime* out) {
    *out = local_reading;
}

TEST(LocalNow, BuildsTheWallClockFields) {
    struct Case {
        platform::SystemTime reading;
        TimeValue expected;
    };
    const Case cases[] = {
        {{2015, 3, 0, 29, 6, 30, 0, 999}, 1427610600}, // milliseconds are dropped
        {{2038, 1, 2, 18, 23, 59, 59, 0}, 2147471999},
        {{2038, 1, 3, 19, 0, 0, 0, 0}, -1},
        {{1969, 12, 3, 31, 23, 59, 59, 0}, -1},
        {{0, 0, 0, 0, 0, 0, 0, 0}, -1}, // a failed read leaves the record zero
    };
    const platform::SystemTimeOps fake{platform::system_time_ops.get_system_time, ReadFakeLocal};
    test_support::ScopedOps<platform::SystemTimeOps> scope(platform::system_time_ops, fake);
    for (const Case& c : cases) {
        local_reading = c.reading;
        EXPECT_EQ(runtime::LocalNow(), c.expected) << c.reading.year;
    }
}

TEST(LocalNow, RealClockIsInRange) {
    // The real call: this machine's clock lies in the range, and the fields agree with it.
    platform::SystemTime before{};
    platform::system_time_ops.get_local_time(&before);
    const TimeValue now = runtime::LocalNow();
    ASSERT_NE(now, runtime::InvalidTime);
    EXPECT_GE(runtime::YearOf(now), before.year);
    EXPECT_LE(runtime::YearOf(now), before.year + 1);
}

} // namespace

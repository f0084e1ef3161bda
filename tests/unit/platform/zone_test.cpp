// The real zone layer: on POSIX under several TZ settings (the layer follows TZ as it is at
// each read); on Windows the zone wine or Windows gives this process.
#include "platform/zone.h"

#if defined(_WIN32)
#include "platform/win32/zone_testing.h"
#else
#include "platform/posix/zone_testing.h"
#endif

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string Narrow(const char16_t* units) {
    std::string text;
    for (int i = 0; i < platform::ZoneNameUnits && units[i] != 0; ++i) {
        text += static_cast<char>(units[i] & 0xFF);
    }
    return text;
}

#if !defined(_WIN32)

class ScopedTz {
  public:
    explicit ScopedTz(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        setenv("TZ", tz, 1);
    }
    ~ScopedTz() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
    }

  private:
    bool had_ = false;
    std::string old_;
};

struct ZoneCase {
    const char* tz;
    bool has_daylight;
    std::int32_t bias; // standard offset, minutes west
    std::int32_t daylight_bias;
    const char* standard_name;
};

TEST(ReadTimeZone, FollowsTzAndShapesTheWindowsRecord) {
    const ZoneCase cases[] = {
        {"UTC", false, 0, 0, "UTC"},
        {"Asia/Kolkata", false, -330, 0, "IST"},
        {"Asia/Tokyo", false, -540, 0, "JST"},
        {"Europe/Berlin", true, -60, -60, "CET"},
        {"America/New_York", true, 300, -60, "EST"},
        {"Australia/Sydney", true, -600, -60, "AEST"}, // daylight time in the other half
        // A name fills the whole field, without a terminator; a longer one is cut there.
        {"<ABCDEFGHIJKLMNOPQRSTUVWXYZ012345>-5", false, -300, 0,
         "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
        {"<ABCDEFGHIJKLMNOPQRSTUVWXYZ01234567>-5", false, -300, 0,
         "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
    };
    for (const ZoneCase& c : cases) {
        SCOPED_TRACE(c.tz);
        ScopedTz tz(c.tz);
        platform::ZoneInfo info{};
        const std::int32_t result = platform::zone_ops.read_time_zone(&info);
        if (c.has_daylight) {
            EXPECT_TRUE(result == platform::ZoneStandard || result == platform::ZoneDaylight);
        } else {
            EXPECT_EQ(result, platform::ZoneUnknown);
        }
        EXPECT_EQ(info.bias, c.bias);
        EXPECT_EQ(info.standard_bias, 0);
        EXPECT_EQ(info.daylight_bias, c.daylight_bias);
        EXPECT_EQ(Narrow(info.standard_name), c.standard_name);
    }
}

TEST(ReadTimeZoneAt, FindsTheStandardPartWhereverTheYearPutsNow) {
    struct RuleCase {
        const char* tz;
        std::int32_t bias;
        const char* standard_name;
        const char* daylight_name;
    };
    const RuleCase cases[] = {
        {"EST5EDT,M3.2.0,M11.1.0", 300, "EST", "EDT"},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, "AEST", "AEDT"},
        // Daylight time all year but the days from the last Sunday of December.
        {"XST5XDT,M1.1.0,M12.31.0", 300, "XST", "XDT"},
        // Daylight time from early September to early April.
        {"America/Santiago", 240, "-04", "-03"},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.tz);
        ScopedTz tz(c.tz);
        tzset();
        const bool rule = std::strchr(c.tz, ',') != nullptr;
        if (!rule && !std::ifstream(std::string("/usr/share/zoneinfo/") + c.tz).good()) {
            continue; // no zone data for it here
        }
        // Every third day of 2026, from 2026-01-01 00:00 UTC.
        for (std::int64_t day = 0; day < 365; day += 3) {
            const std::int64_t now = 1767225600 + day * 86400;
            SCOPED_TRACE(day);
            platform::ZoneInfo info{};
            const std::int32_t result = platform::ReadTimeZoneAt(now, &info);
            const auto when = static_cast<std::time_t>(now);
            std::tm local{};
            ASSERT_NE(localtime_r(&when, &local), nullptr);
            EXPECT_EQ(result, local.tm_isdst > 0 ? platform::ZoneDaylight : platform::ZoneStandard);
            EXPECT_EQ(info.bias, c.bias);
            EXPECT_EQ(info.daylight_bias, -60);
            EXPECT_EQ(Narrow(info.standard_name), c.standard_name);
            EXPECT_EQ(Narrow(info.daylight_name), c.daylight_name);
        }
    }
}

#else

TEST(ReplacementCharFor, NoneWhereTheConversionRefusesOne) {
    const struct {
        std::uint32_t code_page;
        const char* replacement;
    } cases[] = {{1252, "?"}, {932, "?"}, {936, "?"}, {65001, nullptr}, {65000, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code_page);
        const char* replacement = platform::ReplacementCharFor(c.code_page);
        if (c.replacement == nullptr) {
            EXPECT_EQ(replacement, nullptr);
        } else {
            ASSERT_NE(replacement, nullptr);
            EXPECT_STREQ(replacement, c.replacement);
        }
    }
}

TEST(ZoneNameToCodePage, ReplacesWhatTheCodePageLacksAndNeverEmptiesAUtf8Name) {
    const struct {
        std::uint32_t code_page;
        const char16_t* name;
        std::string bytes;
    } cases[] = {
        {1252, u"Mitteleurop\u00e4ische Zeit", "Mitteleurop\xe4ische Zeit"},
        {1252, u"\u4e2d\u56fd\u6807\u51c6\u65f6\u95f4", "??????"},
        {65001, u"UTC", "UTC"},
        {65001, u"Mitteleurop\u00e4ische Zeit", "Mitteleurop\xc3\xa4ische Zeit"},
        {65001, u"\u4e2d\u56fd\u6807\u51c6\u65f6\u95f4",
         "\xe4\xb8\xad\xe5\x9b\xbd\xe6\xa0\x87\xe5\x87\x86\xe6\x97\xb6\xe9\x97\xb4"},
        // Eleven three-byte characters need 33 bytes: the last one does not fit whole.
        {65001, u"\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d\u4e2d",
         "\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad"
         "\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad"},
        {65001, u"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code_page);
        SCOPED_TRACE(c.bytes);
        char out[platform::ZoneNameUnits] = {};
        const int count = platform::ZoneNameToCodePage(c.code_page, c.name, out);
        EXPECT_EQ(std::string(out, static_cast<std::size_t>(count)), c.bytes);
    }
}

TEST(ReadTimeZone, GivesTheProcessZoneAsEightBitUnits) {
    platform::ZoneInfo info{};
    const std::int32_t result = platform::zone_ops.read_time_zone(&info);
    EXPECT_TRUE(result >= platform::ZoneUnknown && result <= platform::ZoneDaylight);
    EXPECT_FALSE(Narrow(info.standard_name).empty());
    for (char16_t unit : info.standard_name) {
        EXPECT_LT(unit, 0x100); // already in the ANSI code page, one byte per unit
    }
}

#endif

} // namespace

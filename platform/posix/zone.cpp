// The zone record from the C library: localtime_r, tm_gmtoff and tzname, read for now and
// around it through the year, so the standard and daylight offsets are both known whichever
// is in force.
#include "platform/zone.h"

#include "platform/posix/zone_testing.h"

#include <cstring>
#include <ctime>

namespace platform {
namespace {

constexpr std::time_t DaySeconds = 24 * 60 * 60;
constexpr std::time_t HalfYearDays = 183;

// The abbreviation is 8-bit already; each byte becomes one code unit. The record is zeroed,
// so a shorter name stays terminated and one of 32 bytes fills the field.
void WidenName(const char* name, char16_t* out) {
    if (name == nullptr) {
        return;
    }
    for (int i = 0; i < ZoneNameUnits && name[i] != '\0'; ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(name[i]));
    }
}

std::int32_t MinutesWest(long gmtoff_seconds) {
    return static_cast<std::int32_t>(-gmtoff_seconds / 60);
}

// The first moment seen in standard time and the first in daylight time.
struct ZoneParts {
    std::tm standard{};
    std::tm daylight{};
    bool have_standard = false;
    bool have_daylight = false;

    void Take(std::time_t when) {
        std::tm sample{};
        if (localtime_r(&when, &sample) == nullptr) {
            return;
        }
        if (sample.tm_isdst > 0 && !have_daylight) {
            daylight = sample;
            have_daylight = true;
        } else if (sample.tm_isdst == 0 && !have_standard) {
            standard = sample;
            have_standard = true;
        }
    }

    bool Complete() const { return have_standard && have_daylight; }
};

} // namespace

std::int32_t ReadTimeZoneAt(std::int64_t now_seconds, ZoneInfo* info) {
    std::memset(info, 0, sizeof *info);
    const auto now = static_cast<std::time_t>(now_seconds);
    std::tm current{};
    if (localtime_r(&now, &current) == nullptr) {
        return -1;
    }

    // Step 1: now and half a year either side; where standard and daylight time take turns
    // through the year, these find both, preferring the one in force.
    ZoneParts parts;
    parts.Take(now);
    parts.Take(now - HalfYearDays * DaySeconds);
    parts.Take(now + HalfYearDays * DaySeconds);
    // Step 2: a part those missed may still be short (a zone in daylight time all year but a
    // few days): every day of the year around now, nearest first, finds any that lasts a day.
    // Zones whose rules know no daylight time (tzset's daylight) skip the search.
    const bool has_rules = daylight != 0;
    for (std::time_t day = 1; has_rules && day <= HalfYearDays && !parts.Complete(); ++day) {
        parts.Take(now + day * DaySeconds);
        parts.Take(now - day * DaySeconds);
    }

    // A zone without daylight saving time: its offset in Bias, result 0 as Windows gives it.
    if (!parts.have_daylight) {
        info->bias = MinutesWest(current.tm_gmtoff);
        WidenName(current.tm_zone != nullptr ? current.tm_zone : tzname[0], info->standard_name);
        return ZoneUnknown;
    }
    if (!parts.have_standard) {
        // Daylight time all year round: count it as the zone's standard offset.
        info->bias = MinutesWest(parts.daylight.tm_gmtoff);
        WidenName(parts.daylight.tm_zone, info->standard_name);
        WidenName(parts.daylight.tm_zone, info->daylight_name);
        return ZoneStandard;
    }
    info->bias = MinutesWest(parts.standard.tm_gmtoff);
    info->daylight_bias = MinutesWest(parts.daylight.tm_gmtoff) - info->bias;
    WidenName(parts.standard.tm_zone != nullptr ? parts.standard.tm_zone : tzname[0],
              info->standard_name);
    WidenName(parts.daylight.tm_zone != nullptr ? parts.daylight.tm_zone : tzname[1],
              info->daylight_name);
    return current.tm_isdst > 0 ? ZoneDaylight : ZoneStandard;
}

namespace {

std::int32_t ReadTimeZone(ZoneInfo* info) {
    tzset(); // follow TZ as it is now, not as it was at the first call
    const std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1)) {
        std::memset(info, 0, sizeof *info);
        return -1;
    }
    return ReadTimeZoneAt(now, info);
}

} // namespace

ZoneOps zone_ops = {ReadTimeZone};

} // namespace platform

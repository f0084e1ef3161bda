// The zone record from the C library: localtime_r, tm_gmtoff and tzname, read for now and
// for half a year either side, so the standard and daylight offsets are both known whichever
// is in force.
#include "platform/zone.h"

#include <cstring>
#include <ctime>

namespace platform {
namespace {

constexpr std::time_t HalfYearSeconds = 183 * 24 * 60 * 60;

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

std::int32_t ReadTimeZone(ZoneInfo* info) {
    std::memset(info, 0, sizeof *info);
    tzset(); // follow TZ as it is now, not as it was at the first call
    const std::time_t now = std::time(nullptr);
    std::tm current{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &current) == nullptr) {
        return -1;
    }

    // One sample in standard time and one in daylight time, preferring the current one.
    std::tm standard{};
    std::tm daylight{};
    bool have_standard = false;
    bool have_daylight = false;
    const std::time_t samples[] = {now, now - HalfYearSeconds, now + HalfYearSeconds};
    for (std::time_t when : samples) {
        std::tm sample{};
        if (localtime_r(&when, &sample) == nullptr) {
            continue;
        }
        if (sample.tm_isdst > 0 && !have_daylight) {
            daylight = sample;
            have_daylight = true;
        } else if (sample.tm_isdst == 0 && !have_standard) {
            standard = sample;
            have_standard = true;
        }
    }

    // A zone without daylight saving time: its offset in Bias, result 0 as Windows gives it.
    if (!have_daylight) {
        info->bias = MinutesWest(current.tm_gmtoff);
        WidenName(current.tm_zone != nullptr ? current.tm_zone : tzname[0], info->standard_name);
        return ZoneUnknown;
    }
    if (!have_standard) {
        // Daylight time all year round: count it as the zone's standard offset.
        info->bias = MinutesWest(daylight.tm_gmtoff);
        WidenName(daylight.tm_zone, info->standard_name);
        WidenName(daylight.tm_zone, info->daylight_name);
        return ZoneStandard;
    }
    info->bias = MinutesWest(standard.tm_gmtoff);
    info->daylight_bias = MinutesWest(daylight.tm_gmtoff) - info->bias;
    WidenName(standard.tm_zone != nullptr ? standard.tm_zone : tzname[0], info->standard_name);
    WidenName(daylight.tm_zone != nullptr ? daylight.tm_zone : tzname[1], info->daylight_name);
    return current.tm_isdst > 0 ? ZoneDaylight : ZoneStandard;
}

} // namespace

ZoneOps zone_ops = {ReadTimeZone};

} // namespace platform

#include "platform/system_time.h"

#include <ctime>

namespace platform {
namespace {

// Fills the record the way GetSystemTime/GetLocalTime do, from a broken-down time.
void FromBrokenDown(const std::tm& tm, long nanoseconds, SystemTime* out) {
    out->year = tm.tm_year + 1900;
    out->month = tm.tm_mon + 1;
    out->day_of_week = tm.tm_wday;
    out->day = tm.tm_mday;
    out->hour = tm.tm_hour;
    out->minute = tm.tm_min;
    // A leap second (tm_sec 60) is folded into the last regular second, as Windows shows it.
    out->second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    out->milliseconds = static_cast<std::int32_t>(nanoseconds / 1000000);
}

// Reads the real-time clock and breaks it down as UTC or as local time.
void ReadClock(bool local, SystemTime* out) {
    timespec now;
    std::tm tm{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        now = timespec{0, 0};
    const bool ok =
        local ? localtime_r(&now.tv_sec, &tm) != nullptr : gmtime_r(&now.tv_sec, &tm) != nullptr;
    if (!ok) {
        *out = SystemTime{};
        return;
    }
    FromBrokenDown(tm, now.tv_nsec, out);
}

void GetSystemTimeFields(SystemTime* out) {
    ReadClock(false, out);
}

void GetLocalTimeFields(SystemTime* out) {
    ReadClock(true, out);
}

} // namespace

SystemTimeOps system_time_ops = {GetSystemTimeFields, GetLocalTimeFields};

} // namespace platform

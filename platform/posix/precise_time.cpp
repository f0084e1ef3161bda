#include "platform/precise_time.h"

#include <ctime>

namespace platform {
namespace {

bool ReadNs(clockid_t clock, std::int64_t* ns) {
    timespec now;
    if (clock_gettime(clock, &now) != 0)
        return false;
    *ns = static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return true;
}

bool RealTimeNs(std::int64_t* ns) {
    return ReadNs(CLOCK_REALTIME, ns);
}

// The raw oscillator, which no time daemon slews, plus the time spent suspended (what the
// boot clock has counted beyond the monotonic one): a daemon that slews the system clock back
// after a user has set it would otherwise carry every anchored time along.
bool BootTimeNs(std::int64_t* ns) {
    std::int64_t raw = 0, monotonic = 0, boot = 0;
    if (!ReadNs(CLOCK_MONOTONIC_RAW, &raw) || !ReadNs(CLOCK_MONOTONIC, &monotonic) ||
        !ReadNs(CLOCK_BOOTTIME, &boot))
        return false;
    *ns = raw + (boot - monotonic);
    return true;
}

} // namespace

PreciseTimeOps precise_time_ops = {RealTimeNs, BootTimeNs};

} // namespace platform

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

bool BootTimeNs(std::int64_t* ns) {
    return ReadNs(CLOCK_BOOTTIME, ns);
}

} // namespace

PreciseTimeOps precise_time_ops = {RealTimeNs, BootTimeNs};

} // namespace platform

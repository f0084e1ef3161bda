#include "platform/precise_time.h"

#include <ctime>

namespace platform {
namespace {

bool RealTimeNs(std::int64_t* ns) {
    timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        return false;
    *ns = static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return true;
}

} // namespace

PreciseTimeOps precise_time_ops = {RealTimeNs};

} // namespace platform

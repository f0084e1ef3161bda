// The system's wall clock at its finest resolution, for the measurement functions (the four
// retrievals read the calendar fields of platform/system_time.h instead). A table so tests can
// set the clock; its default is the real call.
#pragma once

#include <cstdint>

namespace platform {

struct PreciseTimeOps {
    // Nanoseconds since 1970-01-01 00:00:00 UTC (clock_gettime(CLOCK_REALTIME);
    // GetSystemTimePreciseAsFileTime where Windows has it, else GetSystemTimeAsFileTime);
    // false when the clock cannot be read.
    bool (*real_time_ns)(std::int64_t* ns);
};

// The table in use; its default is the real call.
extern PreciseTimeOps precise_time_ops;

} // namespace platform

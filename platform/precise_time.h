// The clocks of the measurement functions: the system's wall clock at its finest resolution
// (the four retrievals read the calendar fields of platform/system_time.h instead), and the
// boot clock: the oscillator's own count, which no time daemon slews, going on while the
// machine sleeps. A table so tests can set either; its defaults are the real calls.
#pragma once

#include <cstdint>

namespace platform {

struct PreciseTimeOps {
    // Nanoseconds since 1970-01-01 00:00:00 UTC (clock_gettime(CLOCK_REALTIME);
    // GetSystemTimePreciseAsFileTime where Windows has it, else GetSystemTimeAsFileTime);
    // false when the clock cannot be read.
    bool (*real_time_ns)(std::int64_t* ns);
    // Nanoseconds since an origin fixed at boot, never set back or slewed, counting through
    // sleep and suspend (CLOCK_MONOTONIC_RAW plus CLOCK_BOOTTIME - CLOCK_MONOTONIC; on
    // Windows GetTickCount64 refined by the performance counter); false when it cannot be
    // read.
    bool (*boot_time_ns)(std::int64_t* ns);
};

// The table in use; its defaults are the real calls.
extern PreciseTimeOps precise_time_ops;

} // namespace platform

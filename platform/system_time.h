// The system clock as calendar fields: UTC (GetSystemTime) and local (GetLocalTime).
// A table so tests can set any time.
#pragma once

#include <cstdint>

namespace platform {

struct SystemTime {
    std::int32_t year;
    std::int32_t month;       // 1 to 12
    std::int32_t day_of_week; // 0 = Sunday
    std::int32_t day;         // 1 to 31
    std::int32_t hour;
    std::int32_t minute;
    std::int32_t second;
    std::int32_t milliseconds; // 0 to 999
};

struct SystemTimeOps {
    void (*get_system_time)(SystemTime* out); // current UTC time
    void (*get_local_time)(SystemTime* out);  // current local wall-clock time
};

// The table in use; its defaults are the real calls.
extern SystemTimeOps system_time_ops;

} // namespace platform

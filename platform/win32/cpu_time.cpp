#include "platform/cpu_time.h"

#include <windows.h>

namespace platform {
namespace {

// FILETIME counts 100-nanosecond units.
double Seconds(const FILETIME& t) {
    const ULONGLONG units = (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    return static_cast<double>(units) / 1e7;
}

} // namespace

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    return Seconds(kernel) + Seconds(user);
}

} // namespace platform

// The CPU time the running process has used, for the benchmarks: user plus system time of
// all its threads (Windows: GetProcessTimes; POSIX: getrusage).
#pragma once

namespace platform {

// Seconds of CPU time used by this process so far; -1 when the system cannot tell.
double ProcessCpuSeconds();

} // namespace platform

// A millisecond counter for time limits and a sleep, the wall and boot clocks read as one
// moment, and the wall clock's resolution. Owns the cached ticks-per-millisecond, the
// timer-resolution flag and the measured resolution; the counters and the waits come from
// platform/clock.h, the wall and boot clocks from platform/precise_time.h.
#pragma once

#include <cstdint>

namespace runtime {

// Milliseconds from a platform origin, wrapping modulo 2^32; only differences mean anything.
std::int32_t ElapsedMs();

// The wall clock and the boot clock of platform/precise_time.h read as one moment: the wall
// clock between two boot clock readings close together (20 us apart, or the closest pair of
// five tries), so that a pause of the thread cannot come between them. gap_ns, when given:
// the two boot readings' distance, within which the pairing is known. False when either
// clock cannot be read.
bool ReadWallAndBoot(std::int64_t* wall_ns, std::int64_t* boot_ns, std::int64_t* gap_ns = nullptr);

// The resolution of the wall clock of platform/precise_time.h in seconds: the smallest step
// seen between readings, measured on the first call (about the time one reading takes where
// the clock is finer than that). 0 while it could not be measured (a clock that stands still).
double WallClockResolution();

// Sleeps for the given milliseconds; the first call raises the timer resolution to 1 ms.
void SleepMs(std::int32_t milliseconds);

// Asks once per process for a 1-millisecond timer resolution, as the first sleep does; a
// wait on a socket calls it first, so that a 1-millisecond wait lasts about one millisecond.
void RaiseTimerResolutionOnce();

// Milliseconds from start to now in wrapping 32-bit arithmetic, so a counter wrap between
// the two readings does not matter.
inline std::uint32_t MsBetween(std::int32_t start, std::int32_t now) {
    return static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(start);
}

// True once more than limit_ms milliseconds have passed since start (a negative limit has
// always passed).
inline bool DeadlinePassed(std::int32_t start, std::int32_t now, std::int32_t limit_ms) {
    return limit_ms < 0 || MsBetween(start, now) > static_cast<std::uint32_t>(limit_ms);
}

} // namespace runtime

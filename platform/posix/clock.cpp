#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace platform {
namespace {

// CLOCK_MONOTONIC in nanoseconds plays the high-resolution counter.
constexpr std::int64_t NanosecondsPerSecond = 1000000000;

bool MonotonicNow(timespec* now) {
    return clock_gettime(CLOCK_MONOTONIC, now) == 0;
}

bool QueryCounterFrequency(std::int64_t* counts_per_second) {
    timespec probe;
    if (!MonotonicNow(&probe))
        return false;
    *counts_per_second = NanosecondsPerSecond;
    return true;
}

bool QueryCounter(std::int64_t* count) {
    timespec now;
    if (!MonotonicNow(&now))
        return false;
    *count = static_cast<std::int64_t>(now.tv_sec) * NanosecondsPerSecond + now.tv_nsec;
    return true;
}

std::uint32_t TickCount() {
    timespec now;
    if (!MonotonicNow(&now))
        return 0;
    std::int64_t ms = static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return static_cast<std::uint32_t>(ms);
}

// nanosleep resumes after a signal with the time that was left.
void SleepFor(std::uint32_t milliseconds) {
    timespec left;
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Linux timers already have fine resolution; nothing to raise.
void RaiseTimerResolution() {}

} // namespace

ClockOps clock_ops = {QueryCounterFrequency, QueryCounter, TickCount, SleepFor,
                      RaiseTimerResolution,  WaitReadable};

} // namespace platform

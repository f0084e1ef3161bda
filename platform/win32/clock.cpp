#include "platform/clock.h"

#include <windows.h> // with <mmsystem.h>: timeBeginPeriod

namespace platform {
namespace {

bool QueryCounterFrequency(std::int64_t* counts_per_second) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency))
        return false;
    *counts_per_second = frequency.QuadPart;
    return true;
}

bool QueryCounter(std::int64_t* count) {
    LARGE_INTEGER counter;
    if (!QueryPerformanceCounter(&counter))
        return false;
    *count = counter.QuadPart;
    return true;
}

std::uint32_t TickCount() {
    return GetTickCount();
}

void SleepFor(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

void RaiseTimerResolution() {
    timeBeginPeriod(1);
}

} // namespace

ClockOps clock_ops = {QueryCounterFrequency, QueryCounter, TickCount, SleepFor,
                      RaiseTimerResolution,  WaitReadable};

} // namespace platform

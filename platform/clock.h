// The counters and the waits behind the millisecond clock: the high-resolution counter and
// its frequency, the tick count, a sleep, a wait on a socket and the timer resolution. A
// table so tests can steer every reading and see every wait; its defaults are the real calls.
#pragma once

#include "platform/socket.h"

#include <cstdint>

namespace platform {

struct ClockOps {
    // Counts per second of the high-resolution counter (QueryPerformanceFrequency); false
    // when the platform has none.
    bool (*query_counter_frequency)(std::int64_t* counts_per_second);
    // The high-resolution counter (QueryPerformanceCounter); false when it cannot be read.
    bool (*query_counter)(std::int64_t* count);
    // Milliseconds since system start, wrapping at 2^32 (GetTickCount).
    std::uint32_t (*tick_count)();
    // Suspends the calling thread (Sleep).
    void (*sleep_for)(std::uint32_t milliseconds);
    // Asks for a 1-millisecond system timer resolution (timeBeginPeriod(1)); never undone.
    void (*raise_timer_resolution)();
    // Suspends the calling thread until the socket is readable or the milliseconds have
    // passed (WaitReadable of platform/socket.h: select or poll); 1 when readable, 0 when the
    // time ran out, -1 on error.
    int (*wait_readable)(SocketHandle socket, std::int32_t milliseconds);
};

// The table in use; its defaults are the real calls.
extern ClockOps clock_ops;

} // namespace platform

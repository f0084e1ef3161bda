#include "runtime/clock.h"

#include "platform/clock.h"
#include "platform/precise_time.h"
#include "runtime/clock_testing.h"

#include <atomic>

namespace runtime {
namespace {

// High-resolution counts per millisecond; 0 while unknown or unusable. Atomic, since threads
// of the host may make their first calls at once; they store the same value.
std::atomic<std::int64_t> ticks_per_ms{0};

// Set by the first sleep or wait, which raises the timer resolution; never lowered again.
std::atomic<bool> resolution_raised{false};

// The wall clock's resolution in nanoseconds once measured; 0 while unknown.
std::atomic<std::int64_t> measured_ns{0};

} // namespace

// Only the thread that sets the flag asks; the others need not wait for it.
void RaiseTimerResolutionOnce() {
    if (!resolution_raised.load(std::memory_order_relaxed) &&
        !resolution_raised.exchange(true, std::memory_order_relaxed)) {
        platform::clock_ops.raise_timer_resolution();
    }
}

std::int32_t ElapsedMs() {
    // Step 1: learn the counter frequency once; below 1000 counts per second (or without a
    // counter) the tick count serves, and the next call asks again.
    std::int64_t ticks = ticks_per_ms.load(std::memory_order_relaxed);
    if (ticks == 0) {
        std::int64_t frequency = 0;
        if (platform::clock_ops.query_counter_frequency(&frequency) && frequency >= 1000) {
            ticks = frequency / 1000;
            ticks_per_ms.store(ticks, std::memory_order_relaxed);
        }
        if (ticks == 0)
            return static_cast<std::int32_t>(platform::clock_ops.tick_count());
    }
    // Step 2: the counter in whole milliseconds; a failed read counts as 0. The remainder of
    // the frequency division is dropped, so odd frequencies run slightly fast.
    std::int64_t count = 0;
    if (!platform::clock_ops.query_counter(&count))
        count = 0;
    // The low 32 bits: readings wrap modulo 2^32 and only differences count.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(count / ticks));
}

bool ReadWallAndBoot(std::int64_t* wall_ns, std::int64_t* boot_ns, std::int64_t* gap_ns) {
    constexpr std::int64_t CloseEnoughNs = 20000;
    const platform::PreciseTimeOps& clocks = platform::precise_time_ops;
    std::int64_t best_gap = -1;
    for (int attempt = 0; attempt < 5 && (best_gap < 0 || best_gap > CloseEnoughNs); ++attempt) {
        std::int64_t before = 0, wall = 0, after = 0;
        if (!clocks.boot_time_ns(&before) || !clocks.real_time_ns(&wall) ||
            !clocks.boot_time_ns(&after))
            return false;
        if (best_gap < 0 || after - before < best_gap) {
            best_gap = after - before;
            *wall_ns = wall;
            *boot_ns = before + best_gap / 2;
        }
    }
    if (gap_ns != nullptr)
        *gap_ns = best_gap;
    return true;
}

double WallClockResolution() {
    std::int64_t step = measured_ns.load(std::memory_order_relaxed);
    if (step > 0)
        return static_cast<double>(step) / 1e9;
    // The smallest of three steps, each awaited for at most 50 ms of a coarse clock's
    // readings; a clock that never steps leaves it unknown, to be measured again later.
    const platform::PreciseTimeOps& clocks = platform::precise_time_ops;
    for (int k = 0; k < 3; ++k) {
        std::int64_t first = 0, now = 0;
        if (!clocks.real_time_ns(&first))
            return 0;
        for (int i = 0; i < 1000000 && clocks.real_time_ns(&now) && now == first; ++i) {
        }
        if (now > first && (step == 0 || now - first < step))
            step = now - first;
    }
    if (step > 0)
        measured_ns.store(step, std::memory_order_relaxed);
    return static_cast<double>(step) / 1e9;
}

void SleepMs(std::int32_t milliseconds) {
    RaiseTimerResolutionOnce();
    platform::clock_ops.sleep_for(milliseconds < 0 ? 0u : static_cast<std::uint32_t>(milliseconds));
}

void ResetClockForTesting() {
    ticks_per_ms.store(0);
    resolution_raised.store(false);
    measured_ns.store(0);
}

} // namespace runtime

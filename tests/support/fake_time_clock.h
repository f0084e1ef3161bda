// A clock seam fake whose milliseconds advance only when the code under test sleeps or when
// its wait on a socket runs out of time, so a wait's length shows as a count of sleeps and
// waits. Each still lasts its real time on the real socket, letting server threads in the
// same process answer meanwhile; a wait that a socket ends early advances nothing.
#pragma once

#include "platform/clock.h"
#include "tests/support/scoped_ops.h"

#include <cstdint>
#include <vector>

namespace test_support {

class FakeClock {
  public:
    // The counter starts at start_ms (for instance just before the 32-bit wrap).
    explicit FakeClock(std::int64_t start_ms = 1000);
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    // Calls of the sleep and the milliseconds they asked for.
    int Sleeps() const { return sleeps_; }
    std::int64_t SleptMs() const { return slept_ms_; }

    // Readings of the counter: one per ElapsedMs.
    int CounterReads() const { return counter_reads_; }

    // Calls of the socket wait, and what each returned in order (1 readable, 0 time ran out).
    int Waits() const { return static_cast<int>(wait_results_.size()); }
    const std::vector<int>& WaitResults() const { return wait_results_; }
    // The milliseconds of the waits that ran out of time.
    std::int64_t WaitedMs() const { return waited_ms_; }

  private:
    static bool QueryFrequency(std::int64_t* counts_per_second);
    static bool QueryCounter(std::int64_t* count);
    static std::uint32_t TickCount();
    static void SleepFor(std::uint32_t milliseconds);
    static void RaiseResolution();
    static int WaitReadable(platform::SocketHandle socket, std::int32_t milliseconds);

    platform::ClockOps real_;
    std::int64_t now_ms_;
    int sleeps_ = 0;
    std::int64_t slept_ms_ = 0;
    int counter_reads_ = 0;
    std::vector<int> wait_results_;
    std::int64_t waited_ms_ = 0;
    ScopedOps<platform::ClockOps> scope_;
};

} // namespace test_support

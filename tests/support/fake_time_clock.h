// A clock seam fake whose milliseconds advance only when the code under test sleeps, so a
// wait's length shows as a count of sleeps. Each sleep still lasts a real millisecond or so,
// letting server threads in the same process answer meanwhile.
#pragma once

#include "platform/clock.h"
#include "tests/support/scoped_ops.h"

#include <cstdint>

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

  private:
    static bool QueryFrequency(std::int64_t* counts_per_second);
    static bool QueryCounter(std::int64_t* count);
    static std::uint32_t TickCount();
    static void SleepFor(std::uint32_t milliseconds);
    static void RaiseResolution();

    platform::ClockOps real_;
    std::int64_t now_ms_;
    int sleeps_ = 0;
    std::int64_t slept_ms_ = 0;
    ScopedOps<platform::ClockOps> scope_;
};

} // namespace test_support

#include "tests/support/fake_time_clock.h"

#include "runtime/clock_testing.h"

namespace test_support {
namespace {

FakeClock* active_clock = nullptr;

} // namespace

FakeClock::FakeClock(std::int64_t start_ms)
    : real_(platform::clock_ops), now_ms_(start_ms),
      scope_(platform::clock_ops, platform::ClockOps{QueryFrequency, QueryCounter, TickCount,
                                                     SleepFor, RaiseResolution, WaitReadable}) {
    active_clock = this;
    // Forget a frequency cached from the real counter.
    runtime::ResetClockForTesting();
}

FakeClock::~FakeClock() {
    active_clock = nullptr;
    runtime::ResetClockForTesting();
}

// One count per millisecond.
bool FakeClock::QueryFrequency(std::int64_t* counts_per_second) {
    *counts_per_second = 1000;
    return true;
}

bool FakeClock::QueryCounter(std::int64_t* count) {
    ++active_clock->counter_reads_;
    *count = active_clock->now_ms_;
    return true;
}

std::uint32_t FakeClock::TickCount() {
    return static_cast<std::uint32_t>(active_clock->now_ms_);
}

void FakeClock::SleepFor(std::uint32_t milliseconds) {
    ++active_clock->sleeps_;
    active_clock->slept_ms_ += milliseconds;
    active_clock->now_ms_ += milliseconds;
    active_clock->real_.sleep_for(milliseconds);
}

void FakeClock::RaiseResolution() {}

int FakeClock::WaitReadable(platform::SocketHandle socket, std::int32_t milliseconds) {
    const int result = active_clock->real_.wait_readable(socket, milliseconds);
    active_clock->wait_results_.push_back(result);
    if (result == 0) {
        active_clock->waited_ms_ += milliseconds;
        active_clock->now_ms_ += milliseconds;
    }
    return result;
}

} // namespace test_support

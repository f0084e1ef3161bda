// The POSIX boot clock counts the raw oscillator, which no time daemon slews, plus the time
// suspended. CLOCK_MONOTONIC, which daemons slew, drifts away from the raw count: tenths of a
// second on a machine up for a while. (Windows has neither clock.)
#include "platform/precise_time.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <ctime>

namespace {

std::int64_t Ns(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The raw count plus the time suspended, read by the test itself.
std::int64_t RawPlusSuspended() {
    const std::int64_t raw = Ns(CLOCK_MONOTONIC_RAW);
    const std::int64_t monotonic = Ns(CLOCK_MONOTONIC);
    return raw + (Ns(CLOCK_BOOTTIME) - monotonic);
}

TEST(BootTimeNs, ReadsTheRawOscillatorPlusTheTimeSuspended) {
    const std::int64_t before = RawPlusSuspended();
    std::int64_t boot_ns = 0;
    ASSERT_TRUE(platform::precise_time_ops.boot_time_ns(&boot_ns));
    const std::int64_t after = RawPlusSuspended();
    EXPECT_GE(boot_ns, before);
    EXPECT_LE(boot_ns, after);
}

} // namespace
#endif

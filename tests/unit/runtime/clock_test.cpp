// The millisecond clock over a fake counter: frequencies, the tick-count fallback, the
// 32-bit wrap, the one-time resolution request (shared with the wait on a connection), and
// the wrap-safe deadline helpers.
#include "platform/clock.h"
#include "runtime/clock.h"
#include "runtime/clock_testing.h"
#include "runtime/net.h"
#include "tests/support/scoped_ops.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace {

// What the fake counter reports, and what the clock asked of it.
struct FakeCounter {
    bool frequency_ok = true;
    std::int64_t frequency = 10000000;
    bool counter_ok = true;
    std::int64_t counter = 0;
    std::uint32_t ticks = 0;
    int frequency_queries = 0;
    int resolution_raises = 0;
    std::vector<std::uint32_t> sleeps;
    int wait_result = 0;
    std::vector<std::int32_t> waits;
};

FakeCounter fake;

bool FakeFrequency(std::int64_t* counts_per_second) {
    ++fake.frequency_queries;
    if (fake.frequency_ok)
        *counts_per_second = fake.frequency;
    return fake.frequency_ok;
}

bool FakeQueryCounter(std::int64_t* count) {
    if (fake.counter_ok)
        *count = fake.counter;
    return fake.counter_ok;
}

std::uint32_t FakeTicks() {
    return fake.ticks;
}

void FakeSleep(std::uint32_t milliseconds) {
    fake.sleeps.push_back(milliseconds);
}

void FakeRaise() {
    ++fake.resolution_raises;
}

int FakeWait(platform::SocketHandle, std::int32_t milliseconds) {
    EXPECT_EQ(fake.resolution_raises, 1) << "raised once, before the first wait";
    fake.waits.push_back(milliseconds);
    return fake.wait_result;
}

// Installs the fake for one test, with the clock's caches forgotten on both ends.
class FakeClockScope {
  public:
    FakeClockScope()
        : scope_(platform::clock_ops, platform::ClockOps{FakeFrequency, FakeQueryCounter, FakeTicks,
                                                         FakeSleep, FakeRaise, FakeWait}) {
        fake = FakeCounter{};
        runtime::ResetClockForTesting();
    }
    ~FakeClockScope() { runtime::ResetClockForTesting(); }

  private:
    test_support::ScopedOps<platform::ClockOps> scope_;
};

constexpr std::int64_t TwoTo32 = std::int64_t{1} << 32;

TEST(ElapsedMs, ReadsCounterOrTickCount) {
    struct Case {
        const char* name;
        bool frequency_ok;
        std::int64_t frequency;
        bool counter_ok;
        std::int64_t counter;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"10 MHz exact", true, 10000000, true, 12345670000, 1234567},
        {"10 MHz truncates", true, 10000000, true, 9999, 0},
        {"3.579545 MHz, one second", true, 3579545, true, 3579545, 1000},
        {"3.579545 MHz runs fast", true, 3579545, true, 35795450, 10001},
        {"1 kHz is one count per ms", true, 1000, true, 777, 777},
        {"999 Hz falls back to ticks", true, 999, true, 5000, 424242},
        {"zero frequency", true, 0, true, 5000, 424242},
        {"negative frequency", true, -10000000, true, 5000, 424242},
        {"failed frequency query", false, 10000000, true, 5000, 424242},
        {"failed counter read is 0", true, 10000000, false, 50000, 0},
        {"wraps to negative after 2^31 ms", true, 1000, true, TwoTo32 / 2, INT32_MIN},
        {"wraps to 0 after 2^32 ms", true, 1000, true, TwoTo32, 0},
        {"after the wrap", true, 10000000, true, (TwoTo32 + 5) * 10000, 5},
        {"just before the wrap", true, 10000000, true, (TwoTo32 - 1) * 10000, -1},
    };
    for (const Case& c : cases) {
        FakeClockScope scope;
        fake.frequency_ok = c.frequency_ok;
        fake.frequency = c.frequency;
        fake.counter_ok = c.counter_ok;
        fake.counter = c.counter;
        fake.ticks = 424242;
        EXPECT_EQ(runtime::ElapsedMs(), c.expected) << c.name;
    }
}

TEST(ElapsedMs, KeepsAUsableFrequency) {
    FakeClockScope scope;
    fake.frequency = 3579545;
    fake.counter = 3579545;
    EXPECT_EQ(runtime::ElapsedMs(), 1000);
    // A later frequency is never looked at: the first usable one holds.
    fake.frequency = 1000;
    fake.counter = 35795450;
    EXPECT_EQ(runtime::ElapsedMs(), 10001);
    EXPECT_EQ(fake.frequency_queries, 1);
}

TEST(ElapsedMs, AsksAgainWhileTheFrequencyIsUnusable) {
    FakeClockScope scope;
    fake.frequency = 999;
    fake.ticks = 0xFFFFFFFFu; // the tick count wraps too: read as -1
    fake.counter = 20000;
    EXPECT_EQ(runtime::ElapsedMs(), -1);
    fake.frequency_ok = false;
    fake.ticks = 7;
    EXPECT_EQ(runtime::ElapsedMs(), 7);
    EXPECT_EQ(fake.frequency_queries, 2);
    // Once the counter has a usable frequency, it takes over for good.
    fake.frequency_ok = true;
    fake.frequency = 10000;
    EXPECT_EQ(runtime::ElapsedMs(), 2000);
    fake.frequency_ok = false;
    EXPECT_EQ(runtime::ElapsedMs(), 2000);
    EXPECT_EQ(fake.frequency_queries, 3);
}

TEST(ElapsedMs, DifferencesSurviveTheWrap) {
    // Waits that start 3 ms before a wrap of the readings (signed at 2^31 ms, unsigned at
    // 2^32 ms) and end 4 ms after it lasted 7 ms.
    for (std::int64_t wrap_ms : {TwoTo32 / 2, TwoTo32, 3 * TwoTo32}) {
        FakeClockScope scope;
        fake.frequency = 10000000;
        fake.counter = (wrap_ms - 3) * 10000;
        const std::int32_t start = runtime::ElapsedMs();
        fake.counter = (wrap_ms + 4) * 10000;
        const std::int32_t now = runtime::ElapsedMs();
        EXPECT_EQ(runtime::MsBetween(start, now), 7u) << wrap_ms;
        EXPECT_FALSE(runtime::DeadlinePassed(start, now, 7)) << wrap_ms;
        EXPECT_TRUE(runtime::DeadlinePassed(start, now, 6)) << wrap_ms;
    }
}

TEST(SleepMs, RaisesTheResolutionOnce) {
    FakeClockScope scope;
    runtime::SleepMs(0);
    EXPECT_EQ(fake.resolution_raises, 1);
    runtime::SleepMs(5);
    runtime::SleepMs(1);
    runtime::SleepMs(-3); // a negative length sleeps no time at all
    EXPECT_EQ(fake.resolution_raises, 1);
    EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{0, 5, 1, 0}));
}

TEST(WaitConnectionEvent, SharesTheOneResolutionRaiseAndNeverWaitsWithoutLimit) {
    // A UDP connection needs no peer; the fake wait never looks at its socket.
    ASSERT_EQ(runtime::NetworkStartup(), 1);
    runtime::ConnectionHandle conn =
        runtime::OpenClientConnection("127.0.0.1", 9, runtime::ProtocolUdp);
    ASSERT_NE(conn, nullptr);
    FakeClockScope scope;
    runtime::WaitConnectionEvent(conn, 1);
    runtime::WaitConnectionEvent(conn, -5); // the platform reads -1 as forever
    runtime::SleepMs(1);
    EXPECT_EQ(fake.resolution_raises, 1);
    EXPECT_EQ(fake.waits, (std::vector<std::int32_t>{1, 0}));
    EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{1}));

    // A failing wait would return at once and let a polling loop spin: it sleeps instead.
    fake.wait_result = -1;
    runtime::WaitConnectionEvent(conn, 1);
    EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{1, 1}));
    runtime::CloseClientConnection(conn);
}

TEST(DeadlinePassed, ComparesElapsedDifferences) {
    struct Case {
        std::int32_t start, now, limit_ms;
        bool passed;
    };
    const Case cases[] = {
        {1000, 1000, 0, false},
        {1000, 1001, 0, true},
        {1000, 1500, 500, false},
        {1000, 1501, 500, true},
        {INT32_MAX - 10, INT32_MIN + 10, 21, false}, // the signed wrap: 21 ms
        {INT32_MAX - 10, INT32_MIN + 10, 20, true},
        {-3, 4, 7, false}, // the unsigned wrap: 7 ms
        {-3, 5, 7, true},
        {1000, 999, INT32_MAX, true}, // nearly 2^32 ms later: beyond any signed limit
        {0, 0, -1, true},             // a negative limit has always passed
    };
    for (const Case& c : cases)
        EXPECT_EQ(runtime::DeadlinePassed(c.start, c.now, c.limit_ms), c.passed)
            << c.start << " " << c.now << " " << c.limit_ms;
}

TEST(ElapsedMs, RealClockMovesForward) {
    // The real counter: a 20 ms sleep shows as at least 20 ms (never asserting an upper bound).
    runtime::ResetClockForTesting();
    const std::int32_t start = runtime::ElapsedMs();
    runtime::SleepMs(20);
    EXPECT_GE(runtime::MsBetween(start, runtime::ElapsedMs()), 19u);
}

} // namespace

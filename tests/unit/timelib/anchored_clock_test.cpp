// Rizi.Now's anchor over fake clocks: it follows the boot clock, never the wall clock; its
// bound grows with the time carried; a new measurement replaces it only with a smaller bound.
#include "platform/precise_time.h"
#include "tests/support/scoped_ops.h"
#include "timelib/anchored_clock.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t Ns = 1000000000;

std::int64_t fake_boot_ns = 0;

bool FakeBoot(std::int64_t* ns) {
    *ns = fake_boot_ns;
    return true;
}

// A wall clock set an hour ahead by the user: Now must not see it.
bool FakeWall(std::int64_t* ns) {
    *ns = (1796760000 + 3600) * Ns + fake_boot_ns;
    return true;
}

TEST(AnchoredNow, CarriedByTheBootClockWithAGrowingBound) {
    test_support::ScopedOps<platform::PreciseTimeOps> clocks(platform::precise_time_ops,
                                                             {FakeWall, FakeBoot});
    timelib::ResetAnchorForTesting();
    std::int64_t now_ns = 0;
    double bound = 0;
    fake_boot_ns = 10 * Ns;
    EXPECT_FALSE(timelib::AnchoredNow(&now_ns, &bound));

    // Each step: the boot clock, then perhaps an offer (bound < 0: none), then what Now says.
    const struct {
        const char* what;
        std::int64_t boot_s;
        std::int64_t offered_s; // the true time offered, seconds since 1970
        double offered_bound;
        std::int64_t now_s;
        double now_bound;
    } steps[] = {
        {"the first anchor", 10, 1796760000, 0.010, 1796760000, 0.010},
        {"1000 s later, at 100 ppm", 1010, 0, -1, 1796761000, 0.110},
        {"a worse one is refused", 1010, 1796761005, 0.200, 1796761000, 0.110},
        {"a better one is taken", 1010, 1796761002, 0.005, 1796761002, 0.005},
        {"its own bound grows", 11010, 0, -1, 1796771002, 1.005},
    };
    for (const auto& step : steps) {
        fake_boot_ns = step.boot_s * Ns;
        if (step.offered_bound >= 0)
            timelib::OfferAnchor(step.offered_s * Ns, fake_boot_ns, step.offered_bound);
        ASSERT_TRUE(timelib::AnchoredNow(&now_ns, &bound)) << step.what;
        EXPECT_EQ(now_ns, step.now_s * Ns) << step.what;
        EXPECT_NEAR(bound, step.now_bound, 1e-9) << step.what;
    }
    timelib::ResetAnchorForTesting();
}

} // namespace

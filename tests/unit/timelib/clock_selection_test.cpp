// Clock selection over correctness intervals: who agrees, the common part, the offset.
#include "timelib/clock_selection.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(SelectSources, LargestOverlapMedianInsideBoundAndVerdict) {
    const struct {
        const char* what;
        std::vector<timelib::SourceInterval> sources;
        const char* agrees; // one letter a source: y agrees, n does not (the first largest set)
        double offset;
        double low, high;
        double error;
        bool verdict;
    } cases[] = {
        // clang-format off
        {"three honest, liars by an hour and by 2 minutes",
         {{0.0010, 0.01}, {0.0012, 0.01}, {0.0009, 0.01}, {3600, 0.01}, {-120, 0.01}},
         "yyynn", 0.0010, -0.0088, 0.0109, 0.0099, true},
        {"two honest and two liars alike: no verdict",
         {{0, 0.01}, {0, 0.01}, {3600, 0.01}, {3600, 0.01}},
         "yynn", 0, -0.01, 0.01, 0.01, false},
        {"one source", {{2.5, 0.1}}, "y", 2.5, 2.4, 2.6, 0.1, true},
        {"touching intervals share their end", {{0, 1}, {2, 1}}, "yy", 1, 1, 1, 0, true},
        {"the median held inside the common part",
         {{0, 10}, {9, 1}, {9.5, 1}}, "yyy", 9, 8.5, 10, 1, true},
        {"clamped to the edge: the bound reaches the far end",
         {{0, 1}, {0, 1}, {0.95, 0.05}}, "yyy", 0.9, 0.9, 1.0, 0.1, true},
        {"clamped from below", {{0, 10}, {1, 1.5}, {3, 1.5}}, "yyy", 1.5, 1.5, 2.5, 1, true},
        {"even count: the mean of the middle two",
         {{1, 5}, {2, 5}, {3, 5}, {4, 5}}, "yyyy", 2.5, -1, 6, 3.5, true},
        {"web sources vote but the NTP one sets the offset",
         {{0.4, 1.0, true}, {0.0001, 0.01}, {-0.3, 1.0, true}, {5, 1.0, true}},
         "yyyn", 0.0001, -0.0099, 0.0101, 0.01, true},
        {"web sources alone: their median",
         {{0.4, 1.0, true}, {-0.2, 1.0, true}}, "yy", 0.1, -0.6, 0.8, 0.7, true},
        {"a wide interval joins either side: two sets of 2, no verdict",
         {{-1, 0.5}, {1, 0.5}, {0, 2}}, "yny", -0.5, -1.5, -0.5, 1, false},
        {"two liars and a wide source against two honest: two sets of 3",
         {{0, 0.01}, {0, 0.01}, {0.3, 1.0, true}, {-0.65, 0.01}, {-0.65, 0.01}},
         "nnyyy", -0.65, -0.66, -0.64, 0.01, false},
        {"a wide source between two narrow ones: two sets of 2",
         {{0.5, 0.5}, {0.05, 0.05}, {0.95, 0.05}}, "yyn", 0.1, 0, 0.1, 0.1, false},
        // clang-format on
    };
    for (const auto& c : cases) {
        const int n = static_cast<int>(c.sources.size());
        const timelib::Selection s = timelib::SelectSources(c.sources.data(), n);
        std::string agrees;
        for (int i = 0; i < n; ++i)
            agrees += s.agrees[i] ? 'y' : 'n';
        EXPECT_EQ(agrees, c.agrees) << c.what;
        EXPECT_EQ(s.agree, static_cast<int>(std::count(agrees.begin(), agrees.end(), 'y')))
            << c.what;
        EXPECT_NEAR(s.offset, c.offset, 1e-9) << c.what;
        EXPECT_NEAR(s.low, c.low, 1e-9) << c.what;
        EXPECT_NEAR(s.high, c.high, 1e-9) << c.what;
        EXPECT_NEAR(s.error, c.error, 1e-9) << c.what;
        EXPECT_EQ(timelib::IsVerdict(s, n), c.verdict) << c.what;
    }
    EXPECT_EQ(timelib::SelectSources(nullptr, 0).agree, 0);
}

} // namespace

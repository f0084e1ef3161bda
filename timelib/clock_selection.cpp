#include "timelib/clock_selection.h"

#include <algorithm>

namespace timelib {
namespace {

struct Edge {
    double at;
    int step; // +1 where an interval starts, -1 where one ends
};

} // namespace

Selection SelectSources(const SourceInterval* sources, int count) {
    Selection s{};
    count = std::min(std::max(count, 0), MaxSources);
    if (count == 0)
        return s;
    // Step 1: both ends of every interval, in order; at one value starts come before ends,
    // so intervals that only touch still share that point.
    Edge edges[2 * MaxSources];
    for (int i = 0; i < count; ++i) {
        edges[2 * i] = Edge{sources[i].offset - sources[i].root_distance, +1};
        edges[2 * i + 1] = Edge{sources[i].offset + sources[i].root_distance, -1};
    }
    std::sort(edges, edges + 2 * count, [](const Edge& a, const Edge& b) {
        return a.at < b.at || (a.at == b.at && a.step > b.step);
    });
    // Step 2: sweep; the point where most intervals overlap first, and how often the depth
    // climbs to that most. Each climb is another set: a set that held both points would
    // cover what lies between them too, so the depth would not have dropped.
    int depth = 0;
    double point = edges[0].at;
    for (int i = 0; i < 2 * count; ++i) {
        depth += edges[i].step;
        if (depth > s.agree) {
            s.agree = depth;
            s.largest_sets = 1;
            point = edges[i].at;
        } else if (depth == s.agree && edges[i].step > 0) {
            ++s.largest_sets;
        }
    }
    // Step 3: the sources whose intervals hold that point, and what they have in common.
    double offsets[MaxSources];
    double fine_offsets[MaxSources];
    int n = 0;
    int fine = 0;
    s.low = point;
    s.high = point;
    bool first = true;
    for (int i = 0; i < count; ++i) {
        const double low = sources[i].offset - sources[i].root_distance;
        const double high = sources[i].offset + sources[i].root_distance;
        if (low <= point && point <= high) {
            s.agrees[i] = true;
            offsets[n++] = sources[i].offset;
            if (!sources[i].coarse)
                fine_offsets[fine++] = sources[i].offset;
            s.low = first ? low : std::max(s.low, low);
            s.high = first ? high : std::min(s.high, high);
            first = false;
        }
    }
    // Step 4: the median offset, of the fine sources when any agree, kept inside the common
    // part so that it contradicts none of them.
    double* median_of = fine > 0 ? fine_offsets : offsets;
    const int m = fine > 0 ? fine : n;
    std::sort(median_of, median_of + m);
    const double median =
        m % 2 == 1 ? median_of[m / 2] : (median_of[m / 2 - 1] + median_of[m / 2]) / 2;
    s.agree = n;
    s.offset = std::min(std::max(median, s.low), s.high);
    // Step 5: the bound covers the whole common part, whichever end the offset sits near.
    s.error = std::max(s.offset - s.low, s.high - s.offset);
    return s;
}

} // namespace timelib

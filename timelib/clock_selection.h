// Which of several sources tell the same time: NTP's clock selection (RFC 5905, section
// 11.2.1, after Marzullo). Every source stands for the interval offset +- root distance; the
// largest set whose intervals share a point agrees, unless another set just as large agrees on
// another point. Plain data, no sockets and no Lua.
#pragma once

#include <cstdint>

namespace timelib {

constexpr int MaxSources = 32;

// One source's correctness interval, in seconds.
struct SourceInterval {
    double offset;
    double root_distance;
    bool coarse = false; // whole seconds (a Date header): votes, but sets the offset only when no
                         // finer source agrees
};

struct Selection {
    int agree;               // how many sources share a point (0 when none was given)
    int largest_sets;        // how many different sets of agree sources share a point
    bool agrees[MaxSources]; // which ones (of the first such set)
    double low;              // the agreeing intervals' common part
    double high;             //
    double offset;           // the median of the agreeing offsets (of the fine ones when any
                             // fine source agrees), held inside [low, high]
    double error;            // how far the common part reaches from offset: the bound
};

// Selects among count sources (at most MaxSources). When more than one set reaches the
// largest overlap, largest_sets says so and the first of them is described.
Selection SelectSources(const SourceInterval* sources, int count);

// True when one set alone agrees and it holds more than half of answered: a verdict that a
// majority stands behind and no other set as large contradicts.
inline bool IsVerdict(const Selection& s, int answered) {
    return answered > 0 && s.largest_sets == 1 && 2 * s.agree > answered;
}

} // namespace timelib

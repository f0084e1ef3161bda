// Which of several sources tell the same time: NTP's clock selection (RFC 5905, section
// 11.2.1, after Marzullo). Every source stands for the interval offset +- root distance; the
// largest set whose intervals share a point agrees. Plain data, no sockets and no Lua.
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
    bool agrees[MaxSources]; // which ones
    double low;              // the agreeing intervals' common part
    double high;             //
    double offset;           // the median of the agreeing offsets (of the fine ones when any
                             // fine source agrees), held inside [low, high]
};

// Selects among count sources (at most MaxSources); among sets of the same size, the one
// whose common point comes first.
Selection SelectSources(const SourceInterval* sources, int count);

// True when agree is more than half of answered: a verdict a majority stands behind.
inline bool IsMajority(int agree, int answered) {
    return answered > 0 && 2 * agree > answered;
}

} // namespace timelib

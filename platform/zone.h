// The local time zone as the Windows zone record shapes it: biases in minutes with
// UTC = local time + bias, and the standard and daylight names as 32 UTF-16 units.
// A table so tests can set any record and result code.
#pragma once

#include <cstdint>

namespace platform {

// Code units in each zone name field, terminator included when the name is shorter.
constexpr int ZoneNameUnits = 32;

// Result codes of read_time_zone.
constexpr std::int32_t ZoneUnknown = 0;  // no daylight saving time in this zone
constexpr std::int32_t ZoneStandard = 1; // standard time in force
constexpr std::int32_t ZoneDaylight = 2; // daylight time in force

struct ZoneInfo {
    std::int32_t bias; // minutes, UTC = local time + bias
    // Each unit carries one byte of the name in the host's 8-bit code page, so taking the
    // low 8 bits of every unit gives that 8-bit name back.
    char16_t standard_name[ZoneNameUnits];
    std::int32_t standard_bias; // added to bias while standard time is in force
    char16_t daylight_name[ZoneNameUnits];
    std::int32_t daylight_bias; // added to bias while daylight time is in force
};

struct ZoneOps {
    // Fills a zero-filled record; 1 standard, 2 daylight, 0 for a zone without daylight
    // saving time, anything else on failure (the record may then stay zero).
    std::int32_t (*read_time_zone)(ZoneInfo* info);
};

// The table in use; its default is the real call.
extern ZoneOps zone_ops;

} // namespace platform

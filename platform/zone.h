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

#if defined(_WIN32)
// The replacement for characters that the code page lacks, as WideCharToMultiByte takes it:
// "?", or null for the code pages that accept none (UTF-8, UTF-7).
const char* ReplacementCharFor(std::uint32_t code_page);

// Converts a zone name (at most ZoneNameUnits units, zero-terminated when shorter) to the
// code page, as many whole characters as fit in ZoneNameUnits bytes of out; unmappable ones
// become "?". The count of bytes written, 0 for an empty name or a failed conversion.
int ZoneNameToCodePage(std::uint32_t code_page, const char16_t* name, char* out);
#else
// read_time_zone as it would answer at now_seconds (seconds since 1970, UTC) under the
// current TZ, which the caller has applied with tzset.
std::int32_t ReadTimeZoneAt(std::int64_t now_seconds, ZoneInfo* info);
#endif

} // namespace platform

// The zone rules every function of the time library uses: the bias in force and the zone's
// standard name, both read from platform/zone.h, and the bias as hours east of UTC.
#pragma once

#include "platform/zone.h"

#include <cstdint>

namespace timelib {

// Bytes of a zone name handed to Lua: one per code unit of the record's name field.
constexpr int ZoneNameBytes = platform::ZoneNameUnits;

// An 8-bit zone name, zero-terminated; plain storage so it may live across Lua calls.
struct ZoneName {
    char text[ZoneNameBytes + 1];
};

// One reading of the zone information: the record and the call's result code.
struct ZoneReading {
    platform::ZoneInfo info;
    std::int32_t result;
};

// Reads the zone information into a zero-filled record; a failed read leaves it zero.
ZoneReading ReadZone();

// The bias in force for one reading, in minutes (UTC = local + bias): Bias plus the standard
// part for results 1 and 0 (a zone without daylight saving time), plus the daylight part for
// result 2, and 0 when the read failed.
std::int32_t ZoneBiasOf(const ZoneReading& reading);

// The standard name of one reading: the low 8 bits of each code unit up to the first zero
// unit; units whose low 8 bits are zero add nothing. Possibly empty.
ZoneName ZoneStandardNameOf(const ZoneReading& reading);

// The bias in force, read afresh.
std::int32_t CurrentZoneBias();

// The zone's standard name, read afresh.
ZoneName ZoneStandardName();

// A bias in minutes as hours east of UTC; a bias of 0 gives negative zero.
double BiasHours(std::int32_t bias);

} // namespace timelib

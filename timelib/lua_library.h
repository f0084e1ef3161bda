// Table Rizi and the zone rules every part of the time library uses: the bias in force and
// the zone's standard name, both read from platform/zone.h. The retrievals themselves live
// in sntp and time_protocol.
#pragma once

#include "platform/zone.h"
#include "timelib/lua_api.h"

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

// Starts the network layer, builds table Rizi and stores it in the globals; always 1.
// Leaves the Lua stack as it found it.
std::int32_t RegisterActions(lua_State* L);

// Lua: require "rizi". Returns a new table with the same four functions, creating no global
// and leaving package.loaded to require. The first state to open the module starts the
// network layer; the last one of them to close stops it.
int OpenModule(lua_State* L);

// With a table on top of the stack, stores function in it under name.
void RegisterLuaFunction(lua_State* L, const char* name, lua_CFunction function);

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

// The optional integer argument arg (luaL_optinteger: default when absent or nil, numeric
// strings accepted, the same argument error otherwise) as 32 bits: a fraction is cut off
// (20.7 and -20.7 read as 20 and -20), values beyond the 32-bit range saturate at its limits
// instead of wrapping, NaN reads as 0.
std::int32_t OptInt32Argument(lua_State* L, int arg, std::int32_t default_value);

// Lua: Rizi.GetTimezoneName() -> the standard name (string).
int GetTimezoneName(lua_State* L);

// Lua: Rizi.GetTimezoneBias() -> hours east of UTC (number).
int GetTimezoneBias(lua_State* L);

} // namespace timelib

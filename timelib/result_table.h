// The table every time function returns: the server's time as UTC and as local time by the
// bias in force, with the zone's standard name and its offset, all from one zone reading. The
// retrievals use 32-bit times; the measurement functions any time, with its fraction.
#pragma once

#include "runtime/calendar.h"
#include "timelib/lua_api.h"

#include <cstdint>

namespace timelib {

// Reads the zone once and leaves the result table for t on top of the stack:
// unbiased, biased, timezoneName, timezoneBias.
void PushTimeResult(lua_State* L, runtime::TimeValue t);

// Leaves the date table of t (day, wday, yday, month, year, hour, min, sec; all 0 for a
// negative t) on top of the stack.
void PushDateFields(lua_State* L, runtime::TimeValue t);

// Reads the zone once and leaves the result table for a time in ns since 1970 on top of the
// stack: unbiased and biased from its whole second (any year), timezoneName, timezoneBias,
// and time (seconds with the fraction). It has room for an NTP measurement's keys and
// more_keys besides, so that it is not rebuilt while the caller fills it.
void PushInstantResult(lua_State* L, std::int64_t unix_ns, int more_keys = 0);

// With a table on top of the stack, stores a number, an integer, a string or a boolean under
// key.
void SetNumberField(lua_State* L, const char* key, double value);
void SetIntegerField(lua_State* L, const char* key, std::int32_t value);
void SetStringField(lua_State* L, const char* key, const char* value);
void SetBooleanField(lua_State* L, const char* key, bool value);

} // namespace timelib

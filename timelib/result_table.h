// The table both retrievals return: the server's time as UTC and as local time by the bias
// in force, with the zone's standard name and its offset, all from one zone reading.
#pragma once

#include "runtime/calendar.h"
#include "timelib/lua_api.h"

namespace timelib {

// Reads the zone once and leaves the result table for t on top of the stack:
// unbiased, biased, timezoneName, timezoneBias.
void PushTimeResult(lua_State* L, runtime::TimeValue t);

// Leaves the date table of t (day, wday, yday, month, year, hour, min, sec; all 0 for a
// negative t) on top of the stack.
void PushDateFields(lua_State* L, runtime::TimeValue t);

} // namespace timelib

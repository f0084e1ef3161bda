// The zone functions of table Rizi: the local zone's standard name and its offset from UTC.
#pragma once

#include "timelib/lua_api.h"

namespace timelib {

// Lua: Rizi.GetTimezoneName() -> the standard name (string).
int GetTimezoneName(lua_State* L);

// Lua: Rizi.GetTimezoneBias() -> hours east of UTC (number).
int GetTimezoneBias(lua_State* L);

} // namespace timelib

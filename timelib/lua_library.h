// Table Rizi: the registration that names every function of the time library. The functions
// live one family a file (sntp, time_protocol, zone_functions, ...); what they all use lies
// below them (lua_arguments, zone, result_table). This header also brings those helpers, so a
// file that drives the whole library includes this one alone.
#pragma once

#include "timelib/lua_api.h"
#include "timelib/lua_arguments.h"
#include "timelib/zone.h"
#include "timelib/zone_functions.h"

#include <cstdint>

namespace timelib {

// Starts the network layer, builds table Rizi and stores it in the globals; always 1.
// Leaves the Lua stack as it found it.
std::int32_t RegisterActions(lua_State* L);

// Lua: require "rizi". Returns a new table with the same functions, creating no global and
// leaving package.loaded to require. The first state to open the module starts the network
// layer; the last one of them to close stops it.
int OpenModule(lua_State* L);

// With a table on top of the stack, stores function in it under name.
void RegisterLuaFunction(lua_State* L, const char* name, lua_CFunction function);

} // namespace timelib

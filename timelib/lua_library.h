// Table Rizi and the zone rules every part of the time library uses: the bias in force and
// the zone's standard name, both read from platform/zone.h.
#pragma once

#include <cstdint>
#include <string>

#include "timelib/lua_api.h"

namespace timelib {

// Starts the network layer, builds table Rizi and stores it in the globals; always 1.
// Leaves the Lua stack as it found it.
std::int32_t RegisterActions(lua_State* L);

}  // namespace timelib

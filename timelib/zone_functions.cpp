#include "timelib/zone_functions.h"

#include "timelib/lua_compat.h"
#include "timelib/zone.h"

namespace timelib {

int GetTimezoneName(lua_State* L) {
    const ZoneName name = ZoneStandardName();
    lua_pushstring(L, name.text);
    return 1;
}

int GetTimezoneBias(lua_State* L) {
    PushHours(L, BiasHours(CurrentZoneBias()));
    return 1;
}

} // namespace timelib

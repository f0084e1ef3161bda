#include "timelib/lua_arguments.h"

#include "timelib/lua_compat.h"

namespace timelib {

std::int32_t OptInt32Argument(lua_State* L, int arg, std::int32_t default_value) {
    if (lua_isnoneornil(L, arg)) {
        return default_value;
    }
    // Read as a number first: lua_Integer is only 32 bits wide on some builds, and converting
    // a double beyond its range is undefined (or wraps), so the range test comes first. The
    // argument error is the one luaL_optinteger raises.
    const lua_Number n = luaL_checknumber(L, arg);
    if (n >= static_cast<lua_Number>(INT32_MAX)) {
        return INT32_MAX;
    }
    if (n <= static_cast<lua_Number>(INT32_MIN)) {
        return INT32_MIN;
    }
    if (n != n) {
        return 0;
    }
    return NumberArgumentToInt32(L, arg, n);
}

} // namespace timelib

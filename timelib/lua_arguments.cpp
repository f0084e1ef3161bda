#include "timelib/lua_arguments.h"

#include "timelib/lua_compat.h"

#include <cstring>

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
    // Inside the range one cast cuts a fraction off, alike in every Lua: the interpreters'
    // own conversions differ (an i686 Lua 5.1 without SSE2 rounds to nearest, 5.4 refuses a
    // fraction), so 20.7 would wait 21, 20 or 0 ms depending on the build.
    return static_cast<std::int32_t>(n);
}

void CopyTextArgument(lua_State* L, int arg, char (&text)[ServerTextBytes]) {
    const char* value = luaL_checklstring(L, arg, nullptr);
    const std::size_t length = std::strlen(value);
    if (length >= sizeof text) {
        text[0] = '\0';
        return;
    }
    std::memcpy(text, value, length + 1);
}

} // namespace timelib

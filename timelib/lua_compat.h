// The only differences between the Lua versions the library is built for (5.1 and LuaJIT,
// which share one interface, and 5.4): how a pair reaches the globals, how hours are pushed,
// how long a table is, and how a number argument becomes an integer. Everything else calls the API
// common to both.
#pragma once

#include "timelib/lua_api.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace timelib {

// Stores the value on top of the stack in the globals under the key below it and pops both.
inline void SetGlobalPair(lua_State* L) {
#if LUA_VERSION_NUM < 502
    lua_settable(L, LUA_GLOBALSINDEX); // stack: (key and value popped)
#else
    // 5.2 on has no globals pseudo-index: the table comes from the registry.
    lua_pushglobaltable(L); // stack: key, value, globals
    lua_insert(L, -3);      // stack: globals, key, value
    lua_settable(L, -3);    // stack: globals
    lua_pop(L, 1);          // stack: (key and value popped)
#endif
}

// Pushes hours east of UTC. 5.1 numbers are all doubles (a bias of 0 gives -0); from 5.3 on
// a whole count goes as an integer, so scripts see 1 rather than 1.0 and 5.5 stays a float.
inline void PushHours(lua_State* L, double hours) {
#if LUA_VERSION_NUM < 503
    lua_pushnumber(L, hours);
#else
    // |hours| stays below 2^31 / 60, so the conversion is exact.
    if (std::floor(hours) == hours) {
        lua_pushinteger(L, static_cast<lua_Integer>(hours));
    } else {
        lua_pushnumber(L, hours);
    }
#endif
}

// The length of the table at index, without metamethods (lua_objlen became lua_rawlen).
inline std::size_t RawLength(lua_State* L, int index) {
#if LUA_VERSION_NUM < 502
    return lua_objlen(L, index);
#else
    return static_cast<std::size_t>(lua_rawlen(L, index));
#endif
}

// The integer value of number argument arg, already read as n and known to lie inside the
// 32-bit range. 5.1 leaves a fraction to the interpreter's own conversion, as
// luaL_optinteger does; from 5.3 on that conversion gives 0 for a number with a fraction, so
// the fraction is cut off here instead (20.5 waits 20, not 0).
inline std::int32_t NumberArgumentToInt32(lua_State* L, int arg, lua_Number n) {
#if LUA_VERSION_NUM < 503
    static_cast<void>(n);
    return static_cast<std::int32_t>(lua_tointeger(L, arg));
#else
    static_cast<void>(L);
    static_cast<void>(arg);
    return static_cast<std::int32_t>(n);
#endif
}

} // namespace timelib

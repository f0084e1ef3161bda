// The only differences between the Lua versions the library is built for (5.1 and LuaJIT,
// which share one interface, and 5.4): how a value reaches the globals, how hours are pushed
// and how long a table is. Everything else calls the API common to both.
#pragma once

#include "timelib/lua_api.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace timelib {

// Stores the value on top of the stack in the globals under the key below it and pops both.
inline void SetGlobal(lua_State* L) {
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

} // namespace timelib

// The Lua C API with C linkage, for C++ files that drive a Lua state: 5.1 (and LuaJIT), or
// 5.4 for the 5.4 module; timelib/lua_compat.h holds what differs.
#pragma once

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

// The Lua 5.1 C API with C linkage, for C++ files that drive a Lua state.
#pragma once

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

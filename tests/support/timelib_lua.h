// A Lua 5.1 state with the standard libraries for tests of Lua C functions; closed at scope
// end. CallFunction runs one C function in protected mode, as a script's call would.
#pragma once

#include "timelib/lua_api.h"

#include <string>

namespace test_support {

class LuaState {
  public:
    LuaState() : L_(luaL_newstate()) { luaL_openlibs(L_); }
    ~LuaState() { lua_close(L_); }
    LuaState(const LuaState&) = delete;
    LuaState& operator=(const LuaState&) = delete;

    lua_State* get() const { return L_; }

    // Calls function with the arguments pushed by push_args (which may push none); the
    // error message on a Lua error (nothing left on the stack), else "" with every result
    // left on the stack.
    template <class PushArgs> std::string CallFunction(lua_CFunction function, PushArgs push_args) {
        const int base = lua_gettop(L_);
        lua_pushcfunction(L_, function);
        push_args(L_);
        if (lua_pcall(L_, lua_gettop(L_) - base - 1, LUA_MULTRET, 0) != 0) {
            std::string message = lua_tostring(L_, -1);
            lua_settop(L_, base);
            return message;
        }
        return "";
    }

  private:
    lua_State* L_;
};

} // namespace test_support

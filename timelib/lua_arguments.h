// Reading the arguments scripts pass, alike in every Lua version the library is built for.
#pragma once

#include "timelib/lua_api.h"

#include <cstdint>

namespace timelib {

// The optional integer argument arg (luaL_optinteger: default when absent or nil, numeric
// strings accepted, the same argument error otherwise) as 32 bits: a fraction is cut off
// (20.7 and -20.7 read as 20 and -20), values beyond the 32-bit range saturate at its limits
// instead of wrapping, NaN reads as 0.
std::int32_t OptInt32Argument(lua_State* L, int arg, std::int32_t default_value);

// Longest server text a query started in the background keeps; a longer one (which no
// resolver would take) counts as empty.
constexpr int ServerTextBytes = 1024;

// The string argument arg (luaL_checklstring: numbers accepted, the same argument error
// otherwise) copied into text up to its first NUL; "" when it does not fit.
void CopyTextArgument(lua_State* L, int arg, char (&text)[ServerTextBytes]);

} // namespace timelib

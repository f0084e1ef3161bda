#include "timelib/lua_library.h"

namespace timelib {

std::int32_t RegisterActions(lua_State* /*L*/) { return 1; }

}  // namespace timelib

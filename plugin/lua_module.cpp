// The Lua module's entry: require "rizi" calls luaopen_rizi, which forwards to the time
// library. Start-up and teardown run from the library's load and unload hooks, as for the
// plug-in (platform/module_entry.h). The module's only export; C types only.
#include "timelib/lua_library.h"

#if defined(_WIN32)
#define RIZI_MODULE_API
#else
#define RIZI_MODULE_API __attribute__((visibility("default")))
#endif

// Not noexcept: a Lua built as C++ raises its errors (out of memory) as exceptions.
extern "C" RIZI_MODULE_API int luaopen_rizi(lua_State* L) {
    return timelib::OpenModule(L);
}

// The Lua module's entry: require "rizi" calls luaopen_rizi, which forwards to the time
// library, and the library's load and unload hooks (platform/module_entry.h) start and tear
// down everything but the network layer, which the module's Lua states start and stop
// outside the Windows loader lock. The module's only export; C types only.
#include "platform/module_entry.h"
#include "plugin/lifecycle.h"
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

namespace platform {

void OnModuleLoad() {
    plugin::Startup(plugin::Network::Excluded);
}

void OnModuleUnload() {
    plugin::Teardown(plugin::Network::Excluded);
}

} // namespace platform

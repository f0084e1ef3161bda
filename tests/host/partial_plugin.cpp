// A plug-in that offers only part of the interface, for rizi-host's own tests: a name, and a
// registration that breaks the host's rule by leaving a value on the Lua stack.
#include "timelib/lua_api.h"

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define PARTIAL_EXPORT __declspec(dllexport)
#else
#define PARTIAL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

PARTIAL_EXPORT std::int32_t irPlg_GetPluginName(char* buffer, std::int32_t* size) {
    const char name[] = "Partial";
    const auto length = static_cast<std::int32_t>(sizeof name - 1);
    if (size == nullptr || buffer == nullptr || *size < length + 1) {
        if (size != nullptr)
            *size = length + 1;
        return -1;
    }
    std::memcpy(buffer, name, sizeof name);
    return length;
}

PARTIAL_EXPORT std::int32_t irPlg_Action_RegisterActions(lua_State* L) {
    lua_pushboolean(L, 1); // left behind on purpose
    return 1;
}

} // extern "C"

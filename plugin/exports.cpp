// The host interface: every irPlg_ export, each forwarding to a plugin:: function.
// The only file with C linkage; C types only, nothing thrown across it.
#include <cstdint>

#include "timelib/lua_library.h"

#if defined(_WIN32)
#define RIZI_EXPORT
#else
#define RIZI_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

RIZI_EXPORT std::int32_t irPlg_Action_RegisterActions(lua_State* L) noexcept {
    return timelib::RegisterActions(L);
}

}  // extern "C"

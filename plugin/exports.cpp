// The host interface: every irPlg_ export, each forwarding to a plugin:: function.
// The only file with C linkage; C types only, nothing thrown across it.
#include "plugin/action_xml.h"
#include "plugin/help.h"
#include "plugin/identity.h"
#include "timelib/lua_library.h"

#include <cstdint>

#if defined(_WIN32)
#define RIZI_EXPORT
#else
#define RIZI_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

RIZI_EXPORT std::int32_t irPlg_GetSDKVersion() noexcept {
    return plugin::GetSDKVersion();
}

RIZI_EXPORT std::int32_t irPlg_GetPluginName(char* buffer, std::int32_t* size) noexcept {
    return plugin::GetPluginName(buffer, size);
}

RIZI_EXPORT std::int32_t irPlg_GetPluginVersion(char* buffer, std::int32_t* size) noexcept {
    return plugin::GetPluginVersion(buffer, size);
}

RIZI_EXPORT std::int32_t irPlg_GetAuthorInfo(char* buffer, std::int32_t* size) noexcept {
    return plugin::GetAuthorInfo(buffer, size);
}

RIZI_EXPORT std::int32_t irPlg_GetLuaVersion(char* buffer, std::int32_t* size) noexcept {
    return plugin::GetLuaVersion(buffer, size);
}

// The host passes arguments that are never read; with C calling conventions the caller
// removes them again.
RIZI_EXPORT std::int32_t irPlg_OnProjectBuild() noexcept {
    return plugin::OnProjectBuild();
}

RIZI_EXPORT std::int32_t irPlg_GetPluginActionXML(char* buffer, std::int32_t* size) noexcept {
    return plugin::GetPluginActionXML(buffer, size);
}

RIZI_EXPORT std::int32_t irPlg_ShowHelpForPlugin(const char* folder) noexcept {
    return plugin::ShowHelpForPlugin(folder);
}

RIZI_EXPORT std::int32_t irPlg_ShowHelpForAction(const char* action_name,
                                                 const char* folder) noexcept {
    return plugin::ShowHelpForAction(action_name, folder);
}

RIZI_EXPORT std::int32_t irPlg_Action_RegisterActions(lua_State* L) noexcept {
    return timelib::RegisterActions(L);
}

} // extern "C"

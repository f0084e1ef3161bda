// The module's identity: name, version, author text, Lua version and SDK version, set at
// start-up and read-only afterwards, and the exports that report them through the buffer
// protocol (plugin/buffer_protocol.h).
#pragma once

#include <cstdint>

namespace plugin {

// The identity as start-up leaves it. Texts are zero-terminated 8-bit (ANSI) text.
struct Identity {
    const char* plugin_name;
    const char* plugin_version;
    const char* author_info;
    std::int32_t sdk_version;
};

// The module-wide values; empty texts and version 0 before start-up.
extern Identity identity;

// The Lua version the module is built for; a constant, not set at start-up.
constexpr const char* LuaVersion = "Lua 5.1";

// Sets the plug-in name, the author text, the plug-in version and the SDK version.
void SetIdentityValues();

// The plug-in name ("Rizi"), never null.
const char* PluginName();

// The host-facing operations: text length or -1, by the buffer protocol.
std::int32_t GetPluginName(char* buffer, std::int32_t* size);
std::int32_t GetPluginVersion(char* buffer, std::int32_t* size);
std::int32_t GetAuthorInfo(char* buffer, std::int32_t* size);
std::int32_t GetLuaVersion(char* buffer, std::int32_t* size);

// The SDK version of the host interface, 2 once started.
std::int32_t GetSDKVersion();

// The host builds a project: nothing to do; always 1.
std::int32_t OnProjectBuild();

} // namespace plugin

#include "plugin/identity.h"

#include "plugin/buffer_protocol.h"
#include "plugin/version.h"

#include <cstring>

namespace plugin {
namespace {

constexpr const char* Name = "Rizi";
constexpr const char* Version = RIZI_VERSION_TEXT;
constexpr std::int32_t SdkVersion = 2;

// Four lines joined by CR LF, none after the last; "\xA9" is the copyright sign in the
// ANSI code page.
constexpr const char* AuthorInfo = "Vadorov Rizi\r\n"
                                   "Created by Vadorov Vuvaroreriv\r\n"
                                   "https://www.vadorov.example/rizi\r\n"
                                   "Copyright \xA9 2026 Vadorov Vuvaroreriv. All rights reserved.";

std::int32_t CopyToHost(const char* text, char* buffer, std::int32_t* size) {
    if (text == nullptr)
        text = "";
    return CopyTextToHost(text, static_cast<std::int32_t>(std::strlen(text)), buffer, size);
}

} // namespace

Identity identity = {nullptr, nullptr, nullptr, 0};

void SetIdentityValues() {
    identity.plugin_name = Name;
    identity.author_info = AuthorInfo;
    identity.plugin_version = Version;
    identity.sdk_version = SdkVersion;
}

const char* PluginName() {
    return Name;
}

std::int32_t GetPluginName(char* buffer, std::int32_t* size) {
    return CopyToHost(identity.plugin_name, buffer, size);
}

std::int32_t GetPluginVersion(char* buffer, std::int32_t* size) {
    return CopyToHost(identity.plugin_version, buffer, size);
}

std::int32_t GetAuthorInfo(char* buffer, std::int32_t* size) {
    return CopyToHost(identity.author_info, buffer, size);
}

std::int32_t GetLuaVersion(char* buffer, std::int32_t* size) {
    return CopyToHost(LuaVersion, buffer, size);
}

std::int32_t GetSDKVersion() {
    return identity.sdk_version;
}

std::int32_t OnProjectBuild() {
    return 1;
}

} // namespace plugin

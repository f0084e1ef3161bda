// The zone record from GetTimeZoneInformation. The names are handed up already converted to
// the ANSI code page (unmappable characters as "?"), one byte per code unit, so the layer
// above reads the same 8-bit name on both systems.
#include "platform/zone.h"

#include "platform/win32/zone_testing.h"

#include <windows.h>

namespace platform {

const char* ReplacementCharFor(std::uint32_t code_page) {
    // UTF-8 and UTF-7 have no unmappable characters, and Windows refuses a replacement
    // character for them (ERROR_INVALID_PARAMETER): with one, every name came out empty.
    if (code_page == CP_UTF8 || code_page == CP_UTF7) {
        return nullptr;
    }
    return "?";
}

int ZoneNameToCodePage(std::uint32_t code_page, const char16_t* name, char* out) {
    int units = 0;
    while (units < ZoneNameUnits && name[units] != 0) {
        ++units;
    }
    const char* replacement = ReplacementCharFor(code_page);
    int bytes = 0;
    // A longer text (double-byte code pages, UTF-8) fails whole; retry with fewer characters.
    for (int n = units; n > 0 && bytes == 0; --n) {
        bytes = WideCharToMultiByte(code_page, 0, reinterpret_cast<const WCHAR*>(name), n, out,
                                    ZoneNameUnits, replacement, nullptr);
    }
    return bytes;
}

namespace {

// Converts a name to ANSI and widens each byte back into out.
void ToAnsiUnits(const WCHAR* name, char16_t* out) {
    char ansi[ZoneNameUnits] = {};
    const int bytes = ZoneNameToCodePage(GetACP(), reinterpret_cast<const char16_t*>(name), ansi);
    for (int i = 0; i < bytes && ansi[i] != '\0'; ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(ansi[i]));
    }
}

std::int32_t ReadTimeZone(ZoneInfo* info) {
    TIME_ZONE_INFORMATION tzi;
    ZeroMemory(&tzi, sizeof tzi);
    const DWORD result = GetTimeZoneInformation(&tzi);
    *info = ZoneInfo{};
    info->bias = static_cast<std::int32_t>(tzi.Bias);
    info->standard_bias = static_cast<std::int32_t>(tzi.StandardBias);
    info->daylight_bias = static_cast<std::int32_t>(tzi.DaylightBias);
    ToAnsiUnits(tzi.StandardName, info->standard_name);
    ToAnsiUnits(tzi.DaylightName, info->daylight_name);
    // TIME_ZONE_ID_INVALID and any other code pass through as they are.
    return static_cast<std::int32_t>(result);
}

} // namespace

ZoneOps zone_ops = {ReadTimeZone};

} // namespace platform

// The zone record from GetTimeZoneInformation. The names are handed up already converted to
// the ANSI code page (unmappable characters as "?"), one byte per code unit, so the layer
// above reads the same 8-bit name on both systems.
#include "platform/zone.h"

#include <windows.h>

namespace platform {
namespace {

// Converts a name of at most ZoneNameUnits units to ANSI and widens each byte back into
// out. Characters that do not fit whole in the field are left off.
void ToAnsiUnits(const WCHAR* name, char16_t* out) {
    int units = 0;
    while (units < ZoneNameUnits && name[units] != 0) {
        ++units;
    }
    char ansi[ZoneNameUnits] = {};
    int bytes = 0;
    // A longer ANSI text (double-byte code pages) fails whole; retry with fewer characters.
    for (int n = units; n > 0 && bytes == 0; --n) {
        bytes = WideCharToMultiByte(CP_ACP, 0, name, n, ansi, ZoneNameUnits, "?", nullptr);
    }
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

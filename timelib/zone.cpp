#include "timelib/zone.h"

namespace timelib {

ZoneReading ReadZone() {
    ZoneReading reading{};
    reading.result = platform::zone_ops.read_time_zone(&reading.info);
    return reading;
}

std::int32_t ZoneBiasOf(const ZoneReading& reading) {
    const platform::ZoneInfo& info = reading.info;
    switch (reading.result) {
    case platform::ZoneStandard:
    case platform::ZoneUnknown:
        // A zone without daylight saving time reports 0 and still has its offset.
        return info.bias + info.standard_bias;
    case platform::ZoneDaylight:
        return info.bias + info.daylight_bias;
    default:
        return 0;
    }
}

ZoneName ZoneStandardNameOf(const ZoneReading& reading) {
    ZoneName name{};
    int length = 0;
    for (int i = 0; i < platform::ZoneNameUnits; ++i) {
        const char16_t unit = reading.info.standard_name[i];
        if (unit == 0) {
            break;
        }
        // The low 8 bits; a unit such as U+0100 adds nothing but does not end the name.
        const auto byte = static_cast<unsigned char>(unit & 0xFF);
        if (byte != 0) {
            name.text[length++] = static_cast<char>(byte);
        }
    }
    return name;
}

std::int32_t CurrentZoneBias() {
    return ZoneBiasOf(ReadZone());
}

ZoneName ZoneStandardName() {
    return ZoneStandardNameOf(ReadZone());
}

double BiasHours(std::int32_t bias) {
    // Negated as a double, so a bias of 0 gives -0.
    return -static_cast<double>(bias) / 60.0;
}

} // namespace timelib

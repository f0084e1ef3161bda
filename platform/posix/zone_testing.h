// For tests only: the zone layer's reading at any moment, so tests can walk through a year
// without moving the clock.
#pragma once

#include "platform/zone.h"

#include <cstdint>

namespace platform {

// read_time_zone as it would answer at now_seconds (seconds since 1970, UTC) under the
// current TZ, which the caller has applied with tzset.
std::int32_t ReadTimeZoneAt(std::int64_t now_seconds, ZoneInfo* info);

} // namespace platform

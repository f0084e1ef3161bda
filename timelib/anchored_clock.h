// Rizi.Now: the time of the best measurement so far, carried forward by the boot clock (the raw
// oscillator, see platform/precise_time.h), so that neither setting this machine's clock nor a
// daemon slewing it afterwards changes anything. One anchor per process, shared
// by every Lua state and thread, updated under a lock and kept in memory only.
#pragma once

#include "timelib/lua_api.h"

#include <cstdint>

namespace timelib {

// How fast the raw oscillator may drift: the error bound grows by this much a second (an
// undisciplined crystal; 15 ppm, RFC 5905's figure, holds only for a disciplined clock).
constexpr double DriftPerSecond = 100e-6;

// Offers a measurement: the true time server_ns (ns since 1970) at boot clock reading boot_ns,
// good to within error_seconds. It becomes the anchor when no anchor is kept yet or when its
// bound is smaller than the kept anchor's, carried forward to the same moment.
void OfferAnchor(std::int64_t server_ns, std::int64_t boot_ns, double error_seconds);

// The anchor's time now and its error bound; false before any anchor.
bool AnchoredNow(std::int64_t* unix_ns, double* error_seconds);

// Forgets the anchor; for tests.
void ResetAnchorForTesting();

// Lua: Rizi.Now() -> seconds since 1970 with the fraction, error bound in seconds; or nil,
// "unsynchronised" before any successful measurement.
int Now(lua_State* L);

} // namespace timelib

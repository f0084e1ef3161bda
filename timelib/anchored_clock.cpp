#include "timelib/anchored_clock.h"

#include "platform/precise_time.h"

#include <mutex>

namespace timelib {
namespace {

struct Anchor {
    bool set;
    std::int64_t server_ns;
    std::int64_t boot_ns;
    double error_seconds;
};

std::mutex anchor_lock;
Anchor anchor{};

// The anchor's bound at boot clock reading boot_ns: it grows with the drift the clock may have.
double BoundAt(const Anchor& a, std::int64_t boot_ns) {
    const double elapsed = static_cast<double>(boot_ns - a.boot_ns) / 1e9;
    return a.error_seconds + DriftPerSecond * (elapsed > 0 ? elapsed : 0);
}

} // namespace

void OfferAnchor(std::int64_t server_ns, std::int64_t boot_ns, double error_seconds) {
    const std::lock_guard<std::mutex> hold(anchor_lock);
    if (anchor.set && BoundAt(anchor, boot_ns) <= error_seconds)
        return;
    anchor = Anchor{true, server_ns, boot_ns, error_seconds};
}

bool AnchoredNow(std::int64_t* unix_ns, double* error_seconds) {
    std::int64_t boot_ns = 0;
    if (!platform::precise_time_ops.boot_time_ns(&boot_ns))
        return false;
    const std::lock_guard<std::mutex> hold(anchor_lock);
    if (!anchor.set)
        return false;
    *unix_ns = anchor.server_ns + (boot_ns - anchor.boot_ns);
    *error_seconds = BoundAt(anchor, boot_ns);
    return true;
}

void ResetAnchorForTesting() {
    const std::lock_guard<std::mutex> hold(anchor_lock);
    anchor = Anchor{};
}

int Now(lua_State* L) {
    std::int64_t unix_ns = 0;
    double error_seconds = 0;
    if (!AnchoredNow(&unix_ns, &error_seconds)) {
        lua_pushnil(L);
        lua_pushstring(L, "unsynchronised");
        return 2;
    }
    lua_pushnumber(L, static_cast<double>(unix_ns) / 1e9);
    lua_pushnumber(L, error_seconds);
    return 2;
}

} // namespace timelib

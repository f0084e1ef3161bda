#include "timelib/lua_library.h"

#include "runtime/net.h"
#include "timelib/lua_compat.h"
#include "timelib/sntp.h"
#include "timelib/time_protocol.h"

#include <mutex>

namespace timelib {
namespace {

struct LuaFunction {
    const char* name;
    lua_CFunction function;
};

// Table Rizi, in registration order.
constexpr LuaFunction RiziFunctions[] = {
    {"GetTimezoneName", GetTimezoneName},
    {"GetTimezoneBias", GetTimezoneBias},
    {"RetrieveNTPTime", RetrieveNTPTime},
    {"RetrieveTSTime", RetrieveTSTime},
};

// Leaves a new table with the four functions on top of the stack.
void PushRiziTable(lua_State* L) {
    lua_createtable(L, 0, 0); // stack: table
    for (const LuaFunction& entry : RiziFunctions) {
        RegisterLuaFunction(L, entry.name, entry.function);
    }
}

// The Lua states that opened the module and hold the network layer. States in several
// threads may open and close at once, so the count and the start and stop go under the lock.
std::mutex network_users_lock;
int network_users = 0;

// __gc of the holder that each opening leaves in its state's registry: the last state to
// close stops the network. Lua closes a state's objects in the reverse order of their
// creation, so this runs before the library itself is unloaded.
int ReleaseNetwork(lua_State* L) {
    auto* holds = static_cast<bool*>(lua_touserdata(L, 1));
    if (holds != nullptr && *holds) {
        *holds = false;
        const std::lock_guard<std::mutex> lock(network_users_lock);
        if (--network_users == 0) {
            runtime::NetworkShutdown();
        }
    }
    return 0;
}

} // namespace

std::int32_t RegisterActions(lua_State* L) {
    // A no-op once started; a failure shows later as nil from the retrievals.
    runtime::NetworkStartup();
    lua_pushstring(L, "Rizi"); // stack: "Rizi"
    PushRiziTable(L);          // stack: "Rizi", table
    SetGlobal(L);              // stack: (as on entry)
    return 1;
}

int OpenModule(lua_State* L) {
    // Step 1: the holder, with its __gc, kept in the registry for the state's lifetime. Every
    // call that can raise comes before it holds anything, so a raise leaves no count behind.
    auto* holds = static_cast<bool*>(lua_newuserdata(L, sizeof(bool))); // stack: holder
    *holds = false;
    lua_createtable(L, 0, 1);               // stack: holder, metatable
    lua_pushcclosure(L, ReleaseNetwork, 0); // stack: holder, metatable, function
    lua_setfield(L, -2, "__gc");            // stack: holder, metatable
    lua_setmetatable(L, -2);                // stack: holder
    luaL_ref(L, LUA_REGISTRYINDEX);         // stack: (as on entry)
    // Step 2: the network layer, started by the first state (never by the library's load
    // notification, which runs under the Windows loader lock). When it fails, the retrievals
    // give nil and the next opening tries again.
    {
        const std::lock_guard<std::mutex> lock(network_users_lock);
        if (runtime::NetworkStartup() == 1) {
            ++network_users;
            *holds = true;
        }
    }
    // Step 3: the table of the four functions.
    PushRiziTable(L); // stack: table
    return 1;
}

void RegisterLuaFunction(lua_State* L, const char* name, lua_CFunction function) {
    lua_pushstring(L, name);          // stack: table, name
    lua_pushcclosure(L, function, 0); // stack: table, name, function
    lua_settable(L, -3);              // stack: table
}

std::int32_t OptInt32Argument(lua_State* L, int arg, std::int32_t default_value) {
    if (lua_isnoneornil(L, arg)) {
        return default_value;
    }
    // Read as a number first: lua_Integer is only 32 bits wide on some builds, and converting
    // a double beyond its range is undefined (or wraps), so the range test comes first. The
    // argument error is the one luaL_optinteger raises.
    const lua_Number n = luaL_checknumber(L, arg);
    if (n >= static_cast<lua_Number>(INT32_MAX)) {
        return INT32_MAX;
    }
    if (n <= static_cast<lua_Number>(INT32_MIN)) {
        return INT32_MIN;
    }
    if (n != n) {
        return 0;
    }
    // Inside the range one cast cuts a fraction off, alike in every Lua: the interpreters'
    // own conversions differ (an i686 Lua 5.1 without SSE2 rounds to nearest, 5.4 refuses a
    // fraction), so 20.7 would wait 21, 20 or 0 ms depending on the build.
    return static_cast<std::int32_t>(n);
}

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

int GetTimezoneName(lua_State* L) {
    const ZoneName name = ZoneStandardName();
    lua_pushstring(L, name.text);
    return 1;
}

int GetTimezoneBias(lua_State* L) {
    PushHours(L, BiasHours(CurrentZoneBias()));
    return 1;
}

} // namespace timelib

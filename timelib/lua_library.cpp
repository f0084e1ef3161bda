#include "timelib/lua_library.h"

#include "runtime/net.h"
#include "timelib/anchored_clock.h"
#include "timelib/lua_compat.h"
#include "timelib/query_https.h"
#include "timelib/query_ntp.h"
#include "timelib/query_ntp_servers.h"
#include "timelib/sntp.h"
#include "timelib/time_protocol.h"
#include "timelib/zone_functions.h"

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
    {"QueryNTP", QueryNTP},
    {"QueryNTPServers", QueryNTPServers},
    {"Now", Now},
    {"QueryHTTPS", QueryHTTPS},
};

// Leaves a new table with every function on top of the stack.
void PushRiziTable(lua_State* L) {
    lua_createtable(L, 0, 0); // stack: table
    for (const LuaFunction& entry : RiziFunctions) {
        RegisterLuaFunction(L, entry.name, entry.function);
    }
}

} // namespace

std::int32_t RegisterActions(lua_State* L) {
    // A no-op once started; a failure shows later as nil from the retrievals.
    runtime::NetworkStartup();
    lua_pushstring(L, "Rizi"); // stack: "Rizi"
    PushRiziTable(L);          // stack: "Rizi", table
    SetGlobalPair(L);          // stack: (as on entry)
    return 1;
}

int OpenModule(lua_State* L) {
    // Loading the library started the network layer; this repeats it as registration does.
    runtime::NetworkStartup();
    PushRiziTable(L); // stack: table
    return 1;
}

void RegisterLuaFunction(lua_State* L, const char* name, lua_CFunction function) {
    lua_pushstring(L, name);          // stack: table, name
    lua_pushcclosure(L, function, 0); // stack: table, name, function
    lua_settable(L, -3);              // stack: table
}

} // namespace timelib

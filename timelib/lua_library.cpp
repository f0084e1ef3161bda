#include "timelib/lua_library.h"

#include "runtime/net.h"
#include "timelib/anchored_clock.h"
#include "timelib/background_query.h"
#include "timelib/lua_compat.h"
#include "timelib/query_https.h"
#include "timelib/query_ntp.h"
#include "timelib/query_ntp_servers.h"
#include "timelib/query_nts.h"
#include "timelib/sntp.h"
#include "timelib/time_protocol.h"
#include "timelib/zone_functions.h"

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
    {"QueryNTP", QueryNTP},
    {"QueryNTPServers", QueryNTPServers},
    {"Now", Now},
    {"QueryHTTPS", QueryHTTPS},
    {"Start", Start},
    {"QueryNTS", QueryNTS},
};

// Leaves a new table with every function on top of the stack.
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
    // Step 3: the table of the functions.
    PushRiziTable(L); // stack: table
    return 1;
}

void RegisterLuaFunction(lua_State* L, const char* name, lua_CFunction function) {
    lua_pushstring(L, name);          // stack: table, name
    lua_pushcclosure(L, function, 0); // stack: table, name, function
    lua_settable(L, -3);              // stack: table
}

} // namespace timelib

// The Lua module as an interpreter loads it: Lua states in one process that require "rizi"
// and close in either order, and the retrievals against our misbehaving servers on
// 127.0.0.2; and the plug-in's registration compiled for the same Lua. Built once per Lua
// version; RIZI_MODULE_PATTERN is where require finds the module built for it.
#include "platform/library.h"
#include "platform/socket.h"
#include "tests/support/scripted_time_servers.h"
#include "timelib/lua_api.h"
#include "timelib/lua_library.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using test_support::Bytes;
using test_support::CloseConnection;
using test_support::PauseMs;
using test_support::ScriptedServerAddress;
using test_support::ScriptedSntpServer;
using test_support::ScriptedTimeServer;
using test_support::ScriptedUdpServerUsable;
using test_support::SendBytes;
using test_support::SntpDatagram;
using test_support::SntpReplyTo;
using test_support::SntpSource;

// 2015-01-01 11:00:00 UTC in seconds since 1900, as both protocols carry it.
constexpr std::uint32_t ExampleSeconds = 0xD84FA730u;
const Bytes ExampleBytes = {0xD8, 0x4F, 0xA7, 0x30};
constexpr const char* ExampleDate = "2015-01-01 11:00:00";

// A Lua state with the standard libraries whose require finds the module under test.
class ModuleState {
  public:
    ModuleState() : L_(luaL_newstate()) {
        luaL_openlibs(L_);
        lua_getglobal(L_, "package"); // stack: package
        lua_pushstring(L_, RIZI_MODULE_PATTERN);
        lua_setfield(L_, -2, "cpath"); // stack: package
        lua_pop(L_, 1);
    }
    ~ModuleState() { Close(); }
    lua_State* get() const { return L_; }
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;

    // Closing the last state that required the module unloads it.
    void Close() {
        if (L_ != nullptr) {
            lua_close(L_);
            L_ = nullptr;
        }
    }

    // Runs code; its first result as text ("nil" for nil), or "error: " and the message.
    std::string Run(const std::string& code) {
        const int base = lua_gettop(L_);
        std::string text;
        if (luaL_loadstring(L_, code.c_str()) != 0 || lua_pcall(L_, 0, 1, 0) != 0) {
            text = std::string("error: ") + lua_tostring(L_, -1);
        } else if (lua_isnil(L_, -1)) {
            text = "nil";
        } else {
            const char* value = lua_tostring(L_, -1);
            text = value != nullptr ? value : "(not a string)";
        }
        lua_settop(L_, base);
        return text;
    }

    // One retrieval from the scripted servers: the UTC date it gives, or "nil".
    std::string Retrieve(const char* function, int timeout_ms) {
        char code[512];
        std::snprintf(code, sizeof code,
                      "local r = require('rizi').%s('%s', %d)\n"
                      "if not r then return nil end\n"
                      "local u = r.unbiased\n"
                      "return string.format('%%04d-%%02d-%%02d %%02d:%%02d:%%02d',\n"
                      "    u.year, u.month, u.day, u.hour, u.min, u.sec)",
                      function, ScriptedServerAddress, timeout_ms);
        return Run(code);
    }

  private:
    lua_State* L_;
};

// The plug-in's registration, compiled for this Lua: the global Rizi, stack as it was.
TEST(RegisterActions, StoresTheTableInTheGlobalsForEveryLuaVersion) {
    ModuleState state;
    lua_State* L = state.get();
    lua_pushinteger(L, 7);
    EXPECT_EQ(timelib::RegisterActions(L), 1);
    EXPECT_EQ(lua_gettop(L), 1);
    EXPECT_EQ(state.Run("local n = 0 for _ in pairs(Rizi) do n = n + 1 end return n"), "10");
    EXPECT_EQ(state.Run("return type(Rizi.GetTimezoneBias())"), "number");
    EXPECT_EQ(state.Run("return package.loaded.Rizi"), "nil");
}

int ReadTimeoutArgument(lua_State* L) {
    lua_pushinteger(L, timelib::OptInt32Argument(L, 1, 130));
    return 1;
}

// Timeouts read the same in every Lua: a fraction is cut off (5.4's own conversion would
// make 20.5 a wait of 0, an i686 Lua 5.1 rounds 20.7 to 21), and 64-bit integers saturate.
TEST(OptInt32Argument, ReadsTimeoutsAlikeInEveryLuaVersion) {
    ModuleState state;
    lua_register(state.get(), "f", ReadTimeoutArgument);
    EXPECT_EQ(state.Run("return f(20.5)"), "20");
    EXPECT_EQ(state.Run("return f('20.5')"), "20");
    EXPECT_EQ(state.Run("return f(-20.5)"), "-20");
    EXPECT_EQ(state.Run("return f(20.7)"), "20");
    EXPECT_EQ(state.Run("return f('20.7')"), "20");
    EXPECT_EQ(state.Run("return f(-20.7)"), "-20");
    EXPECT_EQ(state.Run("return f(2^40)"), "2147483647");
    EXPECT_EQ(state.Run("return f(-2^40)"), "-2147483648");
}

TEST(LuaModuleStates, TwoStatesShareTheModuleAndCloseInEitherOrder) {
    ScriptedTimeServer server({SendBytes(ExampleBytes)});
    ASSERT_TRUE(server.Ready());
    for (const bool first_closes_first : {true, false}) {
        SCOPED_TRACE(first_closes_first ? "first state closed first" : "second state closed first");
        ModuleState first;
        ModuleState second;
        EXPECT_EQ(first.Retrieve("RetrieveTSTime", 2000), ExampleDate);
        EXPECT_EQ(second.Retrieve("RetrieveTSTime", 2000), ExampleDate);
        EXPECT_EQ(second.Run("return rizi"), "nil") << "require created a global";

        ModuleState& closing = first_closes_first ? first : second;
        ModuleState& staying = first_closes_first ? second : first;
        closing.Close();
        // The module stays loaded, heaps and sockets running, for the state still open.
        EXPECT_EQ(staying.Retrieve("RetrieveTSTime", 2000), ExampleDate);
        EXPECT_EQ(staying.Run("return type(require('rizi').GetTimezoneBias())"), "number");
        staying.Close();
    }
    // Unloaded with the last state, the module starts afresh for the next one.
    ModuleState again;
    EXPECT_EQ(again.Retrieve("RetrieveTSTime", 2000), ExampleDate);
}

#if defined(_WIN32)

// Whether this process's socket library is started: Winsock refuses a socket before it is.
bool SocketsStarted() {
    const platform::SocketHandle socket = platform::OpenSocket(platform::SocketType::Datagram);
    platform::CloseSocket(socket);
    return socket != platform::InvalidSocket;
}

// The module's DllMain runs under the loader lock and starts no network; its states do.
TEST(LuaModuleStates, TheFirstStateStartsTheNetworkAndTheLastStopsIt) {
    if (SocketsStarted()) {
        GTEST_SKIP() << "sockets already started by an earlier test; CTest runs this one alone";
    }
    std::string path = RIZI_MODULE_PATTERN;
    path.replace(path.find('?'), 1, "rizi");
    auto first = std::make_unique<ModuleState>();
    // Loaded without luaopen_rizi (no such entry); it stays loaded until the state closes.
    EXPECT_EQ(first->Run("return select(3, package.loadlib([[" + path + "]], 'luaopen_none'))"),
              "init");
    EXPECT_FALSE(SocketsStarted()) << "loading the library started the network";
    EXPECT_EQ(first->Run("return type(require('rizi'))"), "table");
    EXPECT_TRUE(SocketsStarted());
    ModuleState second;
    EXPECT_EQ(second.Run("return type(require('rizi'))"), "table");
    first.reset();
    EXPECT_TRUE(SocketsStarted()) << "stopped while a state still uses it";
    second.Close();
    EXPECT_FALSE(SocketsStarted()) << "the last state left the network running";

    // The plug-in keeps starting the network as it loads, as hosts rely on.
    platform::LibraryHandle plugin = platform::LoadLibraryFile(RIZI_PLUGIN_FILE);
    ASSERT_NE(plugin, nullptr);
    EXPECT_TRUE(SocketsStarted());
    platform::FreeLibraryFile(plugin);
}

#endif

TEST(LuaModuleRetrievals, TimeProtocolGivesATableOnlyForFourBytes) {
    struct Case {
        const char* what;
        std::vector<test_support::TimeStep> script;
        const char* expected;
    };
    const Case cases[] = {
        {"four bytes", {SendBytes(ExampleBytes)}, ExampleDate},
        {"four bytes in two pieces",
         {SendBytes({0xD8, 0x4F}), PauseMs(30), SendBytes({0xA7, 0x30})},
         ExampleDate},
        {"three bytes, then close", {SendBytes({0xD8, 0x4F, 0xA7}), CloseConnection()}, "nil"},
        {"close without sending", {CloseConnection()}, "nil"},
    };
    ModuleState state;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedTimeServer server(c.script);
        ASSERT_TRUE(server.Ready());
        EXPECT_EQ(state.Retrieve("RetrieveTSTime", 300), c.expected);
    }
}

TEST(LuaModuleRetrievals, SntpGivesATableOnlyForAValidReply) {
    if (!ScriptedUdpServerUsable) {
        GTEST_SKIP() << "scripted UDP server unusable under wine";
    }
    struct Case {
        const char* what;
        test_support::SntpScript script;
        const char* expected;
    };
    const Case cases[] = {
        {"a valid reply",
         [](const Bytes& request) {
             return std::vector<SntpDatagram>{{SntpReplyTo(request, ExampleSeconds, 0)}};
         },
         ExampleDate},
        {"40 bytes",
         [](const Bytes& request) {
             Bytes reply = SntpReplyTo(request, ExampleSeconds, 0);
             reply.resize(40);
             return std::vector<SntpDatagram>{{reply}};
         },
         "nil"},
        {"stratum 0 (kiss-o'-death)",
         [](const Bytes& request) {
             Bytes reply = SntpReplyTo(request, ExampleSeconds, 0);
             reply[1] = 0;
             return std::vector<SntpDatagram>{{reply}};
         },
         "nil"},
        {"a reply from another port",
         [](const Bytes& request) {
             return std::vector<SntpDatagram>{
                 {SntpReplyTo(request, ExampleSeconds, 0), SntpSource::OtherPort}};
         },
         "nil"},
    };
    ModuleState state;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSntpServer server(c.script);
        ASSERT_TRUE(server.Ready());
        EXPECT_EQ(state.Retrieve("RetrieveNTPTime", 300), c.expected);
    }
}

} // namespace

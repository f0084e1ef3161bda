// The RFC 868 client against our own misbehaving server on 127.0.0.2:37, with waits counted
// by the faked clock.
#include "runtime/net.h"
#include "tests/support/fake_time_clock.h"
#include "tests/support/fake_time_zone.h"
#include "tests/support/scripted_time_servers.h"
#include "tests/support/timelib_lua.h"
#include "timelib/time_protocol.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using test_support::Bytes;
using test_support::CloseConnection;
using test_support::FakeClock;
using test_support::FakeZone;
using test_support::LuaState;
using test_support::MakeZoneInfo;
using test_support::PauseMs;
using test_support::ScriptedServerAddress;
using test_support::ScriptedTimeServer;
using test_support::SendBytes;
using test_support::TimeStep;

TEST(TimeProtocolSecondsToTimeValue, MovesFrom1900ThroughThe1990Epoch) {
    struct Case {
        std::uint32_t seconds;
        runtime::TimeValue expected;
    };
    const Case cases[] = {
        {0xD84FA730u, 1420110000}, // 2015-01-01 11:00:00
        {0xD84F0030u, 1420067248}, // a zero byte inside counts as 0
        {2840140800u, 631152000},  // 1990-01-01 00:00:00
        {61493503u, 2147471999},   // 2038-01-18 23:59:59, after the 2036 wrap
        {61493504u, -1},           // beyond what AddYears reaches
        {0x20202020u, -1},         // four spaces: far beyond it too
        {0, 2085978496},           // 1900 is no date of its own: 2036-02-07 06:28:16
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timelib::TimeProtocolSecondsToTimeValue(c.seconds), c.expected)
            << std::hex << c.seconds;
    }
}

struct QueryCase {
    const char* what;
    std::vector<TimeStep> script;
    std::int32_t wait_limit;
    bool answered;
    runtime::TimeValue expected;
};

TEST(TimeProtocolQuery, ReadsFourBytesInAsManyPiecesAsTheyCome) {
    const Bytes example = {0xD8, 0x4F, 0xA7, 0x30};
    const QueryCase cases[] = {
        {"four bytes at once", {SendBytes(example)}, 2000, true, 1420110000},
        {"four bytes and close", {SendBytes(example), CloseConnection()}, 2000, true, 1420110000},
        {"a zero byte inside", {SendBytes({0xD8, 0x4F, 0x00, 0x30})}, 2000, true, 1420067248},
        {"two pieces",
         {SendBytes({0xD8, 0x4F}), PauseMs(30), SendBytes({0xA7, 0x30})},
         2000,
         true,
         1420110000},
        {"one byte at a time",
         {SendBytes({0xD8}), PauseMs(10), SendBytes({0x4F}), PauseMs(10), SendBytes({0xA7}),
          PauseMs(10), SendBytes({0x30})},
         2000,
         true,
         1420110000},
        {"extra bytes after the four",
         {SendBytes({0xD8, 0x4F, 0xA7, 0x30, 0x01})},
         2000,
         true,
         1420110000},
        {"three bytes then close",
         {SendBytes({0xD8, 0x4F, 0xA7}), CloseConnection()},
         2000,
         false,
         0},
        {"close without sending", {CloseConnection()}, 2000, false, 0},
        {"three bytes, then silence", {SendBytes({0xD8, 0x4F, 0xA7})}, 40, false, 0},
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedTimeServer server(c.script);
        ASSERT_TRUE(server.Ready());
        FakeClock clock;
        runtime::TimeValue t = 0;
        EXPECT_EQ(timelib::TimeProtocolQuery(ScriptedServerAddress, c.wait_limit, &t), c.answered);
        if (c.answered) {
            EXPECT_EQ(t, c.expected);
        }
        EXPECT_EQ(server.Connections(), 1);
    }
}

TEST(TimeProtocolQuery, NoTimeOutsideWhatTheCalendarReaches) {
    struct Case {
        const char* what;
        std::uint32_t seconds;
        bool answered;
        runtime::TimeValue expected;
    };
    const Case cases[] = {
        {"1990-01-01 00:00:00", 2840140800u, true, 631152000},
        {"1989-12-31 23:59:59", 2840140799u, false, 0},
        {"1970-01-01 00:00:00", 2208988800u, false, 0},
        {"2038-01-18 23:59:59", 61493503u, true, 2147471999},
        {"2038-01-19 00:00:00", 61493504u, false, 0},
        {"four spaces", 0x20202020u, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes reply = {
            static_cast<std::uint8_t>(c.seconds >> 24), static_cast<std::uint8_t>(c.seconds >> 16),
            static_cast<std::uint8_t>(c.seconds >> 8), static_cast<std::uint8_t>(c.seconds)};
        ScriptedTimeServer server({SendBytes(reply), CloseConnection()});
        ASSERT_TRUE(server.Ready());
        FakeClock clock;
        runtime::TimeValue t = 0;
        EXPECT_EQ(timelib::TimeProtocolQuery(ScriptedServerAddress, 2000, &t), c.answered);
        EXPECT_EQ(t, c.expected);
    }
}

TEST(TimeProtocolQuery, GivesUpAfterTheLimitOfEmptyPolls) {
    // Every empty poll is followed by one wait of at most a millisecond on the socket.
    struct Case {
        std::int32_t wait_limit;
        int waits;
    };
    const Case cases[] = {{25, 25}, {1, 1}, {0, 1}, {-3, 1}};
    {
        ScriptedTimeServer server({}); // accepts and stays silent
        ASSERT_TRUE(server.Ready());
        for (const Case& c : cases) {
            SCOPED_TRACE(c.wait_limit);
            FakeClock clock;
            runtime::TimeValue t = 0;
            EXPECT_FALSE(timelib::TimeProtocolQuery(ScriptedServerAddress, c.wait_limit, &t));
            // A silent server costs the whole limit in milliseconds.
            EXPECT_EQ(clock.WaitResults(), std::vector<int>(static_cast<std::size_t>(c.waits), 0));
            EXPECT_EQ(clock.Sleeps(), 0);
        }
    }
    // Bytes that end a wait early do not stretch the limit: the poll before it was empty.
    ScriptedTimeServer server({SendBytes({0xD8, 0x4F, 0xA7})});
    ASSERT_TRUE(server.Ready());
    FakeClock clock;
    runtime::TimeValue t = 0;
    EXPECT_FALSE(timelib::TimeProtocolQuery(ScriptedServerAddress, 40, &t));
    EXPECT_EQ(clock.Waits(), 40);
    EXPECT_GE(clock.WaitedMs(), 39);
}

TEST(TimeProtocolQuery, FailsAtOnceWhenTheConnectionIsRefused) {
    ASSERT_EQ(runtime::NetworkStartup(), 1); // no scripted server has started the sockets
    FakeClock clock;
    runtime::TimeValue t = 0;
    EXPECT_FALSE(timelib::TimeProtocolQuery(test_support::NoServerAddress, 130, &t));
    EXPECT_EQ(clock.Waits(), 0);
}

TEST(RetrieveTSTime, ReadsItsArgumentsTheLuaWayAndReturnsOneValue) {
    ScriptedTimeServer server({SendBytes({0xD8, 0x4F, 0xA7, 0x30})});
    ASSERT_TRUE(server.Ready());
    FakeZone zone(2, MakeZoneInfo(300, 0, -60, u"Eastern Standard Time"));
    LuaState lua;
    lua_State* L = lua.get();

    EXPECT_NE(lua.CallFunction(timelib::RetrieveTSTime, [](lua_State* S) { lua_pushnil(S); })
                  .find("bad argument #1 to '?' (string expected, got nil)"),
              std::string::npos);
    EXPECT_NE(lua.CallFunction(timelib::RetrieveTSTime,
                               [](lua_State* S) {
                                   lua_pushstring(S, ScriptedServerAddress);
                                   lua_newtable(S);
                               })
                  .find("bad argument #2 to '?' (number expected, got table)"),
              std::string::npos);
    EXPECT_EQ(server.Connections(), 0); // no network activity before the arguments are read

    ASSERT_EQ(lua.CallFunction(timelib::RetrieveTSTime,
                               [](lua_State* S) { lua_pushstring(S, ScriptedServerAddress); }),
              "");
    ASSERT_EQ(lua_gettop(L), 1);
    lua_getfield(L, 1, "biased");
    lua_getfield(L, 2, "hour");
    EXPECT_EQ(lua_tointeger(L, -1), 7); // 11:00 UTC in daylight time five hours west
    lua_getfield(L, 1, "timezoneBias");
    EXPECT_EQ(lua_tonumber(L, -1), -4.0);
    lua_settop(L, 0);

    // Refused: one nil.
    ASSERT_EQ(lua.CallFunction(timelib::RetrieveTSTime,
                               [](lua_State* S) {
                                   lua_pushstring(S, test_support::NoServerAddress);
                                   lua_pushstring(S, "50");
                               }),
              "");
    ASSERT_EQ(lua_gettop(L), 1);
    EXPECT_TRUE(lua_isnil(L, 1));
}

TEST(RetrieveTSTime, WaitsTheDefaultLimitOf130EmptyPolls) {
    ScriptedTimeServer server({});
    ASSERT_TRUE(server.Ready());
    LuaState lua;
    FakeClock clock;
    ASSERT_EQ(lua.CallFunction(timelib::RetrieveTSTime,
                               [](lua_State* S) { lua_pushstring(S, ScriptedServerAddress); }),
              "");
    EXPECT_TRUE(lua_isnil(lua.get(), 1));
    EXPECT_EQ(clock.Waits(), 130);
    EXPECT_EQ(clock.WaitedMs(), 130);
}

} // namespace

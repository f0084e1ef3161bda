// Table Rizi and the zone rules, with the zone seam faked.
#include "tests/support/fake_time_zone.h"
#include "tests/support/timelib_lua.h"
#include "timelib/lua_library.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

using test_support::FakeZone;
using test_support::LuaState;
using test_support::MakeZoneInfo;

void NoArgs(lua_State*) {}

TEST(RegisterActions, LeavesRiziWithExactlyItsFunctionsAndTheStackAsItWas) {
    LuaState lua;
    lua_State* L = lua.get();
    lua_pushstring(L, "below");
    lua_pushinteger(L, 7);
    for (int round = 0; round < 2; ++round) { // a second registration replaces the table
        EXPECT_EQ(timelib::RegisterActions(L), 1);
        EXPECT_EQ(lua_gettop(L), 2);
        EXPECT_STREQ(lua_tostring(L, 1), "below");

        lua_getglobal(L, "Rizi");
        ASSERT_TRUE(lua_istable(L, -1));
        std::set<std::string> keys;
        lua_pushnil(L);
        while (lua_next(L, -2) != 0) {
            ASSERT_EQ(lua_type(L, -2), LUA_TSTRING);
            EXPECT_TRUE(lua_iscfunction(L, -1));
            EXPECT_EQ(lua_getupvalue(L, -1, 1), nullptr); // no upvalues
            keys.insert(lua_tostring(L, -2));
            lua_pop(L, 1);
        }
        EXPECT_EQ(lua_objlen(L, -1), 0u);
        lua_pop(L, 1);
        EXPECT_EQ(keys,
                  (std::set<std::string>{"GetTimezoneName", "GetTimezoneBias", "RetrieveNTPTime",
                                         "RetrieveTSTime", "QueryNTP", "QueryNTPServers", "Now",
                                         "QueryHTTPS", "Start", "QueryNTS"}));
    }
}

TEST(RegisterLuaFunction, StoresTheFunctionUnderItsNameInTheTableOnTop) {
    LuaState lua;
    lua_State* L = lua.get();
    lua_newtable(L);
    timelib::RegisterLuaFunction(L, "Name", timelib::GetTimezoneName);
    EXPECT_EQ(lua_gettop(L), 1);
    lua_getfield(L, 1, "Name");
    EXPECT_EQ(lua_tocfunction(L, -1), timelib::GetTimezoneName);
}

struct BiasCase {
    const char* what;
    std::int32_t result;
    std::int32_t bias, standard_bias, daylight_bias;
    std::int32_t expected_minutes;
    double expected_hours;
};

TEST(CurrentZoneBias, PicksThePartInForceAndGetTimezoneBiasGivesHoursEast) {
    const BiasCase cases[] = {
        {"one hour east, standard time", 1, -60, 0, -60, -60, 1.0},
        {"five hours west, daylight time", 2, 300, 0, -60, 240, -4.0},
        {"five and a half hours east", 1, -330, 0, 0, -330, 5.5},
        {"standard part added", 1, 300, 15, -60, 315, -5.25},
        {"no daylight saving time keeps its offset", 0, -330, 0, -60, -330, 5.5},
        {"no daylight saving time, nine hours east", 0, -540, 0, 0, -540, 9.0},
        {"failed read", -1, -60, 0, -60, 0, -0.0},
        {"unknown result code", 3, -60, 0, -60, 0, -0.0},
        {"UTC", 1, 0, 0, -60, 0, -0.0},
    };
    for (const BiasCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeZone zone(c.result, MakeZoneInfo(c.bias, c.standard_bias, c.daylight_bias, u"Z"));
        EXPECT_EQ(timelib::CurrentZoneBias(), c.expected_minutes);

        LuaState lua;
        ASSERT_EQ(lua.CallFunction(timelib::GetTimezoneBias, NoArgs), "");
        ASSERT_EQ(lua_gettop(lua.get()), 1);
        ASSERT_EQ(lua_type(lua.get(), 1), LUA_TNUMBER);
        const double hours = lua_tonumber(lua.get(), 1);
        EXPECT_EQ(hours, c.expected_hours);
        // A bias of 0 gives negative zero, as the negation is done on the double.
        EXPECT_EQ(std::signbit(hours), std::signbit(c.expected_hours));
    }
}

struct NameCase {
    const char* what;
    std::int32_t result;
    const char16_t* standard_name;
    std::string expected;
};

TEST(ZoneStandardName, TakesTheLowByteOfEachUnitOfTheStandardName) {
    const char16_t full[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"; // 32 units, then the terminator
    const NameCase cases[] = {
        {"plain", 1, u"Central Europe Standard Time", "Central Europe Standard Time"},
        {"daylight time in force", 2, u"Eastern Standard Time", "Eastern Standard Time"},
        {"no terminator in 32 units", 1, full, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
        {"Latin-1", 1, u"Caf\u00e9", "Caf\xe9"},
        {"above U+00FF keeps the low byte", 1, u"A\u0141B", "AAB"},
        {"a zero low byte is skipped, not the end", 1, u"A\u0100B", "AB"},
        {"empty", 1, u"", ""},
        {"failed read leaves the zero record", -1, u"", ""},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeZone zone(c.result, MakeZoneInfo(300, 0, -60, c.standard_name, u"Daylight"));
        EXPECT_EQ(std::string(timelib::ZoneStandardName().text), c.expected);

        LuaState lua;
        // Arguments are ignored.
        ASSERT_EQ(
            lua.CallFunction(timelib::GetTimezoneName, [](lua_State* L) { lua_pushinteger(L, 5); }),
            "");
        ASSERT_EQ(lua_gettop(lua.get()), 1);
        size_t length = 0;
        const char* text = lua_tolstring(lua.get(), 1, &length);
        EXPECT_EQ(std::string(text, length), c.expected);
    }
}

int ReadTimeoutArgument(lua_State* L) {
    lua_pushnumber(L, timelib::OptInt32Argument(L, 1, 130));
    return 1;
}

TEST(OptInt32Argument, SaturatesBeyondThirtyTwoBitsAndKeepsTheLuaArgumentRules) {
    const struct {
        const char* call;
        double value; // when no error
        const char* error;
    } cases[] = {
        {"f()", 130, nullptr},
        {"f(nil)", 130, nullptr},
        {"f(500)", 500, nullptr},
        {"f('500')", 500, nullptr},
        {"f(' 0x10 ')", 16, nullptr},
        {"f(2^31 - 1)", 2147483647.0, nullptr},
        {"f(2^31)", 2147483647.0, nullptr},
        {"f(2^32 + 1000)", 2147483647.0, nullptr},
        {"f('4294968296')", 2147483647.0, nullptr},
        {"f(-2^31)", -2147483648.0, nullptr},
        {"f(-2^31 - 1)", -2147483648.0, nullptr},
        {"f(2^53)", 2147483647.0, nullptr},
        {"f(-2^53)", -2147483648.0, nullptr},
        {"f(2^63)", 2147483647.0, nullptr},
        {"f(math.huge)", 2147483647.0, nullptr},
        {"f(-math.huge)", -2147483648.0, nullptr},
        {"f(0/0)", 0, nullptr},
        {"f('soon')", 0, "bad argument #1 to 'f' (number expected, got string)"},
        {"f({})", 0, "bad argument #1 to 'f' (number expected, got table)"},
    };
    LuaState lua;
    lua_State* L = lua.get();
    lua_register(L, "f", ReadTimeoutArgument);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        const std::string chunk = std::string("return ") + c.call;
        ASSERT_EQ(luaL_loadstring(L, chunk.c_str()), 0);
        const int status = lua_pcall(L, 0, 1, 0);
        if (c.error != nullptr) {
            ASSERT_NE(status, 0);
            EXPECT_NE(std::string(lua_tostring(L, -1)).find(c.error), std::string::npos)
                << lua_tostring(L, -1);
        } else {
            ASSERT_EQ(status, 0) << lua_tostring(L, -1);
            EXPECT_EQ(lua_tonumber(L, -1), c.value);
        }
        lua_settop(L, 0);
    }
}

} // namespace

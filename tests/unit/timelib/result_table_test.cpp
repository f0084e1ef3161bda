// The result table of both retrievals, with the zone seam faked.
#include "tests/support/fake_time_zone.h"
#include "tests/support/timelib_lua.h"
#include "timelib/result_table.h"

#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {

using test_support::FakeZone;
using test_support::LuaState;
using test_support::MakeZoneInfo;

struct Date {
    lua_Integer day, wday, yday, month, year, hour, min, sec;
};

// The table at index as key -> value, failing on anything but integral numbers.
std::map<std::string, lua_Integer> Fields(lua_State* L, int index) {
    std::map<std::string, lua_Integer> fields;
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        EXPECT_EQ(lua_type(L, -2), LUA_TSTRING);
        EXPECT_EQ(lua_type(L, -1), LUA_TNUMBER);
        const double value = lua_tonumber(L, -1);
        EXPECT_EQ(value, std::floor(value));
        fields[lua_tostring(L, -2)] = lua_tointeger(L, -1);
        lua_pop(L, 1);
    }
    return fields;
}

std::map<std::string, lua_Integer> Expected(const Date& d) {
    return {{"day", d.day},   {"wday", d.wday}, {"yday", d.yday}, {"month", d.month},
            {"year", d.year}, {"hour", d.hour}, {"min", d.min},   {"sec", d.sec}};
}

struct ResultCase {
    const char* what;
    runtime::TimeValue t;
    std::int32_t bias;
    Date unbiased;
    Date biased;
    double hours;
};

TEST(PushTimeResult, BuildsBothDatesNameAndOffsetFromOneZoneReading) {
    const Date zero{};
    const ResultCase cases[] = {
        {"epoch, UTC", 0, 0, {1, 4, 1, 1, 1970, 0, 0, 0}, {1, 4, 1, 1, 1970, 0, 0, 0}, -0.0},
        {"one hour east",
         1420070400,
         -60,
         {1, 4, 1, 1, 2015, 0, 0, 0},
         {1, 4, 1, 1, 2015, 1, 0, 0},
         1.0},
        {"five hours west",
         1420070400,
         300,
         {1, 4, 1, 1, 2015, 0, 0, 0},
         {31, 3, 365, 12, 2014, 19, 0, 0},
         -5.0},
        {"29 February, half-hour zone",
         1456747200,
         -330,
         {29, 1, 60, 2, 2016, 12, 0, 0},
         {29, 1, 60, 2, 2016, 17, 30, 0},
         5.5},
        {"bias moves the time below 0", 100, 300, {1, 4, 1, 1, 1970, 0, 1, 40}, zero, -5.0},
        {"bias moves the last second past the 32-bit end",
         2147483647,
         -60,
         {19, 2, 19, 1, 2038, 3, 14, 7},
         zero,
         1.0},
        {"negative time", -1, 0, zero, zero, -0.0},
    };
    for (const ResultCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeZone zone(1, MakeZoneInfo(c.bias, 0, -60, u"Zone Standard Time", u"Zone Daylight"));
        LuaState lua;
        lua_State* L = lua.get();
        timelib::PushTimeResult(L, c.t);
        ASSERT_EQ(lua_gettop(L), 1);
        EXPECT_EQ(zone.Reads(), 1);

        int keys = 0;
        lua_pushnil(L);
        while (lua_next(L, 1) != 0) {
            ++keys;
            lua_pop(L, 1);
        }
        EXPECT_EQ(keys, 4);

        lua_getfield(L, 1, "unbiased");
        EXPECT_EQ(Fields(L, 2), Expected(c.unbiased));
        lua_getfield(L, 1, "biased");
        EXPECT_EQ(Fields(L, 3), Expected(c.biased));
        lua_getfield(L, 1, "timezoneName");
        EXPECT_EQ(lua_type(L, 4), LUA_TSTRING);
        EXPECT_STREQ(lua_tostring(L, 4), "Zone Standard Time");
        lua_getfield(L, 1, "timezoneBias");
        EXPECT_EQ(lua_type(L, 5), LUA_TNUMBER);
        EXPECT_EQ(lua_tonumber(L, 5), c.hours);
        EXPECT_EQ(std::signbit(lua_tonumber(L, 5)), std::signbit(c.hours));
    }
}

TEST(PushTimeResult, BuildsTheTableWhenTheZoneCannotBeRead) {
    FakeZone zone(-1, platform::ZoneInfo{});
    LuaState lua;
    lua_State* L = lua.get();
    timelib::PushTimeResult(L, 1420070400);
    lua_getfield(L, 1, "biased");
    EXPECT_EQ(Fields(L, 2), Expected({1, 4, 1, 1, 2015, 0, 0, 0}));
    lua_getfield(L, 1, "timezoneName");
    EXPECT_STREQ(lua_tostring(L, 3), "");
    lua_getfield(L, 1, "timezoneBias");
    EXPECT_TRUE(std::signbit(lua_tonumber(L, 4)));
}

} // namespace

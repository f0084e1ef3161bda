// The SNTP client: request bytes, timestamp conversion, and queries against our own
// misbehaving server on 127.0.0.2:123, with polls and waits counted by the faked clock.
#include "runtime/net.h"
#include "tests/support/fake_time_clock.h"
#include "tests/support/fake_time_zone.h"
#include "tests/support/scripted_time_servers.h"
#include "tests/support/timelib_lua.h"
#include "timelib/sntp.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using test_support::Bytes;
using test_support::FakeClock;
using test_support::FakeSystemTime;
using test_support::FakeZone;
using test_support::LuaState;
using test_support::MakeZoneInfo;
using test_support::ScriptedServerAddress;
using test_support::ScriptedSntpServer;
using test_support::ScriptedUdpServerUsable;
using test_support::SntpDatagram;
using test_support::SntpReplyTo;
using test_support::SntpSource;

// Each cycle of the query reads the clock once, then polls; one more reading starts it.
int Polls(const FakeClock& clock) {
    return clock.CounterReads() - 1;
}

// 2015-01-01 11:00:00 UTC, also as NTP seconds (D8 4F A7 30).
constexpr runtime::TimeValue WorkedExampleTime = 1420110000;
constexpr std::uint32_t WorkedExampleNtp = 0xD84FA730u;

TEST(BuildSntpRequest, CarriesTheUtcTransmitTimeWithMillisecondsAsFraction) {
    struct Case {
        const char* what;
        std::int32_t result, bias, daylight_bias;
        platform::SystemTime utc, local;
        std::uint8_t transmit[8];
    };
    const Case cases[] = {
        {"one hour east, 12:00:00.500 local",
         1,
         -60,
         -60,
         {2015, 1, 4, 1, 11, 0, 0, 500},
         {2015, 1, 4, 1, 12, 0, 0, 500},
         {0xD8, 0x4F, 0xA7, 0x30, 0x3E, 0x80, 0x00, 0x00}},
        {"daylight time west, .999",
         2,
         300,
         -60,
         {2015, 1, 4, 1, 11, 0, 0, 999},
         {2015, 1, 4, 1, 7, 0, 0, 999},
         {0xD8, 0x4F, 0xA7, 0x30, 0x7C, 0xE0, 0x00, 0x00}},
        {"no daylight saving time, .000",
         0,
         -330,
         -60,
         {2015, 1, 4, 1, 11, 0, 0, 0},
         {2015, 1, 4, 1, 16, 30, 0, 0},
         {0xD8, 0x4F, 0xA7, 0x30, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeZone zone(c.result, MakeZoneInfo(c.bias, 0, c.daylight_bias, u"Z"));
        FakeSystemTime clock(c.utc, c.local);
        const timelib::SntpPacket request = timelib::BuildSntpRequest();
        EXPECT_EQ(request[0], 0x1B);
        for (int i = 1; i < 40; ++i) {
            EXPECT_EQ(request[static_cast<std::size_t>(i)], 0) << "byte " << i;
        }
        EXPECT_EQ(Bytes(request.begin() + 40, request.end()), Bytes(c.transmit, c.transmit + 8));
    }
}

TEST(NtpTimestampToTimeValue, RoundsToTheNearestSecondAndWrapsIntoTheNextEra) {
    struct Case {
        std::uint32_t seconds, fraction;
        runtime::TimeValue expected;
    };
    const Case cases[] = {
        {WorkedExampleNtp, 0x80000000u, WorkedExampleTime + 1},
        {WorkedExampleNtp, 0x7FFFFFFFu, WorkedExampleTime},
        {2208988800u, 0, 0},
        {0, 0, 2085978496},                     // era 1 begins 2036-02-07 06:28:16
        {0xFFFFFFFFu, 0x80000000u, 2085978496}, // rounding carries over the era boundary
        {61505151u, 0, 2147483647},             // 2038-01-19 03:14:07
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timelib::NtpTimestampToTimeValue(c.seconds, c.fraction), c.expected)
            << std::hex << c.seconds << " " << c.fraction;
    }
}

// Datagrams that are no answer to our request: each must be dropped.
struct InvalidReply {
    const char* what;
    SntpDatagram (*make)(const Bytes& request);
};

Bytes Valid(const Bytes& request) {
    return SntpReplyTo(request, WorkedExampleNtp, 0);
}

Bytes Resized(Bytes reply, std::size_t size) {
    reply.resize(size);
    return reply;
}

Bytes With(Bytes reply, std::size_t at, std::uint8_t value) {
    reply[at] = value;
    return reply;
}

const InvalidReply InvalidReplies[] = {
    {"40 bytes", [](const Bytes& r) { return SntpDatagram{Resized(Valid(r), 40)}; }},
    {"47 bytes", [](const Bytes& r) { return SntpDatagram{Resized(Valid(r), 47)}; }},
    {"client mode (our request echoed)", [](const Bytes& r) { return SntpDatagram{r}; }},
    {"broadcast mode", [](const Bytes& r) { return SntpDatagram{With(Valid(r), 0, 0x1D)}; }},
    {"leap indicator 3", [](const Bytes& r) { return SntpDatagram{With(Valid(r), 0, 0xDC)}; }},
    {"stratum 0, kiss-o'-death", [](const Bytes& r) { return SntpDatagram{With(Valid(r), 1, 0)}; }},
    {"stratum 16", [](const Bytes& r) { return SntpDatagram{With(Valid(r), 1, 16)}; }},
    {"zero transmit timestamp", [](const Bytes& r) { return SntpDatagram{SntpReplyTo(r, 0, 0)}; }},
    {"originate differs",
     [](const Bytes& r) {
         return SntpDatagram{With(Valid(r), 31, static_cast<std::uint8_t>(r[47] ^ 1))};
     }},
    {"from another port",
     [](const Bytes& r) {
         return SntpDatagram{Valid(r), SntpSource::OtherPort};
     }},
    {"from another address",
     [](const Bytes& r) {
         return SntpDatagram{Valid(r), SntpSource::OtherAddress};
     }},
    {"2049 bytes", [](const Bytes& r) { return SntpDatagram{Resized(Valid(r), 2049)}; }},
};

TEST(SntpQuery, DropsDatagramsThatDoNotAnswerTheRequestAndWaitsOn) {
    if (!ScriptedUdpServerUsable) {
        GTEST_SKIP() << "no scripted UDP server on 127.0.0.2 under wine";
    }
    for (const InvalidReply& invalid : InvalidReplies) {
        SCOPED_TRACE(invalid.what);
        // Alone: nothing counts as an answer, so the wait runs to its deadline.
        {
            ScriptedSntpServer server([&](const Bytes& request) {
                return std::vector<SntpDatagram>{invalid.make(request)};
            });
            ASSERT_TRUE(server.Ready());
            FakeClock clock;
            EXPECT_EQ(timelib::SntpQuery(ScriptedServerAddress, 30), 0);
            EXPECT_EQ(clock.WaitedMs(), 32);
            EXPECT_EQ(server.Requests(), 1);
        }
        // Followed by a valid reply: that one is taken.
        {
            ScriptedSntpServer server([&](const Bytes& request) {
                const Bytes reply = SntpReplyTo(request, WorkedExampleNtp, 0x80000000u);
                return std::vector<SntpDatagram>{invalid.make(request), {reply}};
            });
            ASSERT_TRUE(server.Ready());
            FakeClock clock;
            EXPECT_EQ(timelib::SntpQuery(ScriptedServerAddress, 5000), WorkedExampleTime + 1);
            EXPECT_LT(clock.WaitedMs(), 5000);
            EXPECT_EQ(clock.Waits(), Polls(clock) - 1); // none after the valid reply
        }
    }
}

TEST(SntpQuery, TakesAValidReplyAndSendsTheRequestBytesOnTheWire) {
    if (!ScriptedUdpServerUsable) {
        GTEST_SKIP() << "no scripted UDP server on 127.0.0.2 under wine";
    }
    ScriptedSntpServer server([](const Bytes& request) {
        Bytes longer = SntpReplyTo(request, WorkedExampleNtp, 0x7FFFFFFFu);
        longer.resize(68, 0xEE); // only the first 48 bytes count
        return std::vector<SntpDatagram>{{longer}};
    });
    ASSERT_TRUE(server.Ready());
    FakeZone zone(1, MakeZoneInfo(-60, 0, -60, u"Z"));
    FakeSystemTime time({2015, 1, 4, 1, 11, 0, 0, 500}, {2015, 1, 4, 1, 12, 0, 0, 500});
    FakeClock clock;
    EXPECT_EQ(timelib::SntpQuery(ScriptedServerAddress, 5000), WorkedExampleTime);
    EXPECT_EQ(clock.Waits(), Polls(clock) - 1); // the reply ends the call without a wait

    Bytes expected(48, 0);
    expected[0] = 0x1B;
    const std::uint8_t transmit[] = {0xD8, 0x4F, 0xA7, 0x30, 0x3E, 0x80, 0x00, 0x00};
    std::copy(transmit, transmit + 8, expected.begin() + 40);
    EXPECT_EQ(server.LastRequest(), expected);
}

TEST(SntpQuery, TakesAReplyThatArrivesDuringAWaitAndWaitsNoLonger) {
    if (!ScriptedUdpServerUsable) {
        GTEST_SKIP() << "no scripted UDP server on 127.0.0.2 under wine";
    }
    ScriptedSntpServer server([](const Bytes& request) {
        return std::vector<SntpDatagram>{
            {SntpReplyTo(request, WorkedExampleNtp, 0), SntpSource::Server, 30}};
    });
    ASSERT_TRUE(server.Ready());
    FakeClock clock;
    EXPECT_EQ(timelib::SntpQuery(ScriptedServerAddress, 5000), WorkedExampleTime);
    EXPECT_LT(clock.WaitedMs(), 5000);
    EXPECT_EQ(clock.Waits(), Polls(clock) - 1);
}

TEST(SntpQuery, NoTimeOutsideTheRangeOfTheTimeValue) {
    if (!ScriptedUdpServerUsable) {
        GTEST_SKIP() << "no scripted UDP server on 127.0.0.2 under wine";
    }
    struct Case {
        const char* what;
        std::uint32_t seconds, fraction;
        runtime::TimeValue expected; // 0: no time
    };
    const Case cases[] = {
        {"1970-01-01 00:00:01", 2208988801u, 0, 1},
        {"1969-12-31 23:59:59", 2208988799u, 0, 0},
        {"1968-01-20 03:14:08", 0x80000000u, 0, 0},
        {"2038-01-19 03:14:07", 61505151u, 0x7FFFFFFFu, 2147483647},
        {"2038-01-19 03:14:07.5 rounds out", 61505151u, 0x80000000u, 0},
        {"2038-01-19 03:14:08", 61505152u, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSntpServer server([&](const Bytes& request) {
            return std::vector<SntpDatagram>{{SntpReplyTo(request, c.seconds, c.fraction)}};
        });
        ASSERT_TRUE(server.Ready());
        FakeClock clock;
        EXPECT_EQ(timelib::SntpQuery(ScriptedServerAddress, 5000), c.expected);
    }
}

TEST(SntpQuery, PollsUntilTheDeadlineWhateverTheCounterReads) {
    // Each cycle polls, then waits a millisecond for the socket, then tests the deadline
    // with the time read before its poll.
    struct Case {
        const char* what;
        std::int32_t timeout_ms;
        std::int64_t clock_start_ms;
        int polls;
    };
    const Case cases[] = {
        {"silence", 20, 1000, 22},
        {"silence across the 32-bit wrap", 20, 0xFFFFFFFFll - 10, 22},
        {"silence across the signed wrap", 20, 0x7FFFFFFFll - 10, 22},
        {"zero timeout, frozen clock", 0, 1000, 2},
        {"negative timeout: exactly one poll", -5, 1000, 1},
    };
    ASSERT_EQ(runtime::NetworkStartup(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeClock clock(c.clock_start_ms);
        EXPECT_EQ(timelib::SntpQuery(test_support::NoServerAddress, c.timeout_ms), 0);
        EXPECT_EQ(Polls(clock), c.polls);
        EXPECT_EQ(clock.WaitResults(), std::vector<int>(static_cast<std::size_t>(c.polls), 0));
        EXPECT_EQ(clock.WaitedMs(), c.polls);
        EXPECT_EQ(clock.Sleeps(), 0); // waits on the socket, no blind sleeps
    }
}

TEST(SntpQuery, FailsAtOnceForAnUnusableHost) {
    ASSERT_EQ(runtime::NetworkStartup(), 1); // no scripted server has started the sockets
    FakeClock clock;
    EXPECT_EQ(timelib::SntpQuery("255.255.255.255", 100), 0);
    EXPECT_EQ(clock.Waits(), 0);
}

TEST(RetrieveNTPTime, ReadsItsArgumentsTheLuaWayAndReturnsOneValue) {
    if (!ScriptedUdpServerUsable) {
        GTEST_SKIP() << "no scripted UDP server on 127.0.0.2 under wine";
    }
    ScriptedSntpServer server([](const Bytes& request) {
        return std::vector<SntpDatagram>{{SntpReplyTo(request, WorkedExampleNtp, 0)}};
    });
    ASSERT_TRUE(server.Ready());
    FakeZone zone(1, MakeZoneInfo(-60, 0, -60, u"W. Europe Standard Time"));
    LuaState lua;
    lua_State* L = lua.get();

    EXPECT_NE(lua.CallFunction(timelib::RetrieveNTPTime, [](lua_State*) {})
                  .find("bad argument #1 to '?' (string expected, got no value)"),
              std::string::npos);
    EXPECT_NE(lua.CallFunction(timelib::RetrieveNTPTime,
                               [](lua_State* S) {
                                   lua_pushstring(S, ScriptedServerAddress);
                                   lua_pushstring(S, "soon");
                               })
                  .find("bad argument #2 to '?' (number expected, got string)"),
              std::string::npos);
    EXPECT_EQ(server.Requests(), 0); // no network activity before the arguments are read

    FakeClock clock;
    ASSERT_EQ(lua.CallFunction(timelib::RetrieveNTPTime,
                               [](lua_State* S) {
                                   lua_pushstring(S, ScriptedServerAddress);
                                   lua_pushstring(S, "500"); // a numeric string is accepted
                               }),
              "");
    ASSERT_EQ(lua_gettop(L), 1);
    lua_getfield(L, 1, "unbiased");
    lua_getfield(L, 2, "hour");
    EXPECT_EQ(lua_tointeger(L, -1), 11);
    lua_getfield(L, 1, "biased");
    lua_getfield(L, 4, "hour");
    EXPECT_EQ(lua_tointeger(L, -1), 12);
    lua_getfield(L, 1, "timezoneName");
    EXPECT_STREQ(lua_tostring(L, -1), "W. Europe Standard Time");
    lua_settop(L, 0);

    // No answer within the default 130 ms: one nil.
    const std::int64_t waited_before = clock.WaitedMs();
    ASSERT_EQ(
        lua.CallFunction(timelib::RetrieveNTPTime,
                         [](lua_State* S) { lua_pushstring(S, test_support::NoServerAddress); }),
        "");
    ASSERT_EQ(lua_gettop(L), 1);
    EXPECT_TRUE(lua_isnil(L, 1));
    EXPECT_EQ(clock.WaitedMs() - waited_before, 132);
}

} // namespace

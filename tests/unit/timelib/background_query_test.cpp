// Rizi.Start's query objects let go of everything at once: Cancel, collection and the state's
// close each end the query's thread early and close its sockets, against a silent peer.
#include "platform/socket.h"
#include "tests/support/loopback_peer.h"
#include "timelib/background_query.h"
#include "timelib/lua_library.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

// Waits up to 2 s (the queries would take 10) for every background query to end.
bool AllEnded() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (timelib::RunningBackgroundQueries() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return timelib::RunningBackgroundQueries() == 0;
}

TEST(Start, CancelCollectionAndCloseEndTheQueryAndCloseItsSockets) {
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackUdpPeer silent;
    ASSERT_TRUE(silent.Ok());
    const std::string start =
        "q = Rizi.Start(Rizi.QueryNTPServers, {'127.0.0.1:" + std::to_string(silent.Port()) +
        "', '127.0.0.1:" + std::to_string(silent.Port() + 1) + "'}, 10000)";
    const struct {
        const char* what;
        const char* let_go; // null: close the state
    } cases[] = {
        {"Cancel", "q:Cancel()"},
        {"collection", "q = nil; collectgarbage(); collectgarbage()"},
        {"the state's close", nullptr},
    };
    for (const auto& c : cases) {
        const int before = test_support::CountOpenDescriptors();
        lua_State* L = luaL_newstate();
        luaL_openlibs(L);
        timelib::RegisterActions(L);
        ASSERT_EQ(luaL_dostring(L, start.c_str()), 0) << lua_tostring(L, -1);
        test_support::PeerBytes request;
        ASSERT_TRUE(silent.Receive(&request, 2000)) << c.what; // the query runs
        EXPECT_EQ(timelib::RunningBackgroundQueries(), 1) << c.what;
        if (c.let_go != nullptr)
            ASSERT_EQ(luaL_dostring(L, c.let_go), 0) << lua_tostring(L, -1);
        else
            lua_close(L);
        EXPECT_TRUE(AllEnded()) << c.what;
        if (c.let_go != nullptr)
            lua_close(L);
        if (before >= 0) {
            EXPECT_EQ(test_support::CountOpenDescriptors(), before) << c.what;
        }
    }
}

TEST(Start, AnEndedQueryHoldsNoDescriptorAndLuaCountsItsAnswer) {
    // The collector stopped: only the queries themselves can let go of their wake-ups, and
    // Lua's own count grows by each answer it keeps.
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    timelib::RegisterActions(L);
    ASSERT_EQ(luaL_dostring(L, "collectgarbage('stop')"), 0);
    const int before = test_support::CountOpenDescriptors();
    const int kb_before = lua_gc(L, LUA_GCCOUNT, 0);
    ASSERT_EQ(luaL_dostring(L, "for i = 1, 2000 do\n"
                               "  local q = Rizi.Start(Rizi.RetrieveTSTime, '127.0.0.9')\n"
                               "  assert(q:Wait() == nil)\n"
                               "end"),
              0)
        << lua_tostring(L, -1);
    // Ended queries nobody has looked at yet hold nothing either.
    ASSERT_EQ(luaL_dostring(L, "kept = {}\n"
                               "for i = 1, 10 do kept[i] = Rizi.Start(Rizi.RetrieveTSTime, "
                               "'127.0.0.9') end"),
              0);
    EXPECT_TRUE(AllEnded());
    if (before >= 0) {
        EXPECT_EQ(test_support::CountOpenDescriptors(), before);
    }
    // Each uncollected object holds its answer (with the server's text, a kilobyte) where Lua
    // counts it, so a running collector keeps pace with them.
    EXPECT_GT(lua_gc(L, LUA_GCCOUNT, 0) - kb_before, 1000);
    EXPECT_TRUE(AllEnded());
    lua_close(L);
}

TEST(Start, CancelEndsTheOriginalRetrievalsToo) {
    // Nothing answers SNTP on 127.0.0.254: the retrieval polls until its 10 s are up, or
    // until it sees the cancel at its next 1 ms poll.
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    timelib::RegisterActions(L);
    ASSERT_EQ(luaL_dostring(L, "q = Rizi.Start(Rizi.RetrieveNTPTime, '127.0.0.254', 10000)"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(timelib::RunningBackgroundQueries(), 1);
    ASSERT_EQ(luaL_dostring(L, "q:Cancel()"), 0);
    EXPECT_TRUE(AllEnded());
    lua_close(L);
}

} // namespace

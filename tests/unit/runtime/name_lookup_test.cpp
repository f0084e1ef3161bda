// Name lookups: numeric addresses read at once, names on threads whose end wakes the caller at
// once, each kind of lookup its own resolver, and a cancel that ends the wait.
#include "platform/socket.h"
#include "runtime/name_lookup.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

TEST(ResolveNames, EachLookupItsResolverAndTheCallerWokenAtOnce) {
    ASSERT_TRUE(platform::SocketStartup());
    const struct {
        const char* host;
        runtime::LookupKind kind;
        std::int32_t family; // of the first address; 0: none
    } cases[] = {
        {"127.0.0.2", runtime::LookupKind::Any, 4},
        {"::1", runtime::LookupKind::Any, 6},
        {"localhost", runtime::LookupKind::FirstIpv4, 4},
        {"no-such-host.invalid", runtime::LookupKind::Any, 0},
        {"no-such-host.invalid", runtime::LookupKind::FirstIpv4, 0},
    };
    // With a cancel that never comes, so that the names go to threads and the caller only
    // waits for them.
    const runtime::Cancellation never;
    constexpr int Count = sizeof cases / sizeof cases[0];
    runtime::NameLookup lookups[Count];
    for (int i = 0; i < Count; ++i)
        lookups[i] = runtime::NameLookup{cases[i].host, 123, cases[i].kind, {}, -5};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(runtime::ResolveNames(lookups, Count, &never));
    // Local names resolve in milliseconds; a caller left to its own polling would wait a second.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    for (int i = 0; i < Count; ++i) {
        EXPECT_EQ(lookups[i].count > 0 ? lookups[i].addresses[0].family : 0, cases[i].family)
            << cases[i].host;
        if (lookups[i].count > 0) {
            EXPECT_EQ(lookups[i].addresses[0].port, 123) << cases[i].host;
        }
    }
    EXPECT_EQ(lookups[2].count, 1); // the first IPv4 address alone
}

TEST(ResolveNames, ACancelEndsTheWaitAtOnce) {
    runtime::Cancellation cancel;
    cancel.Request();
    runtime::NameLookup lookup{"localhost", 123, runtime::LookupKind::Any, {}, 0};
    EXPECT_FALSE(runtime::ResolveNames(&lookup, 1, &cancel));
    EXPECT_EQ(lookup.count, 0);
}

} // namespace
